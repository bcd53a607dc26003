// The platform layer: home directory lookup and atomic file replacement.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/paths.h"
#include "support/test_files.h"

namespace quillon {
namespace {

using test::readFile;
using test::writeFile;

TEST(HomeDirectory, EnvironmentThenPasswordFile) {
  const char* saved = getenv("HOME");
  std::string savedHome = saved ? saved : "";
  setenv("HOME", "/some/home", 1);
  EXPECT_EQ(homeDirectory(), "/some/home");

  const passwd* entry = getpwuid(getuid());
  ASSERT_NE(entry, nullptr);
  setenv("HOME", "", 1);
  EXPECT_EQ(homeDirectory(), entry->pw_dir);
  unsetenv("HOME");
  EXPECT_EQ(homeDirectory(), entry->pw_dir);
  if (saved) setenv("HOME", savedHome.c_str(), 1);
}

class ReplaceWithFile : public ::testing::Test {
 protected:
  test::TempDir dir;
  std::string source = dir / "new";
  std::string destination = dir / "report";
};

TEST_F(ReplaceWithFile, ReplacesOldFileOrCreates) {
  writeFile(source, "one");
  ASSERT_TRUE(replaceWithFile(source, destination));
  EXPECT_EQ(readFile(destination), "one");
  EXPECT_FALSE(test::exists(source));

  writeFile(source, "two");
  ASSERT_TRUE(replaceWithFile(source, destination));
  EXPECT_EQ(readFile(destination), "two");
  EXPECT_FALSE(test::exists(source)) << "the old file does not linger under the source name";
}

TEST_F(ReplaceWithFile, LeavesADirectoryAtTheDestinationAlone) {
  writeFile(destination + "/inside", "kept");
  writeFile(source, "new");
  EXPECT_FALSE(replaceWithFile(source, destination));
  EXPECT_EQ(readFile(destination + "/inside"), "kept");
  EXPECT_EQ(readFile(source), "new");
}

TEST_F(ReplaceWithFile, ReplacesALinkNotItsTarget) {
  writeFile(dir / "target", "target");
  ASSERT_EQ(symlink((dir / "target").c_str(), destination.c_str()), 0);
  writeFile(source, "new");
  ASSERT_TRUE(replaceWithFile(source, destination));
  EXPECT_EQ(readFile(dir / "target"), "target");
  EXPECT_EQ(readFile(destination), "new");
  EXPECT_FALSE(test::exists(source));
}

}  // namespace
}  // namespace quillon
