// The launcher and its desktop companion under xvfb-run.
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <future>

#include "launcher_process.h"

namespace quillon::test {

const std::string kWindowTitle = "Preparing Quillon Browser\u2026", kAlertTitle = "Quillon Browser";
xcb_connection_t* const x = xcb_connect(nullptr, nullptr);  // used from either thread
const std::string kPersona = R"({"auto-geo":1,"on-proxy-fail":"fallback","close-previous-tabs":1,)"
                             R"("proxy-server":"socks5://127.0.0.1:)";

template <typename T>
std::unique_ptr<T, void (*)(void*)> owned(T* reply) {
  return {reply, free};
}

xcb_atom_t atom(const std::string& name) {
  auto reply = owned(xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, name.size(), name.data()), 0));
  return reply ? reply->atom : 0;
}

std::string property(xcb_window_t window, const char* name) {
  auto reply = owned(xcb_get_property_reply(
      x, xcb_get_property(x, 0, window, atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 256), 0));
  char* value = reply ? static_cast<char*>(xcb_get_property_value(reply.get())) : nullptr;
  return std::string(value, value ? xcb_get_property_value_length(reply.get()) : 0);
}

// The window that has the input focus, when it has this title; or 0.
xcb_window_t focused(const std::string& title) {
  auto focus = owned(xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr));
  return focus && property(focus->focus, "_NET_WM_NAME") == title ? focus->focus : 0;
}

// Closes the window as a window manager's close button does (or kills its client as xkill
// does), and waits for it to go.
void closeWindow(xcb_window_t window, const std::string& title, bool kill = false) {
  xcb_client_message_event_t event{XCB_CLIENT_MESSAGE, 32, 0, window, atom("WM_PROTOCOLS"), {}};
  event.data.data32[0] = atom("WM_DELETE_WINDOW");
  if (kill)
    xcb_kill_client(x, window);
  else
    xcb_send_event(x, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<char*>(&event));
  xcb_flush(x);
  EXPECT_TRUE(waitUntil([&] { return !focused(title); }));
}

// A loopback "SOCKS5 proxy" that accepts and never answers: discovery waits until the socket
// is closed, and then fails at once.
struct SilentProxy {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), port = 0;
  SilentProxy() {
    sockaddr_in at{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof at;
    auto* any = reinterpret_cast<sockaddr*>(&at);
    EXPECT_FALSE(bind(fd, any, size) || listen(fd, 8) || getsockname(fd, any, &size));
    port = ntohs(at.sin_port);
  }
};

class DesktopLaunch : public LauncherProcess {
 protected:
  void SetUp() override {
    LauncherProcess::SetUp();
    for (const char* name : {"DISPLAY", "XAUTHORITY"}) setEnv(name, getenv(name));
  }

  // The profile's arguments, with a persona proxied at port (0: the persona on disk).
  Args persona(int port) {
    if (port) writeFile(profile + "/command-line.json", kPersona + std::to_string(port) + "\"}");
    return {"--user-data-dir=" + profile};
  }

  // A launch while a thread acts on the focused window of that title; the actor is awaited
  // after the launch.
  template <typename Act>
  Launch launchActing(const std::string& title, const Args& args, Options setup, Act act) {
    auto actor = std::async(std::launch::async, [&, window = xcb_window_t{}]() mutable {
      EXPECT_TRUE(waitUntil([&] { return (window = focused(title)); })) << "no window " << title;
      act(window);
    });
    return launch(args, setup);
  }

  std::string report() { return readFile(profile + "/.quillon-launcher-result.json"); }

  const std::string profile = tmp / "profile";
};

TEST_F(DesktopLaunch, AlertCancelAndTheEngineInputsWithAndWithoutAWindow) {
  const std::string tabs = profile + "/Default/Current Tabs";
  for (const char* name : {"DESKTOP_STARTUP_ID", "XDG_ACTIVATION_TOKEN"}) setEnv(name, "id-1");
  setEnv("QUILLON_ENGINE_BIN", tmp / "missing engine");
  const std::string line = "[quillon-launcher] Engine binary not found:\n" + tmp / "missing engine";
  // From the launcher, and from the companion (port 1 refuses): closed, or killed through the X
  // server (as xkill does).
  const std::pair<int, bool> alerts[] = {{0, false}, {1, false}, {1, true}};
  for (auto [port, kill] : alerts) {
    Launch run = launchActing(kAlertTitle, persona(port), {}, [&, kill = kill](xcb_window_t alert) {
      EXPECT_EQ(readFile(tmp / "out"), line + "\n") << "the line comes first";
      closeWindow(alert, kAlertTitle, kill);
    });
    EXPECT_EQ(std::pair(run.status, run.out), std::pair(1, line + "\n")) << port << kill;
  }
  setEnv("QUILLON_ENGINE_BIN", QUILLON_RECORDING_ENGINE_PATH);

  SilentProxy silent;
  writeFile(tabs, "tabs");
  std::filesystem::remove(profile + "/.quillon-launcher-result.json");  // the fatal launch's
  Launch run = launchActing(kWindowTitle, persona(silent.port), {}, [&](xcb_window_t w) {
    std::string state = property(w, "_NET_WM_STATE");
    for (xcb_atom_t a : {atom("_NET_WM_STATE_ABOVE"), atom("_NET_WM_STATE_SKIP_TASKBAR")})
      EXPECT_NE(state.find(std::string(reinterpret_cast<char*>(&a), 4)), state.npos) << a;
    closeWindow(w, kWindowTitle);
    close(silent.fd);  // once the launcher has gone, so that curl ends too
  });
  EXPECT_EQ(std::tuple(run.status, run.out, readFile(tabs)), std::tuple(0, "", "tabs"));
  EXPECT_FALSE(exists(record) || exists(profile + "/.quillon-launcher-result.json"));

  Options setup{.inheritedFd = xcb_get_file_descriptor(x), .blocked = SIGUSR1, .ignored = SIGUSR2};
  Launch windowed = launchActing(kWindowTitle, persona(1), setup, [](xcb_window_t) {});
  expectStarted(windowed);
  EXPECT_EQ(windowed["env"], environment);
  EXPECT_NE(report().find(R"("status":"ok")"), std::string::npos) << "the companion's discovery";
  // No display, one that cannot be opened, a companion that cannot be executed (the hand-over's
  // descriptor is closed again).
  const std::string app = tmp / "app/", unusable = app + "libexec/quillon/quillon-launcher-window";
  std::filesystem::create_directories(app + "bin");
  std::filesystem::copy_file(QUILLON_LAUNCHER_PATH, app + "bin/quillon-launcher");
  writeFile(unusable, "not a program\n");
  chmod(unusable.c_str(), 0755);
  const std::string launcher = QUILLON_LAUNCHER_PATH, display = getenv("DISPLAY");
  const std::pair<std::string, std::string> windowless[] = {
      {launcher, ""}, {launcher, ":9999"}, {app + "bin/quillon-launcher", display}};
  for (const auto& [program, shown] : windowless) {
    setEnv("DISPLAY", shown);
    setup.program = program;
    Launch run = launch(persona(0), setup);
    expectStarted(run);
    for (const char* key : {"arg", "fd", "SigBlk:", "SigIgn:"})
      EXPECT_EQ(windowed[key], run[key]) << key << " " << program << " " << shown;
  }
}

// The window killed through the X server while discovery waits, with the SIGPIPE of a write that
// meets the closed connection: the launch goes on without it, silently, and the engine starts;
// an engine that cannot start gives its line.
TEST_F(DesktopLaunch, LosingTheDisplayDuringDiscoveryLaunchesWithoutTheWindow) {
  const std::string missing = "[quillon-launcher] Engine binary not found:\n/nonexistent\n";
  for (const std::string engine : {QUILLON_RECORDING_ENGINE_PATH, "/nonexistent"}) {
    setEnv("QUILLON_ENGINE_BIN", engine);
    SilentProxy silent;
    Launch run = launchActing(kWindowTitle, persona(silent.port), {}, [&](xcb_window_t w) {
      std::string pid = property(w, "_NET_WM_PID");
      ASSERT_EQ(pid.size(), sizeof(uint32_t));
      kill(*reinterpret_cast<const uint32_t*>(pid.data()), SIGPIPE);
      closeWindow(w, kWindowTitle, true);
      close(silent.fd);
    });
    if (engine != "/nonexistent") {
      expectStarted(run);
      EXPECT_NE(report().find(R"("status":"ok")"), std::string::npos) << report();
    } else {
      EXPECT_EQ(std::pair(run.status, run.out), std::pair(1, missing)) << "signal " << run.signal;
    }
  }
}

// The companion carries on with the configuration bytes the launcher hands it and never reads the
// file, which here holds a persona that stock Chromium refuses, with another proxy. The engine
// gets neither the file's proxy nor the hand-over's descriptor.
TEST_F(DesktopLaunch, TheCompanionLaunchesWhatTheLauncherReadNotTheFile) {
  SilentProxy silent;
  writeFile(profile + "/command-line.json", R"({"proxy-server":"socks5://u:p@127.0.0.1:9"})");
  const std::string handed = kPersona + std::to_string(silent.port) + "\"}";
  int config = memfd_create("handed", 0);
  ASSERT_EQ(write(config, handed.data(), handed.size()), ssize_t(handed.size()));
  setEnv("QUILLON_ENGINE_KIND", "chromium");
  const Args args = {"--quillon-launch-from=" + tmp.path(), "--quillon-launch-config=7",
                     "--user-data-dir=" + profile};
  const std::string companion =
      std::filesystem::path(QUILLON_LAUNCHER_PATH).replace_filename("quillon-launcher-window");
  Launch run = launchActing(kWindowTitle, args, {.program = companion, .inheritedFd = config},
                            [&](xcb_window_t) { close(silent.fd); });
  close(config);
  expectStarted(run);
  Args engineArgs = run["arg"];
  EXPECT_NE(std::find(engineArgs.begin(), engineArgs.end(),
                      "--proxy-server=socks5://127.0.0.1:" + std::to_string(silent.port)),
            engineArgs.end());
  for (const std::string& fd : run["fd"]) EXPECT_FALSE(fd.starts_with("7 ")) << fd;
}

}  // namespace quillon::test
