// WebGL profiles: locating the file and turning a profile into switches.
#include <gtest/gtest.h>

#include "engine/webgl_profile.h"
#include "support/test_files.h"

namespace quillon {
namespace {

using test::TempDir;
using test::writeFile;

class WebglProfile : public ::testing::Test {
 protected:
  std::vector<std::string> switchesFor(const std::string& name, const std::string& fileText) {
    writeFile(file, fileText);
    return webglProfileSwitches(name, file);
  }
  TempDir dir;
  std::string file = dir / "quillon-webgl-profiles.json";
};

TEST_F(WebglProfile, MembersBecomeSwitchesInFileOrder) {
  const char* text = R"({"profiles":{"p":{
      "z-vendor":"Acme / Inc",
      "_comment":"ignored",
      "_n":5,
      "max":4, "ratio":0.5, "big":8.0, "neg":-3,
      "on":true, "off":false,
      "list":["a","b"], "obj":{"k":"a/b","n":1},
      "empty":"", "null":null, "emptyList":[]
  }}})";
  EXPECT_EQ(switchesFor("p", text),
            (std::vector<std::string>{"--z-vendor=Acme / Inc", "--max=4", "--ratio=0.5", "--big=8",
                                      "--neg=-3", "--on=1", "--off=0", R"(--list=["a","b"])",
                                      R"(--obj={"k":"a\/b","n":1})", "--emptyList=[]"}));
}

TEST_F(WebglProfile, AnythingOffGivesNoSwitches) {
  const char* good = R"({"profiles":{"Mac":{"webgl-vendor":"V"}}})";
  EXPECT_TRUE(switchesFor("mac", good).empty()) << "names match case-sensitively";
  EXPECT_TRUE(switchesFor("Other", good).empty());
  EXPECT_TRUE(switchesFor("", good).empty());
  EXPECT_TRUE(switchesFor("Mac", R"([{"profiles":{"Mac":{"a":"b"}}}])").empty());
  EXPECT_TRUE(switchesFor("Mac", R"({"profiles":[{"Mac":{"a":"b"}}]})").empty());
  EXPECT_TRUE(switchesFor("Mac", R"({"profiles":{"Mac":"a=b"}})").empty());
  EXPECT_TRUE(switchesFor("Mac", R"({"profiles":{"Mac":{"a":"b"})").empty());
  EXPECT_TRUE(webglProfileSwitches("Mac", std::nullopt).empty());
  EXPECT_TRUE(webglProfileSwitches("Mac", dir / "missing.json").empty());
}

TEST(LocateWebglProfiles, InstalledFileThenBesideTheProgram) {
  TempDir root;
  std::string bin = root / "bin";
  writeFile(root / "bin/quillon-launcher", "");
  EXPECT_EQ(locateWebglProfiles(bin, root / "bin/quillon-launcher"), std::nullopt);

  writeFile(root / "bin/quillon-webgl-profiles.json", "{}");
  EXPECT_EQ(locateWebglProfiles(bin, root / "bin/quillon-launcher"),
            root / "bin/quillon-webgl-profiles.json");

  writeFile(root / "share/quillon/quillon-webgl-profiles.json", "{}");
  EXPECT_EQ(locateWebglProfiles(bin, root / "bin/quillon-launcher"),
            bin + "/../share/quillon/quillon-webgl-profiles.json");
}

TEST(ShippedProfiles, EveryProfileYieldsVendorAndRenderer) {
  std::optional<Json> file = readJsonObjectFile(QUILLON_SHIPPED_PROFILES);
  ASSERT_TRUE(file.has_value());
  ASSERT_FALSE((*file)["profiles"].empty());
  for (const auto& [name, profile] : (*file)["profiles"].items()) {
    std::vector<std::string> switches = webglProfileSwitches(name, QUILLON_SHIPPED_PROFILES);
    ASSERT_GE(switches.size(), 2u) << name;
    EXPECT_TRUE(switches[0].starts_with("--webgl-vendor=")) << name;
    EXPECT_TRUE(switches[1].starts_with("--webgl-renderer=ANGLE (")) << name;
  }
}

}  // namespace
}  // namespace quillon
