// The persona in the forms a stock Chromium honours, the engine kind, the
// refused proxies, and the engine environment with its overrides.
#include <gtest/gtest.h>

#include "engine/chromium_persona.h"
#include "engine/spawn.h"

namespace quillon {
namespace {

TEST(EngineKind, Names) {
  using Name = std::optional<std::string>;
  const std::pair<Name, EngineKind> cases[] = {
      {std::nullopt, EngineKind::quillon}, {"", EngineKind::quillon},
      {"quillon", EngineKind::quillon},    {"chromium", EngineKind::chromium},
      {"Chromium", EngineKind::unknown},   {"chrome", EngineKind::unknown},
  };
  for (const auto& [name, kind] : cases) EXPECT_EQ(engineKindFromName(name), kind) << *name;
}

TEST(ChromiumForms, LanguageListsAndGettextLanguages) {
  const std::pair<const char*, const char*> lists[] = {
      {"fr-FR,fr;q=0.9", "fr-FR,fr"},
      {"de-DE,de;q=0.9,en;q=0.8", "de-DE,de,en"},
      {" en-US , ;q=1,,ja ;q=0.5", "en-US,ja"},
      {"", ""},
  };
  for (const auto& [given, plain] : lists) EXPECT_EQ(plainLanguageList(given), plain) << given;
  const std::pair<const char*, const char*> tags[] = {
      {"fr-FR", "fr_FR:fr"},   {"de", "de"}, {"pt_br", "pt_BR:pt"}, {"zh-Hant-TW", "zh_TW:zh"},
      {"es-419", "es_419:es"}, {"*", ""},
  };
  for (const auto& [tag, gettext] : tags) EXPECT_EQ(gettextLanguage(tag), gettext) << tag;
}

TEST(ChromiumPersona, StatedValuesWinOverResolvedOnes) {
  ResolvedPersona resolved;
  resolved.lang = "ja-JP";
  resolved.acceptLang = "ja-JP,ja;q=0.9";
  resolved.tz = "Asia/Tokyo";
  OverlayKeys o;
  o.proxyServer = "socks5://127.0.0.1:1080";
  ChromiumPersona fromDiscovery = chromiumPersona(o, resolved);
  EXPECT_EQ(fromDiscovery.switches,
            (SwitchList{"--proxy-server=socks5://127.0.0.1:1080", "--accept-lang=ja-JP,ja"}));
  EXPECT_EQ(fromDiscovery.environment,
            (std::vector<std::string>{"TZ=Asia/Tokyo", "LANGUAGE=ja_JP:ja"}));

  o.webrtcNoLeak = true;
  o.langSet = o.acceptLanguageSet = o.timezoneOverrideSet = true;
  o.lang = "fr-FR";
  o.acceptLanguage = "fr-FR,fr;q=0.9";
  o.timezoneOverride = "Europe/Paris";
  ChromiumPersona stated = chromiumPersona(o, resolved);
  EXPECT_EQ(stated.switches,
            (SwitchList{"--proxy-server=socks5://127.0.0.1:1080", "--accept-lang=fr-FR,fr",
                        "--webrtc-ip-handling-policy=disable_non_proxied_udp"}));
  EXPECT_EQ(stated.environment, (std::vector<std::string>{"TZ=Europe/Paris", "LANGUAGE=fr_FR:fr"}));

  // Stated but not text: no value, and no resolved one either. Without a
  // language, the first Accept-Language tag gives LANGUAGE.
  o = OverlayKeys{};
  o.timezoneOverrideSet = o.langSet = true;
  o.acceptLanguage = "it-IT,it;q=0.9";
  o.acceptLanguageSet = true;
  resolved.lang.clear();
  ChromiumPersona partial = chromiumPersona(o, resolved);
  EXPECT_EQ(partial.switches, SwitchList{"--accept-lang=it-IT,it"});
  EXPECT_EQ(partial.environment, std::vector<std::string>{"LANGUAGE=it_IT:it"});
  EXPECT_TRUE(chromiumPersona(OverlayKeys{}, ResolvedPersona{}).switches.empty());
}

TEST(ChromiumPersona, ProxyCredentialsNeverReachChromium) {
  // proxy, what Chromium gets, refused
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"socks5://user:s3cret@h:1080", "socks5://h:1080", true},
      {"SOCKS5h://user:p/w@d@h:1080", "socks5://h:1080", true},
      {"socks4://user@h:1080", "socks4://h:1080", true},
      {"socks5h://h:1080", "socks5://h:1080", false},
      {"http://user:s3cret@h:3128", "http://h:3128", false},
      {"h:3128", "h:3128", false},
  };
  for (const auto& [proxy, chromium, refused] : cases) {
    SCOPED_TRACE(proxy);
    OverlayKeys o;
    o.proxyServer = proxy;
    EXPECT_EQ(chromiumPersona(o, {}).switches,
              SwitchList{std::string("--proxy-server=") + chromium});
    std::optional<std::string> refusal = chromiumRefusal(o);
    EXPECT_EQ(refusal.has_value(), refused);
    if (refusal) {
      EXPECT_NE(refusal->find(chromium), std::string::npos) << *refusal;
      EXPECT_EQ(refusal->find("user"), std::string::npos) << *refusal;
      EXPECT_EQ(refusal->find('\n'), std::string::npos);
    }
  }
}

TEST(EngineEnvironment, OverridesReplaceEntriesOfTheSameName) {
  EXPECT_EQ(engineEnvironment({"TZ=UTC", "TZX=1", "A=b", "TZ=again", "LANGUAGE=en"},
                              {"TZ=Asia/Tokyo", "LANGUAGE=fr_FR:fr", "bad"}),
            (std::vector<std::string>{"TZX=1", "A=b", "TZ=Asia/Tokyo", "LANGUAGE=fr_FR:fr"}));
}

}  // namespace
}  // namespace quillon
