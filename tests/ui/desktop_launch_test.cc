// The launcher and its desktop companion under xvfb-run: the window, its
// cancelling close, the engine's inputs with and without it, the fatal alert.
#include <netinet/in.h>
#include <sys/socket.h>

#include <elf.h>
#include <xcb/xcb.h>

#include <future>

#include "launcher_process.h"

namespace quillon::test {

const std::string kWindowTitle = "Preparing Quillon Browser\u2026";
xcb_connection_t* const x = xcb_connect(nullptr, nullptr);  // used from either thread

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

void requestClose(xcb_window_t window) {  // as a window manager's close button does
  xcb_client_message_event_t event{XCB_CLIENT_MESSAGE, 32, 0, window, atom("WM_PROTOCOLS"), {}};
  event.data.data32[0] = atom("WM_DELETE_WINDOW");
  xcb_send_event(x, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<char*>(&event));
  xcb_flush(x);
}

class DesktopLaunchTest : public LauncherProcess {
 protected:
  // A launch on xvfb-run's display, of a discovery persona whose proxy is at
  // this port (0: no persona), while a second thread acts on the window of this title.
  template <typename Act>
  Launch launchActing(const std::string& title, int port, Options setup, Act act) {
    if (port)
      writeFile(profile_ + "/command-line.json", R"({"auto-geo":1,"on-proxy-fail":"fallback",
      "close-previous-tabs":1,"proxy-server":"socks5://127.0.0.1:)" +
                                                     std::to_string(port) + "\"}");
    for (const char* name : {"DISPLAY", "XAUTHORITY"}) setEnv(name, getenv(name));
    for (const char* name : {"DESKTOP_STARTUP_ID", "XDG_ACTIVATION_TOKEN"}) setEnv(name, "id-1");
    auto actor = std::async(std::launch::async, [&, window = xcb_window_t{}]() mutable {
      EXPECT_TRUE(waitUntil([&] { return (window = focused(title)); })) << "no window " << title;
      if (window) act(window);
    });
    return launch({"--user-data-dir=" + profile_}, setup);  // the actor is awaited after it
  }

  std::string profile_ = tmp / "profile";
};

TEST_F(DesktopLaunchTest, ClosingTheWindowCancelsTheLaunch) {
  int silent = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);  // accepts, never answers
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t size = sizeof address;
  auto* any = reinterpret_cast<sockaddr*>(&address);
  ASSERT_FALSE(bind(silent, any, size) || listen(silent, 8) || getsockname(silent, any, &size));
  writeFile(profile_ + "/Default/Current Tabs", "tabs");
  Launch run = launchActing(
      kWindowTitle, ntohs(address.sin_port), {.awaitEngine = false}, [&](xcb_window_t window) {
        std::string state = property(window, "_NET_WM_STATE");
        for (xcb_atom_t a : {atom("_NET_WM_STATE_ABOVE"), atom("_NET_WM_STATE_SKIP_TASKBAR")})
          EXPECT_NE(state.find(std::string(reinterpret_cast<char*>(&a), 4)), state.npos) << a;
        requestClose(window);
        waitUntil([] { return !focused(kWindowTitle); });
        close(silent);  // once the launcher has gone, so that curl ends too
      });
  EXPECT_EQ(std::pair(run.status, run.out), std::pair(0, std::string()));
  EXPECT_FALSE(exists(record) || exists(profile_ + "/.quillon-launcher-result.json"));
  EXPECT_EQ(readFile(profile_ + "/Default/Current Tabs"), "tabs");
}

TEST_F(DesktopLaunchTest, EngineGetsWhatItGetsWithoutAWindow) {
  Options setup{.inheritedFd = open("/dev/null", O_RDONLY), .blocked = SIGUSR1, .ignored = SIGUSR2};
  Launch windowed = launchActing(kWindowTitle, 1, setup, [](xcb_window_t) {});
  expectStarted(windowed);
  EXPECT_EQ(windowed["env"], environment);
  for (const char* display : {"", ":9999"}) {  // none, and one that cannot be opened
    setEnv("DISPLAY", display);
    Launch windowless = launch({"--user-data-dir=" + profile_}, setup);
    expectStarted(windowless);
    for (const char* key : {"arg", "fd", "SigBlk:", "SigIgn:"})
      EXPECT_EQ(windowed[key], windowless[key]) << key << display;
  }
  close(setup.inheritedFd);
}

TEST_F(DesktopLaunchTest, FatalAlertFollowsTheLineAndEndsWithStatusOne) {
  setEnv("QUILLON_ENGINE_BIN", tmp / "missing engine");
  const std::string line = "[quillon-launcher] Engine binary not found:\n" + tmp / "missing engine";
  for (bool discovery : {false, true}) {  // from the launcher, and from the companion
    Launch run = launchActing("Quillon Browser", discovery, {}, [&](xcb_window_t alert) {
      EXPECT_EQ(readFile(tmp / "out"), line + "\n") << "the line comes first";
      requestClose(alert);
    });
    EXPECT_EQ(std::pair(run.status, run.out), std::pair(1, line + "\n")) << discovery;
  }
}

// The direct path needs no loader and maps no shared library, Qt least of all.
TEST(StaticLauncher, HasNoInterpreterAndNoDynamicSection) {
  std::string elf = readFile(QUILLON_LAUNCHER_PATH);
  ASSERT_GT(elf.size(), sizeof(Elf64_Ehdr));
  const auto* header = reinterpret_cast<const Elf64_Ehdr*>(elf.data());
  for (size_t i = 0; i < header->e_phnum; ++i) {
    Elf64_Phdr entry;
    memcpy(&entry, elf.data() + header->e_phoff + i * header->e_phentsize, sizeof entry);
    EXPECT_TRUE(entry.p_type != PT_INTERP && entry.p_type != PT_DYNAMIC) << entry.p_type;
  }
}

}  // namespace quillon::test
