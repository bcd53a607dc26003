// Launch configurations that cannot be used: every one gives the persona
// defaults (no hygiene, the default switch list), quietly, without a crash or
// a hang, even where the per-user file would apply.
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "launcher_fixture.h"

namespace quillon::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kApplied = R"({"start-page":"https://applied.test/"})";

// A valid configuration of exactly `size` bytes that sets the start page.
std::string paddedConfig(size_t size) {
  std::string head = R"({"start-page":"https://applied.test/","pad":")";
  return head + std::string(size - head.size() - 2, 'x') + "\"}";
}

std::string repeat(const std::string& unit, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += unit;
  return out;
}

using BadConfigTest = LauncherProcessTest;

TEST_F(BadConfigTest, UnusableFileInTheUserDataDirectoryGivesDefaults) {
  std::string profile = path("profile");
  std::string config = profile + "/command-line.json";
  auto bytes = [&config](std::string content) {
    return [&config, content] { writeFile(config, content); };
  };
  const size_t kMiB = 1024 * 1024, kDeep = 1000000;
  struct Case {
    const char* name;
    std::function<void()> make;
    bool applied;  // the start page is set
  };
  const Case cases[] = {
      {"well-formed (control)", bytes(kApplied), true},
      {"exactly 8 MiB", bytes(paddedConfig(8 * kMiB)), true},
      {"a dangling link: the per-user file counts",
       [&] { fs::create_symlink(path("nowhere"), config); }, true},
      {"unclosed", bytes(R"({"start-page":"https://applied.test/")"), false},
      {"trailing text", bytes(std::string(kApplied) + " trailing"), false},
      {"empty", bytes(""), false},
      {"an array", bytes(std::string("[") + kApplied + "]"), false},
      {"NUL after the object", bytes(std::string(kApplied) + '\0'), false},
      {"not UTF-8", bytes("{\"start-page\":\"https://applied.test/\xff\"}"), false},
      {"8 MiB and one byte", bytes(paddedConfig(8 * kMiB + 1)), false},
      {"a million nested arrays", bytes(repeat("[", kDeep) + repeat("]", kDeep)), false},
      {"keys beside a million nested objects",
       bytes(R"({"start-page":"https://applied.test/","d":)" + repeat("{\"a\":", kDeep) + "1" +
             repeat("}", kDeep + 1)),
       false},
      {"a FIFO nobody writes to", [&] { mkfifo(config.c_str(), 0644); }, false},
      {"a directory", [&] { fs::create_directories(config + "/inside"); }, false},
      {"a link to an endless device", [&] { fs::create_symlink("/dev/zero", config); }, false},
  };
  writeFile(userConfig(), kApplied);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(profile);
    writeFile(profile + "/Default/Current Tabs", "tabs");
    c.make();
    Launch run = launch({"--user-data-dir=" + profile});
    EXPECT_FALSE(run.process.timedOut) << "the launcher hung";
    ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(run));
    std::string startPage = c.applied ? "https://applied.test/" : "chrome://version";
    EXPECT_EQ(run.engine->argv, expectedEngineArgv(engine_, {"--user-data-dir=" + profile},
                                                   defaultExtraSwitches(startPage)));
    EXPECT_EQ(exists(profile + "/Default/Current Tabs"), !c.applied);
  }
}

}  // namespace
}  // namespace quillon::test
