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

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <thread>

#include "launcher_process.h"

namespace quillon::test {
namespace {

const std::string kWindowTitle = "Preparing Quillon Browser\u2026";

// The test's own connection to the X server of DISPLAY; every reply is freed
// at once.
struct XClient {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  ~XClient() { xcb_disconnect(c); }

  xcb_atom_t atom(const char* name) {
    auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, strlen(name), name), nullptr);
    xcb_atom_t result = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    free(reply);
    return result;
  }

  std::string property(xcb_window_t window, const char* name) {
    auto* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr);
    std::string bytes;
    if (reply && reply->format != 0)
      bytes.assign(static_cast<char*>(xcb_get_property_value(reply)),
                   xcb_get_property_value_length(reply));  // in bytes
    free(reply);
    return bytes;
  }

  // The mapped top-level window of this title, polled every 20 ms for at
  // most 10 s until it is there (or, with present false, gone).
  std::optional<xcb_window_t> waitForWindow(const std::string& title, bool present = true) {
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    for (int poll = 0; poll < 500; ++poll) {
      std::optional<xcb_window_t> found;
      auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
      for (int i = 0; tree && i < xcb_query_tree_children_length(tree) && !found; ++i) {
        xcb_window_t child = xcb_query_tree_children(tree)[i];
        auto* attributes =
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, child), nullptr);
        if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE &&
            property(child, "_NET_WM_NAME") == title)
          found = child;
        free(attributes);
      }
      free(tree);
      if (found.has_value() == present) return present ? found : xcb_window_t{0};
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::nullopt;
  }

  // What a window manager's close button sends, then a round trip so that
  // the server has sent it before this client goes.
  void requestClose(xcb_window_t window) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  }
};

// A loopback proxy address where the kernel accepts connections that nobody
// answers (listening, until fd is closed) or refuses them.
struct LoopbackPort {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  std::string proxy;
  explicit LoopbackPort(bool listening) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    if (listening) listen(fd, 8);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    proxy = "socks5://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    if (!listening) stop();
  }
  ~LoopbackPort() { stop(); }
  void stop() {
    if (fd >= 0) close(fd);
    fd = -1;
  }
};

class DesktopLaunchTest : public LauncherProcess {
 protected:
  void SetUp() override {
    LauncherProcess::SetUp();
    const char* display = getenv("DISPLAY");
    ASSERT_TRUE(display && *display) << "run under xvfb-run";
    setEnv("DISPLAY", display);
    if (const char* auth = getenv("XAUTHORITY")) setEnv("XAUTHORITY", auth);
    ASSERT_EQ(xcb_connection_has_error(XClient().c), 0);
  }

  // A persona that needs discovery through this proxy, and a profile with a
  // previous session's tabs in it.
  void writePersona(const std::string& proxy) {
    writeFile(profile_ + "/command-line.json",
              R"({"auto-timezone":true,"on-proxy-fail":"fallback","close-previous-tabs":true,)"
              R"("proxy-server":")" +
                  proxy + R"("})");
    writeFile(profile_ + "/Default/Current Tabs", "tabs");
  }

  // Runs the launch while a second thread acts on the window of this title.
  template <typename Act>
  Launch launchActing(const std::string& title, Act act, Options setup = {}) {
    auto actor = std::async(std::launch::async, [&] {
      XClient x;
      std::optional<xcb_window_t> window = x.waitForWindow(title);
      if (window) act(x, *window);
      return window.has_value();
    });
    Launch run = launch({"--user-data-dir=" + profile_}, setup);
    EXPECT_TRUE(actor.get()) << "no window " << title;
    return run;
  }

  std::string profile_ = tmp / "profile";
};

TEST_F(DesktopLaunchTest, ClosingTheWindowCancelsTheLaunch) {
  LoopbackPort silent(true);
  writePersona(silent.proxy);
  std::string state;
  std::vector<xcb_atom_t> wanted;
  auto closer = std::async(std::launch::async, [&] {
    XClient x;
    std::optional<xcb_window_t> window = x.waitForWindow(kWindowTitle);
    if (window) {
      state = x.property(*window, "_NET_WM_STATE");
      wanted = {x.atom("_NET_WM_STATE_ABOVE"), x.atom("_NET_WM_STATE_SKIP_TASKBAR")};
      x.requestClose(*window);
      x.waitForWindow(kWindowTitle, false);  // the launcher has ended
    }
    silent.stop();  // and curl may go
    return window.has_value();
  });
  Launch run = launch({"--user-data-dir=" + profile_}, {.awaitEngine = false});
  ASSERT_TRUE(closer.get()) << "the progress window never appeared";
  for (xcb_atom_t a : wanted)
    EXPECT_NE(state.find(std::string(reinterpret_cast<const char*>(&a), 4)), std::string::npos);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_FALSE(exists(record)) << "an engine was started";
  EXPECT_FALSE(exists(profile_ + "/.quillon-launcher-result.json"));
  EXPECT_EQ(readFile(profile_ + "/Default/Current Tabs"), "tabs");
}

TEST_F(DesktopLaunchTest, EngineGetsWhatItGetsWithoutAWindow) {
  writePersona(LoopbackPort(false).proxy);  // refused: discovery fails, the launch falls back
  setEnv("DESKTOP_STARTUP_ID", "launcher-startup-1");
  setEnv("XDG_ACTIVATION_TOKEN", "token-1");
  std::string extraFile = tmp / "inherited.txt";
  writeFile(extraFile, "x");
  int fd = open(extraFile.c_str(), O_RDONLY | O_CLOEXEC);
  Options setup{.inheritedFd = fd, .blocked = SIGUSR1, .ignored = SIGUSR2};
  Launch windowed = launchActing(
      kWindowTitle, [](XClient&, xcb_window_t) {}, setup);
  Args desktopEnv = environment;
  setEnv("DISPLAY", std::nullopt);
  Launch windowless = launch({"--user-data-dir=" + profile_}, setup);
  close(fd);

  expectStarted(windowed);
  expectStarted(windowless);
  EXPECT_EQ(windowed["arg"], windowless["arg"]);
  EXPECT_EQ(windowed["env"], desktopEnv);
  EXPECT_EQ(windowless["env"], environment);
  EXPECT_EQ(windowed["fd"], windowless["fd"]);
  EXPECT_NE(std::find(windowed["fd"].begin(), windowed["fd"].end(), "7 " + extraFile),
            windowed["fd"].end());
  EXPECT_EQ(windowed["SigBlk:"], windowless["SigBlk:"]);
  EXPECT_EQ(windowed["SigIgn:"], windowless["SigIgn:"]);
  EXPECT_EQ(std::stoull(windowed["SigBlk:"].at(0), nullptr, 16), 1ULL << (SIGUSR1 - 1));
}

TEST_F(DesktopLaunchTest, DisplayThatCannotBeOpenedLeavesTheLaunchWithoutAWindow) {
  writePersona(LoopbackPort(false).proxy);
  setEnv("DISPLAY", ":9999");  // no such server: Qt would end the process with its own message
  Launch run = launch({"--user-data-dir=" + profile_});
  expectStarted(run);
  EXPECT_FALSE(exists(profile_ + "/Default/Current Tabs")) << "the launch went on";
}

// From the static launcher (direct path) and from the companion (after
// discovery): the line, then the alert, then status 1.
TEST_F(DesktopLaunchTest, FatalAlertFollowsTheLineAndEndsWithStatusOne) {
  setEnv("QUILLON_ENGINE_BIN", tmp / "missing engine");
  for (bool discovery : {false, true}) {
    SCOPED_TRACE(discovery ? "discovery path" : "direct path");
    std::filesystem::remove(profile_ + "/command-line.json");
    if (discovery) writePersona(LoopbackPort(false).proxy);
    Launch run = launchActing("Quillon Browser",
                              [](XClient& x, xcb_window_t alert) { x.requestClose(alert); });
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              "[quillon-launcher] Engine binary not found:\n" + tmp / "missing engine" + "\n");
  }
}

TEST_F(DesktopLaunchTest, DirectPathMapsNoQtLibrary) {
  // The engine copies the launcher's memory map while the launcher is held
  // at its exit.
  std::string engine = tmp / "maps-engine.sh";
  writeFile(engine,
            "#!/bin/sh\ncat /proc/$PPID/maps > \"$QUILLON_TEST_RECORD.tmp\"\n"
            "mv \"$QUILLON_TEST_RECORD.tmp\" \"$QUILLON_TEST_RECORD\"\n");
  std::filesystem::permissions(engine, std::filesystem::perms::owner_all);
  setEnv("QUILLON_ENGINE_BIN", engine);
  Launch run = launch({});
  EXPECT_EQ(run.status, 0);
  std::string maps = readFile(record);
  EXPECT_NE(maps.find("/quillon-launcher\n"), std::string::npos) << maps;
  EXPECT_EQ(maps.find(".so"), std::string::npos) << maps;
}

}  // namespace
}  // namespace quillon::test
