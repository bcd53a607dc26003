// The launcher and its desktop companion under xvfb-run.
#include <netinet/in.h>
#include <sys/socket.h>

#include <elf.h>
#include <xcb/xcb.h>

#include <future>

#include "launcher_process.h"

namespace quillon::test {

const std::string kWindowTitle = "Preparing Quillon Browser\u2026";
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

// Closes the window as a window manager's close button does, and waits for it to go.
void requestClose(xcb_window_t window, const std::string& title) {
  xcb_client_message_event_t event{XCB_CLIENT_MESSAGE, 32, 0, window, atom("WM_PROTOCOLS"), {}};
  event.data.data32[0] = atom("WM_DELETE_WINDOW");
  xcb_send_event(x, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<char*>(&event));
  waitUntil([&] { return !focused(title); });
}

TEST_F(LauncherProcess, DesktopAlertCancelAndTheEngineInputsWithAndWithoutAWindow) {
  const std::string profile = tmp / "profile", tabs = profile + "/Default/Current Tabs";
  for (const char* name : {"DISPLAY", "XAUTHORITY"}) setEnv(name, getenv(name));
  for (const char* name : {"DESKTOP_STARTUP_ID", "XDG_ACTIVATION_TOKEN"}) setEnv(name, "id-1");
  // A persona proxied at port (0: none), launched while a thread acts on title's focused window.
  auto launchActing = [&](const std::string& title, int port, Options setup, auto act) {
    if (port) writeFile(profile + "/command-line.json", kPersona + std::to_string(port) + "\"}");
    auto actor = std::async(std::launch::async, [&, window = xcb_window_t{}]() mutable {
      EXPECT_TRUE(waitUntil([&] { return (window = focused(title)); })) << "no window " << title;
      act(window);
    });
    return launch({"--user-data-dir=" + profile}, setup);  // the actor is awaited after it
  };

  setEnv("QUILLON_ENGINE_BIN", tmp / "missing engine");
  const std::string line = "[quillon-launcher] Engine binary not found:\n" + tmp / "missing engine";
  for (int discovery : {0, 1}) {  // from the launcher, and from the companion (1 refuses)
    Launch run = launchActing("Quillon Browser", discovery, {}, [&](xcb_window_t alert) {
      EXPECT_EQ(readFile(tmp / "out"), line + "\n") << "the line comes first";
      requestClose(alert, "Quillon Browser");
    });
    EXPECT_EQ(std::pair(run.status, run.out), std::pair(1, line + "\n")) << discovery;
  }
  setEnv("QUILLON_ENGINE_BIN", QUILLON_RECORDING_ENGINE_PATH);

  int silent = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);  // accepts, never answers
  sockaddr_in at{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t size = sizeof at;
  auto* any = reinterpret_cast<sockaddr*>(&at);
  ASSERT_FALSE(bind(silent, any, size) || listen(silent, 8) || getsockname(silent, any, &size));
  writeFile(tabs, "tabs");
  std::filesystem::remove(profile + "/.quillon-launcher-result.json");  // the fatal launch's
  Launch run = launchActing(kWindowTitle, ntohs(at.sin_port), {}, [&](auto w) {
    std::string state = property(w, "_NET_WM_STATE");
    for (xcb_atom_t a : {atom("_NET_WM_STATE_ABOVE"), atom("_NET_WM_STATE_SKIP_TASKBAR")})
      EXPECT_NE(state.find(std::string(reinterpret_cast<char*>(&a), 4)), state.npos) << a;
    requestClose(w, kWindowTitle);
    close(silent);  // once the launcher has gone, so that curl ends too
  });
  EXPECT_EQ(std::tuple(run.status, run.out, readFile(tabs)), std::tuple(0, "", "tabs"));
  EXPECT_FALSE(exists(record) || exists(profile + "/.quillon-launcher-result.json"));

  Options setup{.inheritedFd = xcb_get_file_descriptor(x), .blocked = SIGUSR1, .ignored = SIGUSR2};
  Launch windowed = launchActing(kWindowTitle, 1, setup, [](xcb_window_t) {});
  expectStarted(windowed);
  EXPECT_EQ(windowed["env"], environment);
  for (const char* display : {"", ":9999"}) {  // none, and one that cannot be opened
    setEnv("DISPLAY", display);
    Launch windowless = launch({"--user-data-dir=" + profile}, setup);
    expectStarted(windowless);
    for (const char* key : {"arg", "fd", "SigBlk:", "SigIgn:"})
      EXPECT_EQ(windowed[key], windowless[key]) << key << display;
  }
}

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
