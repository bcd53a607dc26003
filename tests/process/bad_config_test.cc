// Launch configurations that cannot be used: every one gives the persona
// defaults (no hygiene, the default switch list), quietly, without a crash or
// a hang; and the user data directory's file wins even when it is broken.
#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>

#include "launcher_fixture.h"

namespace quillon::test {
namespace {

namespace fs = std::filesystem;

constexpr size_t kEightMiB = 8 * 1024 * 1024;

// A valid configuration of exactly `size` bytes that sets a start page.
std::string paddedConfig(size_t size) {
  std::string head = R"({"start-page":"https://applied.test/","pad":")";
  std::string tail = "\"}";
  return head + std::string(size - head.size() - tail.size(), 'x') + tail;
}

std::string repeat(const std::string& unit, size_t count) {
  std::string out;
  out.reserve(unit.size() * count);
  for (size_t i = 0; i < count; ++i) out += unit;
  return out;
}

class BadConfigTest : public LauncherProcessTest {
 protected:
  void SetUp() override {
    LauncherProcessTest::SetUp();
    profile_ = path("profile");
    config_ = profile_ + "/command-line.json";
    fs::create_directories(profile_);
  }

  // Launches with the profile and checks that the persona was not applied:
  // the default switch list, and the previous tabs still there.
  void expectDefaults(const std::string& what) {
    SCOPED_TRACE(what);
    writeFile(profile_ + "/Default/Current Tabs", "tabs");
    fs::remove(record_);
    Launch run = launch({"--user-data-dir=" + profile_});
    EXPECT_FALSE(run.process.timedOut) << "the launcher hung";
    EXPECT_EQ(run.process.termSignal, 0) << "the launcher crashed";
    EXPECT_EQ(run.process.exitStatus, 0);
    EXPECT_EQ(run.process.out, "");
    EXPECT_EQ(run.process.err, "");
    ASSERT_TRUE(run.engine) << "the engine did not start";
    EXPECT_EQ(run.engine->argv,
              expectedEngineArgv(engine_, {"--user-data-dir=" + profile_}, defaultExtraSwitches()));
    EXPECT_EQ(readFile(profile_ + "/Default/Current Tabs"), "tabs");
    EXPECT_TRUE(isPassthroughReport(readFile(profile_ + "/.quillon-launcher-result.json")));
  }

  void expectApplied(const std::string& what) {
    SCOPED_TRACE(what);
    writeFile(profile_ + "/Default/Current Tabs", "tabs");
    fs::remove(record_);
    Launch run = launch({"--user-data-dir=" + profile_});
    EXPECT_EQ(run.process.exitStatus, 0);
    EXPECT_EQ(run.process.err, "");
    ASSERT_TRUE(run.engine) << "the engine did not start";
    EXPECT_EQ(run.engine->argv, expectedEngineArgv(engine_, {"--user-data-dir=" + profile_},
                                                   defaultExtraSwitches("https://applied.test/")));
    EXPECT_FALSE(exists(profile_ + "/Default/Current Tabs"));
  }

  std::string profile_;
  std::string config_;
};

TEST_F(BadConfigTest, MalformedOrWrongShapedJsonGivesDefaults) {
  const std::string cases[] = {
      R"({"start-page":"https://applied.test/")",
      R"({"start-page":"https://applied.test/"} trailing)",
      R"({"start-page":"https://applied.test/",})",
      "// comment\n{\"start-page\":\"https://applied.test/\"}",
      R"({'start-page':'https://applied.test/'})",
      "",
      " \n\t ",
      R"([{"start-page":"https://applied.test/"}])",
      R"("https://applied.test/")",
      "null",
      "42",
      std::string(R"({"start-page":"https://applied.test/"})") + '\0',
      std::string(R"({"start-page":"https://applied.test/"})") + '\0' + "garbage",
  };
  for (const std::string& config : cases) {
    writeFile(config_, config);
    expectDefaults("config: " + config);
  }
}

TEST_F(BadConfigTest, NonUtf8ConfigurationGivesDefaults) {
  const std::string cases[] = {
      "{\"start-page\":\"https://applied.test/\xff\"}",
      "{\"start-page\":\"https://applied.test/\",\"pad\":\"\xc3\x28\"}",
      "{\"start-page\":\"https://applied.test/\",\"\xed\xa0\x80\":1}",
      std::string("\xff\xfe{\0\"\0}\0", 8),
  };
  for (const std::string& config : cases) {
    writeFile(config_, config);
    expectDefaults("non-UTF-8 config");
  }
}

TEST_F(BadConfigTest, ConfigurationOfAtMostEightMiBIsReadAndALargerOneIsNot) {
  writeFile(config_, paddedConfig(kEightMiB));
  expectApplied("exactly 8 MiB");
  writeFile(config_, paddedConfig(kEightMiB + 1));
  expectDefaults("8 MiB and one byte");
  writeFile(config_, paddedConfig(64 * 1024 * 1024));
  expectDefaults("64 MiB");
}

TEST_F(BadConfigTest, DeeplyNestedJsonGivesDefaultsWithoutACrash) {
  const size_t depth = 1000000;
  writeFile(config_, repeat("[", depth) + repeat("]", depth));
  expectDefaults("a million nested arrays");
  writeFile(config_, repeat("{\"a\":", depth) + "1" + repeat("}", depth));
  expectDefaults("a million nested objects");
  writeFile(config_, repeat("[", depth));
  expectDefaults("a million unclosed brackets");
  writeFile(config_, R"({"start-page":"https://applied.test/","deep":)" + repeat("[", depth) +
                         repeat("]", depth) + "}");
  expectDefaults("keys beside a million nested arrays");
}

TEST_F(BadConfigTest, ConfigurationThatIsNotARegularFileGivesDefaultsWithoutHanging) {
  // A per-user configuration that would apply if it were consulted.
  writeFile(userConfig(), R"({"start-page":"https://applied.test/"})");

  ASSERT_EQ(mkfifo(config_.c_str(), 0644), 0);
  expectDefaults("a FIFO nobody writes to");
  fs::remove(config_);

  fs::create_directories(config_ + "/inside");
  expectDefaults("a directory");
  fs::remove_all(config_);

  fs::create_symlink("/dev/zero", config_);
  expectDefaults("a link to an endless device");
  fs::remove(config_);

  fs::create_symlink(path("nowhere"), config_);
  expectApplied("a dangling link: the per-user file is used");
}

TEST_F(BadConfigTest, UserDataDirectoryFileWinsOverThePerUserOneEvenWhenBroken) {
  writeFile(userConfig(), R"({"start-page":"https://applied.test/"})");
  expectApplied("no file in the user data directory");
  writeFile(config_, R"({"start-page": )");
  expectDefaults("a broken file in the user data directory");
  writeFile(config_, "{}");
  expectDefaults("an empty object in the user data directory");
}

TEST_F(BadConfigTest, BrokenPerUserConfigurationGivesDefaults) {
  writeFile(userConfig(), R"({"start-page":"https://applied.test/",)");
  expectDefaults("broken per-user file");
  fs::remove(userConfig());
  fs::create_directories(userConfig());
  expectDefaults("per-user directory");
}

}  // namespace
}  // namespace quillon::test
