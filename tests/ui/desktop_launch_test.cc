// The built launcher on a desktop (run under xvfb-run): a discovery launch is
// handed to the companion, whose window can be closed through the X server
// to cancel it; the engine gets exactly what it gets without a window; the
// fatal alert follows the fatal line; the direct path loads no Qt.
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <thread>

#include "launcher_fixture.h"

namespace quillon::test {
namespace {

// The test's own connection to the X server of DISPLAY.
class XClient {
 public:
  XClient() : c_(xcb_connect(nullptr, nullptr)) {}
  ~XClient() { xcb_disconnect(c_); }
  bool connected() const { return xcb_connection_has_error(c_) == 0; }

  // A mapped top-level window with this _NET_WM_NAME, polled until limit.
  std::optional<xcb_window_t> waitForWindow(const std::string& title, Millis limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (std::optional<xcb_window_t> w = mappedWindow(title)) return w;
      std::this_thread::sleep_for(Millis(20));
    }
    return std::nullopt;
  }

  // Waits until no window of this title is left (its client ended).
  bool waitUntilGone(const std::string& title, Millis limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (!mappedWindow(title)) return true;
      std::this_thread::sleep_for(Millis(20));
    }
    return false;
  }

  // What a window manager's close button sends: WM_DELETE_WINDOW.
  void requestClose(xcb_window_t window) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c_, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    xcb_flush(c_);
  }

  std::vector<std::string> netWmState(xcb_window_t window) {
    std::vector<std::string> names;
    for (xcb_atom_t a : atomProperty(window, atom("_NET_WM_STATE"))) {
      auto* reply = xcb_get_atom_name_reply(c_, xcb_get_atom_name(c_, a), nullptr);
      if (!reply) continue;
      names.emplace_back(xcb_get_atom_name_name(reply), xcb_get_atom_name_name_length(reply));
      free(reply);
    }
    return names;
  }

 private:
  xcb_atom_t atom(const char* name) {
    auto* reply = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, strlen(name), name), nullptr);
    xcb_atom_t result = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    free(reply);
    return result;
  }

  std::vector<xcb_atom_t> atomProperty(xcb_window_t window, xcb_atom_t property) {
    auto* reply = xcb_get_property_reply(
        c_, xcb_get_property(c_, 0, window, property, XCB_ATOM_ATOM, 0, 64), nullptr);
    std::vector<xcb_atom_t> atoms;
    if (reply) {
      auto* values = static_cast<xcb_atom_t*>(xcb_get_property_value(reply));
      atoms.assign(values, values + xcb_get_property_value_length(reply) / 4);
    }
    free(reply);
    return atoms;
  }

  std::optional<xcb_window_t> mappedWindow(const std::string& title) {
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    auto* tree = xcb_query_tree_reply(c_, xcb_query_tree(c_, root), nullptr);
    if (!tree) return std::nullopt;
    std::optional<xcb_window_t> found;
    xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
      auto* name = xcb_get_property_reply(c_,
                                          xcb_get_property(c_, 0, children[i], atom("_NET_WM_NAME"),
                                                           XCB_GET_PROPERTY_TYPE_ANY, 0, 256),
                                          nullptr);
      auto* attributes =
          xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, children[i]), nullptr);
      if (name && attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE &&
          std::string(static_cast<char*>(xcb_get_property_value(name)),
                      xcb_get_property_value_length(name)) == title)
        found = children[i];
      free(name);
      free(attributes);
    }
    free(tree);
    return found;
  }

  xcb_connection_t* c_;
};

const std::string kWindowTitle = "Preparing Quillon Browser\u2026";

// A SOCKS5 "proxy" that accepts connections (the kernel does) and never
// answers: curl waits on it until its own time limit.
struct SilentProxy {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int port = 0;
  SilentProxy() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 && listen(fd, 8) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
      port = ntohs(address.sin_port);
  }
  ~SilentProxy() { stop(); }
  void stop() {
    if (fd >= 0) close(fd);
    fd = -1;
  }
};

class DesktopLaunchTest : public LauncherProcessTest {
 protected:
  void SetUp() override {
    LauncherProcessTest::SetUp();
    const char* display = getenv("DISPLAY");
    ASSERT_TRUE(display && *display) << "run under xvfb-run";
    setEnv("DISPLAY", display);
    if (const char* auth = getenv("XAUTHORITY")) setEnv("XAUTHORITY", auth);
    ASSERT_TRUE(x_.connected());
  }

  void writePersona(const std::string& proxy) {
    writeFile(profile_ + "/command-line.json",
              R"({"auto-timezone":true,"on-proxy-fail":"fallback","close-previous-tabs":true,)"
              R"("proxy-server":")" +
                  proxy + R"(","chrome-command-line":{"--mute-audio":true}})");
    writeFile(profile_ + "/Default/Current Tabs", "tabs");
  }

  std::string profile_ = path("profile");
  XClient x_;
};

TEST_F(DesktopLaunchTest, ClosingTheWindowCancelsTheLaunch) {
  SilentProxy proxy;
  ASSERT_NE(proxy.port, 0);
  writePersona("socks5://127.0.0.1:" + std::to_string(proxy.port));
  // Closes the window once it is on screen, then lets curl go once the
  // launcher is gone.
  auto closer = std::async(std::launch::async, [&] {
    XClient x;
    std::optional<xcb_window_t> window = x.waitForWindow(kWindowTitle, Millis(10000));
    std::vector<std::string> state = window ? x.netWmState(*window) : std::vector<std::string>{};
    if (window) x.requestClose(*window);
    bool gone = x.waitUntilGone(kWindowTitle, Millis(10000));
    proxy.stop();
    return std::make_tuple(window.has_value(), state, gone);
  });
  ProcessSetup setup{
      .program = launcher_,
      .argv = {launcher_, "--user-data-dir=" + profile_},
      .env = env_,
      .standardOutput = open(path("out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644),
      .standardError = open(path("err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)};
  ProcessOutcome outcome = runProcess(setup);
  close(setup.standardOutput);
  close(setup.standardError);
  auto [shown, state, gone] = closer.get();
  reapChildren(Millis(10000));  // curl, once the proxy is gone

  ASSERT_TRUE(shown) << "the progress window never appeared";
  EXPECT_TRUE(gone);
  for (const char* wanted : {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR"})
    EXPECT_NE(std::find(state.begin(), state.end(), wanted), state.end()) << wanted;
  EXPECT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.exitStatus, 0);
  EXPECT_EQ(readFile(path("out")) + readFile(path("err")), "");
  EXPECT_FALSE(exists(record_)) << "an engine was started";
  EXPECT_FALSE(exists(profile_ + "/.quillon-launcher-result.json"));
  EXPECT_EQ(readFile(profile_ + "/Default/Current Tabs"), "tabs");
}

TEST_F(DesktopLaunchTest, EngineGetsWhatItGetsWithoutAWindow) {
  SilentProxy closed;
  std::string proxy = "socks5://127.0.0.1:" + std::to_string(closed.port);
  closed.stop();  // refused at once: discovery fails, the launch falls back
  setEnv("DESKTOP_STARTUP_ID", "launcher-startup-1");
  setEnv("XDG_ACTIVATION_TOKEN", "token-1");
  std::string extraFile = path("inherited.txt");
  writeFile(extraFile, "x");
  int fd = open(extraFile.c_str(), O_RDONLY | O_CLOEXEC);
  ProcessSetup setup{
      .inheritedFds = {{fd, 7}}, .blockedSignals = {SIGUSR1}, .ignoredSignals = {SIGUSR2, SIGPIPE}};

  writePersona(proxy);
  auto watcher = std::async(std::launch::async, [] {
    return XClient().waitForWindow(kWindowTitle, Millis(10000)).has_value();
  });
  Launch windowed = launch({"--user-data-dir=" + profile_, "--x= a b"}, setup);
  ASSERT_TRUE(watcher.get()) << "the launch did not show its window";

  std::vector<std::string> desktopEnv = env_;
  setEnv("DISPLAY", std::nullopt);
  writePersona(proxy);
  Launch windowless = launch({"--user-data-dir=" + profile_, "--x= a b"}, setup);
  close(fd);

  ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(windowed));
  ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(windowless));
  EXPECT_EQ(windowed.engine->argv, windowless.engine->argv);
  EXPECT_EQ(windowed.engine->env, desktopEnv);
  EXPECT_EQ(windowless.engine->env, env_);
  EXPECT_EQ(windowed.engine->fds, windowless.engine->fds);
  EXPECT_EQ(windowed.engine->fds[7], extraFile);
  EXPECT_EQ(windowed.engine->blockedSignals, windowless.engine->blockedSignals);
  EXPECT_EQ(windowed.engine->ignoredSignals, windowless.engine->ignoredSignals);
  EXPECT_EQ(windowed.engine->blockedSignals, signalBit(SIGUSR1));
}

TEST_F(DesktopLaunchTest, FatalAlertFollowsTheLineAndEndsWithStatusOne) {
  setEnv("QUILLON_ENGINE_BIN", path("missing engine"));
  auto dismisser = std::async(std::launch::async, [] {
    XClient x;
    std::optional<xcb_window_t> alert = x.waitForWindow("Quillon Browser", Millis(10000));
    if (alert) x.requestClose(*alert);
    return alert.has_value();
  });
  Launch run = launch({});
  EXPECT_TRUE(dismisser.get()) << "no alert appeared";
  EXPECT_FALSE(run.process.timedOut);
  EXPECT_EQ(run.process.exitStatus, 1);
  EXPECT_EQ(run.err,
            "[quillon-launcher] Engine binary not found:\n" + path("missing engine") + "\n");
  EXPECT_EQ(run.out, "");
}

TEST_F(DesktopLaunchTest, DirectPathMapsNoQtLibrary) {
  // The engine copies the launcher's memory map while the launcher is held
  // at its exit.
  std::string engine = path("maps-engine.sh");
  writeFile(engine,
            "#!/bin/sh\ncat /proc/$PPID/maps > \"$QUILLON_TEST_RECORD.tmp\"\n"
            "mv \"$QUILLON_TEST_RECORD.tmp\" \"$QUILLON_TEST_RECORD\"\n");
  std::filesystem::permissions(engine, std::filesystem::perms::owner_all);
  setEnv("QUILLON_ENGINE_BIN", engine);
  Launch run = launch({}, {.holdAtExitUntil = record_});
  EXPECT_EQ(run.process.exitStatus, 0);
  std::string maps = readFile(record_);
  EXPECT_NE(maps.find("/quillon-launcher\n"), std::string::npos) << maps;
  EXPECT_EQ(maps.find("libQt"), std::string::npos) << maps;
  EXPECT_EQ(maps.find(".so"), std::string::npos) << maps;
}

}  // namespace
}  // namespace quillon::test
