// The launch decision, the extra switches, WebGL profiles, the Chromium forms of the persona
// and the engine's environment, the persona agent's session, and profile hygiene.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "agent/devtools_session.h"
#include "config/launch_config.h"
#include "engine/chromium_persona.h"
#include "engine/hygiene.h"
#include "engine/profile_preferences.h"
#include "engine/spawn.h"
#include "engine/switches.h"
#include "engine/webgl_profile.h"
#include "launcher/direct_launch.h"
#include "launcher/engine_agent.h"
#include "launcher/launch_decision.h"
#include "launcher/launch_road.h"
#include "support/test_files.h"

namespace quillon {
namespace {

using Args = std::vector<std::string>;
constexpr uint64_t kGiB = 1024ull * 1024 * 1024;

OverlayKeys overlayOf(const std::string& members) {
  return overlayFromConfig(*parseJson("{" + members + "}"));
}

// The SingletonLock target of an engine with this process id on this host.
std::string lockOf(long pid) {
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  return host + ("-" + std::to_string(pid));
}

// Each automatic value needs discovery through socks5:// until all of it is stated.
TEST(LaunchDecision, AutomaticValuesNotStatedThroughSocks5) {
  const char* const cases[][2] = {{R"("auto-geo":1,"geo-lat":1)", R"("geo-lng":1)"},
                                  {R"("auto-lang":1,"lang":1)", R"("accept-language":1)"},
                                  {R"("webrtc-no-leak":1)", R"("webrtc-fake-public-ip":1)"},
                                  {R"("auto-timezone":1)", R"("timezone-override":1)"}};
  auto discovers = [](const std::string& members, const char* proxy) {
    return takesDiscoveryPath(overlayOf(members + R"(,"proxy-server":")" + proxy + "\""));
  };
  for (const auto& [asks, states] : cases) {
    EXPECT_TRUE(discovers(asks, "socks5://h:1")) << asks;
    EXPECT_FALSE(discovers(asks + std::string(",") + states, "socks5://h:1")) << asks;
    EXPECT_FALSE(discovers(asks, "socks5h://h:1") || discovers(asks, "SOCKS5://h:1")) << asks;
  }
}

TEST(Switches, DeviceBucketsAtEveryEdgeGeoAccuracyWithBothCoordinates) {
  const std::pair<uint64_t, const char*> edges[] = {
      {24 * kGiB, "32"},   {24 * kGiB - 1, "16"},  {12 * kGiB, "16"}, {12 * kGiB - 1, "8"},
      {6 * kGiB, "8"},     {6 * kGiB - 1, "4"},    {3 * kGiB, "4"},   {3 * kGiB - 1, "2"},
      {kGiB * 3 / 2, "2"}, {kGiB * 3 / 2 - 1, "1"}};
  for (const auto& [bytes, bucket] : edges) EXPECT_EQ(deviceMemoryGB(bytes), bucket) << bytes;
  EXPECT_EQ(deviceMemoryGB(0), std::nullopt);

  ResolvedPersona r{"203.0.113.7", "48.85", "", "fr-FR", "fr-FR,fr;q=0.9", "Europe/Paris"};
  EXPECT_EQ(discoverySwitchList({}, r, {}, {}).at(5), "--speech-voices-preset=stock-chrome-mac");
  r.geoLng = "2.35";
  EXPECT_EQ(discoverySwitchList({}, r, {}, {}).at(6), "--geo-accuracy=100");
  EXPECT_EQ(discoverySwitchList({}, r, {}, {0, 1}).at(7), "--hardware-concurrency=1");
  // WebRTC's policy goes with webrtc-no-leak, also when the persona states the IP itself.
  OverlayKeys noLeak = overlayOf(R"("webrtc-no-leak":-1,"webrtc-fake-public-ip":"a")");
  EXPECT_EQ(discoverySwitchList(noLeak, {}, {}, {})[0],
            "--force-webrtc-ip-handling-policy=default");
}

// A page among the arguments, as Chromium reads them, leaves the start page out on the driving
// road (chosen by the program's name) and before a stock Chromium; the product's engine on the
// launcher's road keeps it.
TEST(Switches, PageAmongTheArgumentsOnTheDrivingRoadAndBeforeStockChromium) {
  // clang-format off
  const std::pair<Args, bool> cases[] = {
      {{}, false}, {{"--user-data-dir=/p", "-x", "--remote-debugging-pipe"}, false},
      {{"--a", "about:blank"}, true}, {{" --headless \t"}, false}, {{"-"}, true}, {{""}, true},
      {{"--"}, false}, {{"--", "--x"}, true}, {{" -- ", "-x"}, true}};
  // clang-format on
  for (const auto& [args, page] : cases) {
    EXPECT_EQ(argumentsNamePage(args), page) << ::testing::PrintToString(args);
    EXPECT_EQ(leavesOutStartPage(LaunchRoad::driven, EngineKind::quillon, args), page);
    EXPECT_EQ(leavesOutStartPage(LaunchRoad::launcher, EngineKind::chromium, args), page);
    EXPECT_FALSE(leavesOutStartPage(LaunchRoad::launcher, EngineKind::quillon, args));
  }
  for (const char* driven : {"/usr/bin/quillon-browser", "quillon-browser"})
    EXPECT_EQ(launchRoadFor(driven), LaunchRoad::driven) << driven;
  for (const char* other :
       {"", "/opt/quillon-browser/x", "quillon-browser2", "/usr/bin/quillon-browser/"})
    EXPECT_EQ(launchRoadFor(other), LaunchRoad::launcher) << other;
}

TEST(WebglProfile, MembersInFileOrderNumbersInPlainDecimal) {
  test::TempDir dir;
  std::string file = dir / "p.json";
  test::writeFile(file, R"({"profiles":{"p":{"z":"Acme / Inc","_c":1,"max":4,"big":8.0,"e":1e15,
    "on":true,"off":false,"obj":{"k":"a/b","n":[1.0,2.5,1e21,true,null]},"empty":"","null":null},
    "q":"a=b"}})");
  EXPECT_EQ(
      webglProfileSwitches("p", file),
      (Args{"--z=Acme / Inc", "--max=4", "--big=8", "--e=1000000000000000", "--on=1", "--off=0",
            R"(--obj={"k":"a\/b","n":[1,2.5,1000000000000000000000,true,null]})"}));
  for (const char* name : {"P", "q", ""}) EXPECT_TRUE(webglProfileSwitches(name, file).empty());
}

TEST(ChromiumPersona, FormsStockChromiumHonours) {
  const std::pair<const char*, const char*> forms[] = {{"de-DE,de;q=0.9,en;q=0.8", "de-DE,de,en"},
                                                       {" en-US , ;q=1,,ja ;q=0.5", "en-US,ja"}};
  for (const auto& [given, plain] : forms) EXPECT_EQ(plainLanguageList(given), plain);
  const std::pair<const char*, const char*> tags[] = {
      {"fr-FR", "fr_FR:fr"},   {"de", "de"}, {"pt_br", "pt_BR:pt"}, {"zh-Hant-TW", "zh_TW:zh"},
      {"es-419", "es_419:es"}, {"*", ""}};
  for (const auto& [tag, gettext] : tags) EXPECT_EQ(gettextLanguage(tag), gettext) << tag;
  // clang-format off
  enum Refused { no, both, chromium };  // both: no one proxy host; chromium: no relay for its login
  const std::tuple<const char*, const char*, Refused> proxies[] = {  // proxy, Chromium's if other
      {"socks5://user:s3cret@h:1080", "socks5://h:1080", no}, {"socks5://h?q", "socks5://h", no},
      {"socks4://user@h:1080", "socks4://h:1080", chromium},
      {"SOCKS5h://user:p/w@d@h:1080", "socks5://h:1080", no},
      {"http://[::1]:3128/p?q#f", "http://[::1]:3128", no},
      {"h:3128", "", no}, {"socks5://10.77.0.99:1080", "", no}, {"http://a-1.Example.:8", "", no},
      {"socks5://h:65535", "", no}, {"socks5://:1080", "", both}, {"socks5://h:0", "", both},
      {"http://h:65536", "", both}, {"http://[::1", "", both}, {"http://[::1]3128", "", both},
      {"h:3128x", "", both}, {"socks5://[fe80::1%25lo]:1", "", both}, {"socks5:// h:1", "", both},
      // Chromium's own rule syntax, which it reads as rules and then browses directly
      {"socks5://a=b:1080", "", both}, {"socks5://h:1,direct://", "socks5://h:1,direct:", both},
      {"ftp://h:21", "", both}, {"socks5://h_1:1", "", both}, {"socks5://10.77.0.999:1", "", both},
      {"socks5://a.0x7f:1", "", both}};
  // clang-format on
  for (const auto& [proxy, chromium, refused] : proxies) {
    LaunchInputs in;
    in.overlay.proxyServer = proxy;
    EXPECT_EQ(chromiumPersona(in.overlay, {}).switches,
              Args{std::string("--proxy-server=") + (*chromium ? chromium : proxy)});
    EXPECT_EQ(launchRefusal(in).has_value(), refused == both) << proxy;
    in.engineKind = EngineKind::chromium;
    EXPECT_EQ(launchRefusal(in).has_value(), refused != no) << proxy;
  }
  // Stated values win over resolved ones, even when not text (no value then);
  // LANGUAGE then comes from Accept-Language.
  ChromiumPersona p =
      chromiumPersona(overlayOf(R"("webrtc-no-leak":1,"lang":1,"timezone-override":null,)"
                                R"("accept-language":"it-IT,it;q=0.9")"),
                      {"", "", "", "ja-JP", "ja-JP,ja;q=0.9", "Asia/Tokyo"});
  EXPECT_EQ(p.switches, (Args{"--accept-lang=it-IT,it",
                              "--webrtc-ip-handling-policy=disable_non_proxied_udp"}));
  EXPECT_EQ(p.environment, Args{"LANGUAGE=it_IT:it"});
  // Such variables replace the user's of the same name.
  EXPECT_EQ(engineEnvironment({"TZ=UTC", "TZX=1", "A=b", "TZ=again", "LANGUAGE=en"},
                              {"TZ=Asia/Tokyo", "LANGUAGE=fr_FR:fr", "bad"}),
            (Args{"TZX=1", "A=b", "TZ=Asia/Tokyo", "LANGUAGE=fr_FR:fr"}));
}

// What only the agent carries: stated coordinates win over resolved ones, both or none; a stated
// processor count above zero; the language as the locale. Geolocation stays blocked for every
// site when the persona asks for it and has no coordinates, and only then.
TEST(ChromiumPersona, AgentCarriesCoordinatesProcessorsAndLocale) {
  const ResolvedPersona berlin{"", "52.5", "13.4", "de-DE", "", ""};
  // clang-format off
  const std::tuple<const char*, bool, Args, bool> cases[] = {  // persona, resolved, agent, blocked
      {R"("geo-lat":48.85,"geo-lng":"2.35","hardware-concurrency":4)", true,
       {"--latitude=48.85", "--longitude=2.35", "--hardware-concurrency=4", "--locale=de-DE"}, false},
      {R"("auto-geo":1)", true, {"--latitude=52.5", "--longitude=13.4", "--locale=de-DE"}, false},
      {R"("auto-geo":1)", false, {}, true},
      {R"("geo-lat":1,"hardware-concurrency":0)", true, {"--locale=de-DE"}, true},
      {R"("geo-lat":"x","geo-lng":2,"lang":"fr-FR","hardware-concurrency":"2.5")", false, {"--locale=fr-FR"}, true},
      {R"("hardware-concurrency":"12")", false, {"--hardware-concurrency=12"}, false}};
  // clang-format on
  for (const auto& [persona, resolved, agent, blocked] : cases) {
    ChromiumPersona p = chromiumPersona(overlayOf(persona), resolved ? berlin : ResolvedPersona{});
    EXPECT_EQ(agentArguments(p.agent), agent) << persona;
    EXPECT_EQ(p.settings.back().value.has_value(), blocked) << persona;
    EXPECT_EQ(agentArguments(agentValuesFromArguments(agent).value()), agent) << persona;
    // Only a stock Chromium on the launcher's road: a driving script brings its own DevTools.
    LaunchInputs in;
    in.engineKind = EngineKind::chromium;
    EXPECT_EQ(launchUsesAgent(in, p.agent), !agent.empty()) << persona;
    in.road = LaunchRoad::driven;
    EXPECT_FALSE(launchUsesAgent(in, p.agent)) << persona;
    in = {};
    EXPECT_FALSE(launchUsesAgent(in, p.agent)) << persona;
  }
  for (Args refused : {Args{"--latitude=1"}, Args{"--hardware-concurrency=0"}, Args{"--locale="},
                       Args{"--longitude=1", "--latitude=y"}, Args{"--x=1"}, Args{"-"},
                       Args{"--latitude=nan", "--longitude=1"}})
    EXPECT_EQ(agentValuesFromArguments(refused), std::nullopt) << refused[0];
}

// The engine honours only the last --disable-blink-features: the pipe's comes last and carries
// the features of the arguments' last one, with AutomationControlled once.
TEST(ChromiumPersona, DevtoolsPipeKeepsTheUsersBlinkFeatures) {
  const std::string flag = "--disable-blink-features=";
  const std::pair<Args, std::string> cases[] = {
      {{}, "AutomationControlled"},
      {{flag + "A", "--x", flag + "B,C"}, "B,C,AutomationControlled"},
      {{flag + "X,AutomationControlled"}, "X,AutomationControlled"}};
  for (const auto& [args, features] : cases)
    EXPECT_EQ(devtoolsPipeSwitches(args), (Args{"--remote-debugging-pipe", flag + features}));
}

// What Chromium sends the agent: a target attached (with its info's members), one detached, and
// the answer to a command.
std::string attachedMessage(const std::string& sessionId, const std::string& info) {
  return R"({"method":"Target.attachedToTarget","params":{"sessionId":")" + sessionId +
         R"(","targetInfo":{)" + info + R"(},"waitingForDebugger":true}})";
}
std::string detachedMessage(const std::string& sessionId) {
  return R"({"method":"Target.detachedFromTarget","params":{"sessionId":")" + sessionId + "\"}}";
}
std::string answerTo(long id, const std::string& sessionId, const char* outcome = "\"result\":{}") {
  return "{\"id\":" + std::to_string(id) + "," + outcome + ",\"sessionId\":\"" + sessionId + "\"}";
}

// Each attached target: the attach that pauses what it starts and the overrides it takes, on its
// own session, no domain enabled but the browser's Fetch for documents. A tab, window or iframe
// runs once its renderer has answered every command (or at the hold's limit), and its document's
// request goes on with it; a worker, or a popup with no renderer yet, at once, as does any other
// document's request.
TEST(DevtoolsSession, EachTargetGetsItsOverridesThenRuns) {
  auto methods = [](const std::vector<std::string>& commands, const char* sessionId) {
    std::string out;
    for (const std::string& command : commands) {
      Json message = *parseJson(command);
      std::string method = message["method"];
      EXPECT_EQ(message.value("sessionId", ""), method.starts_with("Fetch.") ? "" : sessionId);
      out += method + " ";
    }
    return out;
  };
  auto request = [](const char* frameId) {
    return std::string(R"({"method":"Fetch.requestPaused","params":{"requestId":"R","frameId":")") +
           frameId + R"(","resourceType":"Document"}})";
  };
  DevtoolsSession session;
  EXPECT_EQ(browserCommands(session),
            (Args{R"({"id":1,"method":"Target.setAutoAttach","params":{"autoAttach":true,)"
                  R"("waitForDebuggerOnStart":true,"flatten":true}})",
                  R"({"id":2,"method":"Fetch.enable","params":{"patterns":[{"urlPattern":"*",)"
                  R"("resourceType":"Document","requestStage":"Request"}]}})"}));
  EXPECT_EQ(answerMessage(session, request("F")),
            Args{R"({"id":3,"method":"Fetch.continueRequest","params":{"requestId":"R"}})"});
  for (const char* message :
       {R"({"id":3,"result":{}})", R"({"method":"Target.attachedToTarget"})",
        R"({"method":"Target.attachedToTarget","params":{"sessionId":7}})",
        R"({"method":"Target.detachedFromTarget","params":{"sessionId":"S"}})",
        R"({"method":"Fetch.requestPaused","params":{"frameId":"F"}})",
        R"("Target.attachedToTarget")", ""})
    EXPECT_TRUE(answerMessage(session, message).empty()) << message;

  const std::string worker =
      "Target.setAutoAttach Emulation.setHardwareConcurrencyOverride Emulation.setLocaleOverride ";
  const std::string frame =
      "Target.setAutoAttach Emulation.setGeolocationOverride "
      "Emulation.setHardwareConcurrencyOverride Emulation.setLocaleOverride ";
  const std::string run = "Runtime.runIfWaitingForDebugger ", goesOn = "Fetch.continueRequest ";
  // clang-format off
  const std::tuple<const char*, std::string, bool> cases[] = {  // target info, commands, held
      {R"("type":"page","url":"https://a.test/")", frame, true},
      {R"("type":"page","url":"")", frame, true},
      {R"("type":"page","url":"","openerId":"O","canAccessOpener":true)", frame, true},
      {R"("type":"page","url":"","openerId":"O","canAccessOpener":false)", frame + run, false},
      {R"("type":"iframe","url":"")", frame, true},
      {R"("type":"service_worker","url":"https://a.test/sw.js")", worker + run, false}};
  // clang-format on
  const AgentClock::time_point start;
  for (const auto& [info, expected, held] : cases) {
    DevtoolsSession session;
    session.values = *agentValuesFromArguments(
        {"--latitude=48.85", "--longitude=2.35", "--hardware-concurrency=4", "--locale=de-DE"});
    std::vector<std::string> commands = answerMessage(
        session, attachedMessage("S", R"("targetId":"F",)" + std::string(info)), start);
    EXPECT_EQ(methods(commands, "S"), expected) << info;
    const long last = session.nextId - 1;
    EXPECT_EQ(nextDue(session), held ? std::optional(start + kHoldLimit) : std::nullopt) << info;
    EXPECT_EQ(methods(answerMessage(session, request("G")), ""), goesOn);
    EXPECT_EQ(methods(answerMessage(session, request("F")), ""), held ? "" : goesOn) << info;
    if (!held) continue;
    // Answers of another session, and an answer twice, release nothing; the last one does.
    EXPECT_TRUE(answerMessage(session, answerTo(1, "T")).empty());
    for (long id = 1; id < last; ++id)
      for (int twice = 0; twice < 2; ++twice)
        EXPECT_TRUE(answerMessage(session, answerTo(id, "S")).empty()) << info << id;
    DevtoolsSession overdue = session, detached = session;
    EXPECT_EQ(
        methods(answerMessage(session, answerTo(last, "S", R"("error":{"code":-32000})")), "S"),
        run + goesOn)
        << info;
    EXPECT_EQ(nextDue(session), std::nullopt);
    EXPECT_EQ(methods(answerMessage(session, request("F")), ""), goesOn);
    EXPECT_TRUE(releaseOverdue(overdue, start + kHoldLimit - std::chrono::milliseconds(1)).empty());
    EXPECT_EQ(methods(releaseOverdue(overdue, start + kHoldLimit), "S"), run + goesOn);
    EXPECT_EQ(methods(answerMessage(detached, detachedMessage("S")), ""), goesOn);
    EXPECT_EQ(nextDue(overdue), std::nullopt);
    EXPECT_EQ(nextDue(detached), std::nullopt);
  }
}

// The locale belongs to the renderer process and to the session that set it first: when that one
// ends, every session that does not hold it is asked again, oldest first (a page before its
// iframes and workers), including one whose answer may predate the loss; an ended one is not.
TEST(DevtoolsSession, ALocaleLostWithItsHolderIsAskedAgain) {
  DevtoolsSession session;
  session.values = *agentValuesFromArguments({"--locale=de-DE"});
  std::map<std::string, long> asked;  // each session's latest locale command
  auto note = [&](const std::vector<std::string>& commands) {
    std::string sessions;
    for (const std::string& command : commands) {
      Json message = *parseJson(command);
      if (message["method"] != "Emulation.setLocaleOverride") continue;
      EXPECT_EQ(message["params"].dump(), R"({"locale":"de-DE"})");
      asked[message["sessionId"]] = message["id"];
      sessions += message["sessionId"].get<std::string>() + " ";
    }
    return sessions;
  };
  auto answer = [&](const std::string& id, const char* outcome) {
    answerMessage(session, answerTo(asked[id], id, outcome));
  };
  auto detach = [&](const std::string& id) { answerMessage(session, detachedMessage(id)); };
  auto attach = [&](const std::string& id, const std::string& type) {
    note(answerMessage(session, attachedMessage(id, R"("type":")" + type + R"(","url":"")")));
  };
  const char *ok = R"("result":{})", *taken = R"("error":{"code":-32000})",
             *ended = R"("error":{"code":-32001})";  // the last: no such session
  for (auto [id, type] :
       {std::pair{"P", "page"}, {"F", "iframe"}, {"W", "worker"}, {"E", "worker"}, {"I", "iframe"}})
    attach(id, type);
  answer("P", ok);
  answer("F", taken);
  answer("E", ended);
  answer("I", taken);  // W's answer is still on its way
  EXPECT_EQ(note(retakeLocale(session)), "");
  detach("F");
  EXPECT_EQ(note(retakeLocale(session)), "");
  detach("P");
  EXPECT_EQ(note(retakeLocale(session)), "W I ");
  EXPECT_EQ(note(retakeLocale(session)), "");
  answer("W", ok);
  detach("W");
  attach("J", "worker");  // asked once W's end was known
  EXPECT_EQ(note(retakeLocale(session)), "I ");
  answer("I", ok);
  answer("J", taken);
  detach("I");
  EXPECT_EQ(note(retakeLocale(session)), "J ");
  detach("J");
  EXPECT_EQ(note(retakeLocale(session)), "");
  EXPECT_TRUE(session.attached.empty() && session.localeAsked.empty());
}

// A relaunch runs the agent's program with the engine's switches: they name the engine and carry
// the values; a command line without the engine's switch, or with a value not understood, is none.
TEST(DevtoolsSession, RelaunchCarriesTheEngineAndTheValues) {
  AgentValues values = *agentValuesFromArguments({"--hardware-concurrency=4", "--locale=de-DE"});
  Args switches = relaunchSwitches(values, "/usr/lib/chromium/chromium");
  EXPECT_EQ(switches,
            (Args{"--quillon-agent-engine=/usr/lib/chromium/chromium",
                  "--quillon-agent-hardware-concurrency=4", "--quillon-agent-locale=de-DE"}));
  std::optional<AgentRelaunch> relaunch = relaunchFromArguments(
      {"--no-first-run", switches[2], "--remote-debugging-pipe", switches[1], switches[0]});
  ASSERT_TRUE(relaunch);
  EXPECT_EQ(relaunch->enginePath, "/usr/lib/chromium/chromium");
  EXPECT_EQ(agentArguments(relaunch->values), agentArguments(values));
  for (Args none : {Args{switches[1], switches[2]},
                    Args{switches[0], "--quillon-agent-hardware-concurrency=0"}})
    EXPECT_FALSE(relaunchFromArguments(none));
}

// A stock Chromium runs on the last --user-data-dir and on the profile --profile-directory
// names; the launcher, which edits Default in the first, refuses arguments that differ.
TEST(ChromiumPersona, RefusedWhenChromiumWouldRunOnAnotherProfile) {
  const std::string udd = "--user-data-dir=", profile = "--profile-directory=";
  // clang-format off
  const std::pair<Args, bool> cases[] = {  // arguments, refused
      {{}, false}, {{udd + "/p", "x", udd + "/p"}, false}, {{udd + "/p", udd + "/q"}, true},
      {{udd + "/p", "-user-data-dir=/q"}, true}, {{udd + "/p", "--user-data-dir"}, true},
      {{"-user-data-dir=/q"}, true}, {{udd + "/p", "--", udd + "/q"}, false},
      {{"--", udd + "/p"}, true},
      {{udd + "/p", "--user-data-directory=/q", "--profile-directory-x=W"}, false},
      {{profile + "Work"}, true}, {{profile + "Work", "-profile-directory=Default"}, false},
      {{udd + "/p", profile + "Default", "--profile-directory"}, true}};
  // clang-format on
  for (const auto& [args, refused] : cases) {
    LaunchInputs in;
    in.passThroughArgs = args;
    in.userDataDir = userDataDirFromArgs(args);
    EXPECT_FALSE(launchRefusal(in)) << "the product's engine: " << args.size();
    in.engineKind = EngineKind::chromium;
    EXPECT_EQ(launchRefusal(in).has_value(), refused) << ::testing::PrintToString(args);
  }
}

// One profile through a sequence of launches, with what Chromium writes during each session: a
// launch takes back only the launcher's own values, and what the user chose stays.
TEST(PersonaSettings, ALaunchTakesBackOnlyTheLaunchersOwnValues) {
  auto shown = [](const Json& p) {
    std::string out;
    for (const char* at : {"/intl/accept_languages", "/intl/selected_languages",
                           "/profile/default_content_setting_values/geolocation"})
      out += (p.contains(Json::json_pointer(at)) ? p[Json::json_pointer(at)].dump() : "-") + " ";
    return out;
  };
  const std::string user =
      R"({"intl":{"accept_languages":"en-GB,en","selected_languages":"en-GB,en"},)"
      R"("profile":{"default_content_setting_values":{"geolocation":1},"name":"P"},)"
      R"("n":13441193075658014})";
  // clang-format off
  const std::tuple<const char*, const char*, bool, const char*, const char*> steps[] = {
      // start, persona, Preferences changed, what the launch leaves, what the session then writes
      {user.c_str(), R"("accept-language":"fr-FR","geo-lat":1)", true,
       R"("en-GB,en" "en-GB,en" 2 )", R"({"intl":{"accept_languages":"fr-FR"}})"},
      {nullptr, R"("lang":"de-DE","accept-language":"de-DE,de","auto-geo":1)", false,
       R"("fr-FR" "en-GB,en" 2 )", R"({"intl":{"accept_languages":"de-DE,de","selected_languages":"de-DE,de,it"}})"},
      {nullptr, "", true, R"("en-GB,en" "de-DE,de,it" 1 )", R"({"intl":{"accept_languages":"de-DE,de,it"}})"},
      {nullptr, R"("geo-lng":1)", true, R"("de-DE,de,it" "de-DE,de,it" 2 )", "{}"},
      {nullptr, R"("accept-language":"fr-FR")", true, R"("de-DE,de,it" "de-DE,de,it" 1 )", "{}"},
      // then a start without the launcher copies its language into the chosen ones
      {"{}", R"("accept-language":"fr-FR")", false, "- - - ", R"({"intl":{"accept_languages":"fr-FR","selected_languages":"fr-FR"}})"},
      {nullptr, "", true, "- - - ", "{}"},
      {R"({"profile":{"default_content_setting_values":2}})", R"("auto-geo":1)", false, "- - - ", "{}"}};
  // clang-format on
  Json preferences, record;
  for (const auto& [start, persona, changed, left, session] : steps) {
    if (start) preferences = *parseJson(start), record = Json::object();
    EXPECT_EQ(
        editPersonaSettings(preferences, record, chromiumPersona(overlayOf(persona), {}).settings),
        changed)
        << persona;
    EXPECT_EQ(shown(preferences), left) << persona;
    preferences.merge_patch(*parseJson(session));
  }
  EXPECT_EQ(record.dump(), "{}") << "nothing of the launcher's is left to take back";
  preferences = *parseJson(user);
  editPersonaSettings(preferences, record,
                      chromiumPersona(overlayOf(R"("auto-geo":1)"), {}).settings);
  editPersonaSettings(preferences, record, chromiumPersona({}, {}).settings);
  EXPECT_EQ(preferences.dump(), user) << "every other member, in its place";
}

// The files: replaced whole with their permissions, never under a running engine, through a
// link or over a file that cannot be read.
TEST(PersonaSettings, FilesReplacedWholeOnlyWhenSafe) {
  test::TempDir udd;
  const std::string preferences = udd / "Default/Preferences", record = udd / kPersonaRecordName;
  const std::string blocked = R"({"profile":{"default_content_setting_values":{"geolocation":2}}})";
  auto mode = [](const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
  };
  auto launch = [&udd](const char* persona) {
    applyPersonaSettings(udd.path(), chromiumPersona(overlayOf(persona), {}).settings);
  };
  auto both = [&] { return test::readFile(preferences) + test::readFile(record); };
  launch(R"("auto-geo":1)");
  EXPECT_EQ(test::readFile(preferences), blocked);
  EXPECT_EQ(mode(preferences) | mode(record) << 9, 0600u | 0600u << 9) << "a new profile";
  test::writeFile(preferences, R"({"b":1,"a":{"x":[1.5,"\u00e9"]}})");
  chmod(preferences.c_str(), 0640);
  launch(R"("auto-geo":1)");
  EXPECT_EQ(test::readFile(preferences), R"({"b":1,"a":{"x":[1.5,"é"]},)" + blocked.substr(1));
  EXPECT_EQ(mode(preferences), 0640u);
  const std::string before = both();
  if (pid_t child = fork(); child == 0) {  // a file that cannot be written whole: both stay
    signal(SIGXFSZ, SIG_IGN);
    const rlimit small = {16, 16};
    _exit(setrlimit(RLIMIT_FSIZE, &small) == 0 ? (launch(""), 0) : 1);
  } else {
    waitpid(child, nullptr, 0);
  }
  EXPECT_EQ(both(), before);
  EXPECT_FALSE(test::exists(preferences + ".quillon-new") || test::exists(record + ".quillon-new"))
      << "a failed replacement leaves no temporary file";
  // The record goes first: one that cannot be written keeps the Preferences as they are.
  std::filesystem::create_directory(record + ".quillon-new");
  launch(R"("accept-language":"fr-FR")");
  EXPECT_EQ(both(), before);
  std::filesystem::remove(record + ".quillon-new");

  symlink(lockOf(getpid()).c_str(), (udd / "SingletonLock").c_str());
  launch("");
  EXPECT_EQ(both(), before) << "an engine runs";
  std::filesystem::remove(udd / "SingletonLock");
  std::filesystem::rename(preferences, udd / "elsewhere");
  std::filesystem::create_symlink(udd / "elsewhere", preferences);
  launch("");
  EXPECT_EQ(test::readFile(udd / "elsewhere") + test::readFile(record), before) << "a link";
  std::filesystem::remove(preferences);
  test::writeFile(preferences, "{\"profile\":");
  launch("");
  EXPECT_EQ(test::readFile(preferences), "{\"profile\":") << "unreadable";
  test::writeFile(preferences, blocked);
  launch("");
  EXPECT_EQ(test::readFile(preferences), R"({"profile":{"default_content_setting_values":{}}})");
  EXPECT_FALSE(test::exists(record)) << "nothing left to take back";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(udd / "Default"), {}), 1)
      << "no temporary file left";
}

// Items of a used profile, relative to the user data directory.
// clang-format off
const Args kItems = {"Default/Current Tabs", "Default/Sessions/Session_1", "Default/Cookies",
    "Default/Network/Cookies", "ShaderCache/data_0", "Default/GPUCache/d",
    "Default/Service Worker/ScriptCache/1", "Default/Service Worker/CacheStorage/c",
    "Default/Preferences", "Local State"};
// clang-format on

// Exactly the chosen items go, also when run from inside the profile; a link in the profile is
// removed, never followed; an engine running on the profile (alive, on this host) holds its lock
// and hygiene waits.
TEST(Hygiene, ExactlyTheChosenItemsNeverThroughALinkNorUnderAnEngine) {
  test::TempDir udd, outside;
  auto removed = [&udd](const std::string& members, const std::string& lock = "") {
    std::filesystem::remove_all(udd / "Default");
    for (const std::string& item : kItems) test::writeFile(udd / item, "x");
    std::filesystem::remove(udd / "SingletonLock");
    if (!lock.empty()) symlink(lock.c_str(), (udd / "SingletonLock").c_str());
    EXPECT_EQ(chdir(udd.path().c_str()), 0);
    runProfileHygiene(overlayOf(members), lock == "none" ? std::string() : udd.path());
    EXPECT_EQ(chdir("/"), 0);
    Args gone;
    for (const std::string& item : kItems)
      if (!test::exists(udd / item)) gone.push_back(item);
    return gone;
  };
  const std::string reset = R"("granular-storage-reset":)";
  // clang-format off
  const std::pair<std::string, Args> cases[] = {
      {R"("close-previous-tabs":1)", {"Default/Current Tabs", "Default/Sessions/Session_1"}},
      {reset + R"({"cookies":1,"Cookies":1,"all":0})", {"Default/Cookies", "Default/Network/Cookies"}},
      {reset + R"({"shader_cache":1})", {"ShaderCache/data_0", "Default/GPUCache/d"}},
      {reset + R"({"cache_storage":1})", {"Default/Service Worker/CacheStorage/c"}},
      {reset + R"({"all":1,"cookies":0})", {"Default/Cookies", "Default/Network/Cookies", "ShaderCache/data_0",
          "Default/GPUCache/d", "Default/Service Worker/ScriptCache/1", "Default/Service Worker/CacheStorage/c"}}};
  // clang-format on
  for (const auto& [members, gone] : cases) EXPECT_EQ(removed(members), gone) << members;

  pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const std::string all = R"("close-previous-tabs":1,"granular-storage-reset":{"all":1})";
  EXPECT_EQ(removed(all, lockOf(getpid())).size(), 0u);
  EXPECT_EQ(removed(all, lockOf(gone)).size(), 8u);
  EXPECT_EQ(removed(all, "other-host-" + std::to_string(getpid())).size(), 8u);
  EXPECT_EQ(removed(all, "none").size(), 0u) << "an empty user data directory is no profile";

  test::writeFile(outside / "Cookies", "keep");
  test::writeFile(outside / "CacheStorage/c", "keep");
  std::filesystem::remove_all(udd / "Default");
  std::filesystem::create_directory(udd / "Default");
  for (const char* dir : {"Default/Network", "Default/Service Worker", "Default/Sessions"})
    std::filesystem::create_directory_symlink(outside.path(), udd / dir);
  runProfileHygiene(overlayOf(all), udd.path());
  EXPECT_EQ(test::readFile(outside / "Cookies") + test::readFile(outside / "CacheStorage/c"),
            "keepkeep");
  EXPECT_FALSE(test::exists(udd / "Default/Sessions"));
}

}  // namespace
}  // namespace quillon
