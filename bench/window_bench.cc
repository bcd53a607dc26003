// Desktop benchmark, run under an X server (xvfb-run): how long the launcher
// takes from its start to the progress window on screen, and what the
// discovery path itself costs with and without the window.
//
//   window_bench --launcher PATH --engine PATH [--runs N]
//
// Window on screen: from posix_spawn of the launcher to the X server's
// MapNotify of the window, with a SOCKS5 proxy that never answers; the
// window is then closed as a user would.
// Own cost: a proxy that refuses at once, the launch falling back; the whole
// launch (spawn to exit) minus the probe's time from the result report and
// minus the pacing pauses the window adds (0.5 s).
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kPacingMs = 120 + 180 + 120 + 80;
const char* kTitle = "Preparing Quillon Browser\u2026";

double ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

int listeningSocket(bool listening, int& port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  bind(fd, reinterpret_cast<sockaddr*>(&a), size);
  if (listening) listen(fd, 8);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  port = ntohs(a.sin_port);
  return fd;
}

pid_t spawn(const std::string& launcher, const std::string& profile,
            std::vector<std::string> env) {
  std::vector<std::string> args = {launcher, "--user-data-dir=" + profile};
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  posix_spawn(&pid, launcher.c_str(), nullptr, nullptr, argv.data(), envp.data());
  return pid;
}

void writePersona(const std::string& profile, int port) {
  std::filesystem::create_directories(profile);
  std::ofstream(profile + "/command-line.json")
      << R"({"auto-timezone":true,"on-proxy-fail":"fallback","lang":"de",)"
      << R"("proxy-server":"socks5://127.0.0.1:)" << port << R"("})";
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
  auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, strlen(name), name), nullptr);
  xcb_atom_t a = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
  free(r);
  return a;
}

bool hasTitle(xcb_connection_t* c, xcb_window_t w) {
  auto* r = xcb_get_property_reply(
      c, xcb_get_property(c, 0, w, atom(c, "_NET_WM_NAME"), XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
      nullptr);
  bool match = r && std::string(static_cast<char*>(xcb_get_property_value(r)),
                                xcb_get_property_value_length(r)) == kTitle;
  free(r);
  return match;
}

// Waits (at most 10 s) for the MapNotify of the progress window.
xcb_window_t waitForMap(xcb_connection_t* c, Clock::time_point& mapped) {
  auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    xcb_generic_event_t* e = xcb_poll_for_event(c);
    if (!e) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      continue;
    }
    auto now = Clock::now();
    xcb_window_t window = 0;
    if ((e->response_type & 0x7f) == XCB_MAP_NOTIFY)
      window = reinterpret_cast<xcb_map_notify_event_t*>(e)->window;
    free(e);
    if (window && hasTitle(c, window)) {
      mapped = now;
      return window;
    }
  }
  return 0;
}

void requestClose(xcb_connection_t* c, xcb_window_t w) {
  xcb_client_message_event_t ev{};
  ev.response_type = XCB_CLIENT_MESSAGE;
  ev.format = 32;
  ev.window = w;
  ev.type = atom(c, "WM_PROTOCOLS");
  ev.data.data32[0] = atom(c, "WM_DELETE_WINDOW");
  xcb_send_event(c, 0, w, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&ev));
  xcb_flush(c);
}

long reportElapsedMs(const std::string& profile) {
  std::ifstream in(profile + "/.quillon-launcher-result.json");
  std::stringstream text;
  text << in.rdbuf();
  std::string s = text.str();
  size_t at = s.find("\"elapsed_ms\":");
  return at == std::string::npos ? -1 : atol(s.c_str() + at + 13);
}

bool waitExit(pid_t pid, int& status) {
  for (int i = 0; i < 20000; ++i) {
    if (waitpid(pid, &status, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return false;
}

void reapOrphans() {
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string launcher, engine;
  int runs = 30;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string key = argv[i];
    if (key == "--launcher") launcher = argv[i + 1];
    if (key == "--engine") engine = argv[i + 1];
    if (key == "--runs") runs = atoi(argv[i + 1]);
  }
  const char* display = getenv("DISPLAY");
  if (launcher.empty() || engine.empty() || !display || runs <= 0) {
    fprintf(stderr, "usage: window_bench --launcher PATH --engine PATH [--runs N] (with DISPLAY)\n");
    return 2;
  }
  std::string work = std::filesystem::temp_directory_path() / ("quillon-wbench-" + std::to_string(getpid()));
  std::vector<std::string> env = {"HOME=" + work, "PATH=/usr/bin:/bin", "DISPLAY=" + std::string(display),
                                  "QUILLON_ENGINE_BIN=" + engine};
  if (const char* auth = getenv("XAUTHORITY")) env.push_back("XAUTHORITY=" + std::string(auth));

  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) return 2;
  xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(c);

  std::vector<double> toWindow, withWindow, withoutWindow;
  for (int run = 0; run < runs; ++run) {
    // Window on screen.
    int port = 0;
    int silent = listeningSocket(true, port);
    std::string profile = work + "/slow";
    writePersona(profile, port);
    auto start = Clock::now();
    pid_t pid = spawn(launcher, profile, env);
    Clock::time_point mapped;
    xcb_window_t window = waitForMap(c, mapped);
    if (window) {
      toWindow.push_back(ms(mapped - start));
      requestClose(c, window);
    }
    int status = 0;
    waitExit(pid, status);
    close(silent);
    reapOrphans();

    // Own cost, with and without the window.
    for (bool withDisplay : {true, false}) {
      int refused = listeningSocket(false, port);
      close(refused);
      profile = work + "/fast";
      writePersona(profile, port);
      std::vector<std::string> e = env;
      if (!withDisplay) e.erase(e.begin() + 2);
      start = Clock::now();
      pid = spawn(launcher, profile, e);
      bool ended = waitExit(pid, status);
      double total = ms(Clock::now() - start);
      long probe = reportElapsedMs(profile);
      reapOrphans();
      if (!ended || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || probe < 0) continue;
      (withDisplay ? withWindow : withoutWindow)
          .push_back(total - probe - (withDisplay ? kPacingMs : 0));
    }
  }
  std::filesystem::remove_all(work);
  printf("runs: %d\n", runs);
  printf("start to window on screen, median: %.1f ms (%zu samples, min %.1f, max %.1f)\n",
         median(toWindow), toWindow.size(),
         toWindow.empty() ? 0 : *std::min_element(toWindow.begin(), toWindow.end()),
         toWindow.empty() ? 0 : *std::max_element(toWindow.begin(), toWindow.end()));
  printf("discovery path's own cost with the window, median: %.1f ms (%zu samples)\n",
         median(withWindow), withWindow.size());
  printf("discovery path's own cost without a display, median: %.1f ms (%zu samples)\n",
         median(withoutWindow), withoutWindow.size());
  return 0;
}
