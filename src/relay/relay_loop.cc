#include "relay/relay_loop.h"

#include <fcntl.h>
#include <netdb.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <list>
#include <string>
#include <vector>

#include "platform/socket_owner.h"
#include "relay/browser_watch.h"
#include "relay/handover.h"
#include "relay/http_connect.h"
#include "relay/socks5.h"

namespace quillon {

namespace {

// Enough for any SOCKS5 message; an HTTP answer head may take kMaxAnswerHead.
constexpr size_t kMaxSocksMessage = 600;
// A connection holds two sockets and two pipes.
constexpr int kDescriptorsPerConnection = 6;
// Runs of one busy tunnel before the others get their turn.
constexpr int kRoundsPerTurn = 16;

int64_t nowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

struct ProxyAddress {
  sockaddr_storage address;
  socklen_t length;
};

// The only name the relay ever resolves: the proxy's own host.
std::vector<ProxyAddress> resolveProxy(const RelaySettings& settings) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  std::vector<ProxyAddress> addresses;
  if (getaddrinfo(settings.host.c_str(), settings.port.c_str(), &hints, &found) != 0) return {};
  for (addrinfo* a = found; a; a = a->ai_next) {
    ProxyAddress address{};
    memcpy(&address.address, a->ai_addr, a->ai_addrlen);
    address.length = a->ai_addrlen;
    addresses.push_back(address);
  }
  freeaddrinfo(found);
  return addresses;
}

enum class Stage { greeting, request, connecting, method, login, answer, tunnel };

struct Connection;
struct Side {
  Connection* connection;
  bool proxy;
};

// One direction of a tunnel: bytes spliced from a socket into the pipe and
// from the pipe into the other socket.
struct Flow {
  int pipe[2] = {-1, -1};
  size_t queued = 0;
  bool ended = false;  // the source said end of stream
  bool shut = false;   // and the destination was told
};

struct Connection {
  int browser = -1;
  int proxy = -1;
  Side browserSide{this, false};
  Side proxySide{this, true};
  Stage stage = Stage::greeting;
  std::string fromBrowser;  // exchange bytes not used yet
  std::string fromProxy;
  std::string target;  // ATYP ADDR PORT as the browser sent it
  size_t nextAddress = 0;
  int64_t deadline = 0;
  Flow up, down;  // up: browser to proxy
  bool closed = false;
  bool queuedForTurn = false;
};

enum class Moved { nothing, some, failed };

class Relay {
 public:
  Relay(int listener, int channel, const RelaySettings& settings, const RelayLimits& limits)
      : listener_(listener),
        channel_(channel),
        settings_(settings),
        limits_(limits),
        browsers_(listenerProxySwitch(listener), limits.browsers) {}
  void run();

 private:
  void watch(int fd, uint32_t events, void* data) {
    epoll_event event{events, {.ptr = data}};
    epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
  }
  void acceptSome();
  void setAccepting(bool on);
  void onEvent(Side* side, uint32_t events);
  void advance(Connection& c, bool proxyEvent, uint32_t events);
  bool readAvailable(int fd, std::string& into, size_t cap, bool& ended);
  void startConnect(Connection& c);
  void fail(Connection& c, socks5::Reply reply);
  void startTunnel(Connection& c);
  void pump(Connection& c);
  void close(Connection& c);
  void endOfEngine();

  int listener_, channel_;
  const RelaySettings& settings_;
  RelayLimits limits_;
  int epoll_ = -1;
  BrowserWatch browsers_;
  bool accepting_ = false;
  bool ending_ = false;
  int64_t endBy_ = 0;
  size_t maxConnections_ = 0;
  std::vector<ProxyAddress> proxyAddresses_;
  std::list<Connection> connections_;
  std::vector<Connection*> turns_;  // tunnels with more to move
  char listenerTag_ = 0, channelTag_ = 0, engineTag_ = 0;
};

bool sendWhole(int fd, std::string_view bytes) {
  return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

void Relay::setAccepting(bool on) {
  if (on == accepting_ || listener_ < 0) return;
  epoll_event event{on ? static_cast<uint32_t>(EPOLLIN) : 0u, {.ptr = &listenerTag_}};
  epoll_ctl(epoll_, EPOLL_CTL_MOD, listener_, &event);
  accepting_ = on;
}

void Relay::acceptSome() {
  for (int i = 0; i < 64 && connections_.size() < maxConnections_; ++i) {
    int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) break;
    // Only this user's processes: anyone else is closed before a byte moves.
    std::optional<uint32_t> owner = loopbackPeerOwner(fd);
    if (!owner || *owner != geteuid()) {
      ::close(fd);
      continue;
    }
    Connection& c = connections_.emplace_back();
    c.browser = fd;
    c.deadline = nowMs() + limits_.exchangeSeconds * 1000;
    watch(fd, EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET, &c.browserSide);
  }
  setAccepting(connections_.size() < maxConnections_);
}

bool Relay::readAvailable(int fd, std::string& into, size_t cap, bool& ended) {
  char buffer[1024];
  while (into.size() < cap) {
    ssize_t n = recv(fd, buffer, std::min(sizeof buffer, cap - into.size()), 0);
    if (n > 0) {
      into.append(buffer, n);
    } else if (n == 0) {
      ended = true;
      return true;
    } else {
      return errno == EAGAIN || errno == EINTR;
    }
  }
  return true;
}

void Relay::fail(Connection& c, socks5::Reply reply) {
  sendWhole(c.browser, socks5::reply(reply));
  close(c);
}

void Relay::startConnect(Connection& c) {
  if (proxyAddresses_.empty()) proxyAddresses_ = resolveProxy(settings_);
  while (c.nextAddress < proxyAddresses_.size()) {
    const ProxyAddress& address = proxyAddresses_[c.nextAddress++];
    int fd = socket(address.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) break;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address.address), address.length) == 0 ||
        errno == EINPROGRESS) {
      c.proxy = fd;
      c.stage = Stage::connecting;
      watch(fd, EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET, &c.proxySide);
      return;
    }
    ::close(fd);
  }
  fail(c, socks5::kGeneralFailure);  // the proxy cannot be reached: nothing goes elsewhere
}

void Relay::advance(Connection& c, bool proxyEvent, uint32_t events) {
  bool ended = false;
  if (!proxyEvent && c.stage > Stage::request) {
    // The browser waits for the answer. A half-close (EPOLLRDHUP alone) is
    // no giving up: the tunnel will carry its end of stream to the proxy.
    if (events & (EPOLLHUP | EPOLLERR)) close(c);
    return;
  }
  if (c.stage <= Stage::request) {
    if (!readAvailable(c.browser, c.fromBrowser, kMaxSocksMessage, ended)) return close(c);
    if (c.stage == Stage::greeting) {
      socks5::Read read = socks5::readGreeting(c.fromBrowser);
      if (read.parse == socks5::Parse::malformed) return close(c);
      if (read.parse == socks5::Parse::incomplete) return ended ? close(c) : void();
      if (!sendWhole(c.browser, socks5::greetingAnswer(read.reply)) ||
          read.reply != socks5::kSucceeded)
        return close(c);
      c.fromBrowser.erase(0, read.used);
      c.stage = Stage::request;
    }
    socks5::Read read = socks5::readRequest(c.fromBrowser);
    if (read.parse == socks5::Parse::malformed) return close(c);
    if (read.parse == socks5::Parse::incomplete) return ended ? close(c) : void();
    if (read.reply != socks5::kSucceeded) return fail(c, read.reply);
    c.target = c.fromBrowser.substr(3, read.used - 3);
    c.fromBrowser.erase(0, read.used);
    return startConnect(c);
  }
  if (c.stage == Stage::connecting) {
    int error = 0;
    socklen_t length = sizeof error;
    getsockopt(c.proxy, SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0 || (events & (EPOLLERR | EPOLLHUP))) {
      epoll_ctl(epoll_, EPOLL_CTL_DEL, c.proxy, nullptr);
      ::close(c.proxy);
      c.proxy = -1;
      return startConnect(c);  // the proxy's next address, if it has one
    }
    if (!(events & EPOLLOUT)) return;
    bool socks = settings_.kind == UpstreamKind::socks5;
    std::string first = socks ? socks5::loginGreeting()
                              : http::connectRequest(socks5::targetAuthority(c.target),
                                                     settings_.user, settings_.password);
    if (!sendWhole(c.proxy, first)) return fail(c, socks5::kGeneralFailure);
    c.stage = socks ? Stage::method : Stage::answer;
  }
  size_t cap = settings_.kind == UpstreamKind::http ? http::kMaxAnswerHead : kMaxSocksMessage;
  if (!readAvailable(c.proxy, c.fromProxy, cap, ended)) return fail(c, socks5::kGeneralFailure);
  for (;;) {
    socks5::Read read;
    switch (c.stage) {
      case Stage::method:
        read = socks5::readMethodChoice(c.fromProxy);
        break;
      case Stage::login:
        read = socks5::readLoginAnswer(c.fromProxy);
        break;
      case Stage::answer:
        read = settings_.kind == UpstreamKind::socks5 ? socks5::readConnectReply(c.fromProxy)
                                                      : http::readConnectAnswer(c.fromProxy);
        break;
      default:
        return;
    }
    if (read.parse == socks5::Parse::malformed) return fail(c, socks5::kGeneralFailure);
    if (read.parse == socks5::Parse::incomplete)
      return ended ? fail(c, socks5::kGeneralFailure) : void();
    if (read.reply != socks5::kSucceeded) return fail(c, read.reply);
    c.fromProxy.erase(0, read.used);
    if (c.stage == Stage::method) {
      if (!sendWhole(c.proxy, socks5::loginRequest(settings_.user, settings_.password)))
        return fail(c, socks5::kGeneralFailure);
      c.stage = Stage::login;
    } else if (c.stage == Stage::login) {
      if (!sendWhole(c.proxy, socks5::connectRequest(c.target)))
        return fail(c, socks5::kGeneralFailure);
      c.stage = Stage::answer;
    } else {
      if (!sendWhole(c.browser, socks5::reply(socks5::kSucceeded))) return close(c);
      // Bytes either side sent early belong to the tunnel.
      if ((!c.fromProxy.empty() && !sendWhole(c.browser, c.fromProxy)) ||
          (!c.fromBrowser.empty() && !sendWhole(c.proxy, c.fromBrowser)))
        return close(c);
      if (ended) c.down.ended = true;
      return startTunnel(c);
    }
  }
}

void Relay::startTunnel(Connection& c) {
  std::string().swap(c.fromBrowser);
  std::string().swap(c.fromProxy);
  std::string().swap(c.target);
  if (pipe2(c.up.pipe, O_NONBLOCK | O_CLOEXEC) != 0 ||
      pipe2(c.down.pipe, O_NONBLOCK | O_CLOEXEC) != 0)
    return close(c);
  c.stage = Stage::tunnel;
  pump(c);
}

// Moves what is ready from one socket through its pipe into the other.
Moved move(int from, int to, Flow& flow) {
  constexpr size_t kPipeBytes = 65536;  // a pipe's default capacity
  bool moved = false;
  if (!flow.ended && flow.queued < kPipeBytes) {
    ssize_t n = splice(from, nullptr, flow.pipe[1], nullptr, kPipeBytes - flow.queued,
                       SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    if (n > 0)
      flow.queued += n;
    else if (n == 0)
      flow.ended = true;
    else if (errno != EAGAIN && errno != EINTR)
      return Moved::failed;
    moved = n >= 0;
  }
  if (flow.queued > 0) {
    ssize_t n =
        splice(flow.pipe[0], nullptr, to, nullptr, flow.queued, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    if (n > 0)
      flow.queued -= n;
    else if (n < 0 && errno != EAGAIN && errno != EINTR)
      return Moved::failed;
    moved = moved || n > 0;
  }
  if (flow.ended && flow.queued == 0 && !flow.shut) {
    shutdown(to, SHUT_WR);
    flow.shut = true;
  }
  return moved ? Moved::some : Moved::nothing;
}

void Relay::pump(Connection& c) {
  for (int round = 0; round < kRoundsPerTurn; ++round) {
    Moved up = move(c.browser, c.proxy, c.up);
    Moved down = up == Moved::failed ? Moved::failed : move(c.proxy, c.browser, c.down);
    if (up == Moved::failed || down == Moved::failed || (c.up.shut && c.down.shut)) return close(c);
    if (up == Moved::nothing && down == Moved::nothing) return;
  }
  if (!c.queuedForTurn) {  // still moving: again after the others
    c.queuedForTurn = true;
    turns_.push_back(&c);
  }
}

void Relay::close(Connection& c) {
  if (c.closed) return;
  c.closed = true;
  for (int fd : {c.browser, c.proxy, c.up.pipe[0], c.up.pipe[1], c.down.pipe[0], c.down.pipe[1]})
    if (fd >= 0) ::close(fd);  // closing takes it out of the epoll set
}

void Relay::onEvent(Side* side, uint32_t events) {
  Connection& c = *side->connection;
  if (c.closed) return;
  if (c.stage == Stage::tunnel) return pump(c);
  advance(c, side->proxy, events);
}

void Relay::endOfEngine() {
  if (ending_) return;
  ending_ = true;
  endBy_ = nowMs() + limits_.closingSeconds * 1000;
  epoll_ctl(epoll_, EPOLL_CTL_DEL, listener_, nullptr);
  ::close(listener_);
  listener_ = -1;
}

void Relay::run() {
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  if (epoll_ < 0) return;
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);
  getrlimit(RLIMIT_NOFILE, &files);
  rlim_t usable = files.rlim_cur > 64 ? files.rlim_cur - 32 : 0;
  maxConnections_ = std::min<rlim_t>(usable / kDescriptorsPerConnection, 100000);
  proxyAddresses_ = resolveProxy(settings_);

  fcntl(listener_, F_SETFL, fcntl(listener_, F_GETFL) | O_NONBLOCK);
  watch(listener_, EPOLLIN, &listenerTag_);
  accepting_ = true;
  watch(channel_, EPOLLIN, &channelTag_);
  watch(browsers_.fd(), EPOLLIN, &engineTag_);

  epoll_event events[128];
  int64_t nextSweep = nowMs() + 1000;
  while (!ending_ || (!connections_.empty() && nowMs() < endBy_)) {
    int timeout = turns_.empty() ? 1000 : 0;
    int n = epoll_wait(epoll_, events, 128, timeout);
    if (n < 0 && errno != EINTR) break;
    for (int i = 0; i < n; ++i) {
      void* tag = events[i].data.ptr;
      if (tag == &listenerTag_) {
        if (listener_ >= 0) acceptSome();
      } else if (tag == &channelTag_) {
        EngineHandle engine = receiveEngine(channel_);
        epoll_ctl(epoll_, EPOLL_CTL_DEL, channel_, nullptr);
        ::close(channel_);
        channel_ = -1;
        browsers_.start(engine);
      } else if (tag == &engineTag_) {
        if (!browsers_.update()) endOfEngine();  // no browser may use the port any more
      } else {
        onEvent(static_cast<Side*>(tag), events[i].events);
      }
    }
    std::vector<Connection*> turns;
    turns.swap(turns_);
    for (Connection* c : turns) {
      c->queuedForTurn = false;
      if (!c->closed) pump(*c);
    }
    int64_t now = nowMs();
    if (now >= nextSweep) {
      nextSweep = now + 1000;
      for (Connection& c : connections_)
        if (c.stage != Stage::tunnel && now >= c.deadline) close(c);
    }
    std::erase_if(turns_, [](Connection* c) { return c->closed; });
    for (auto it = connections_.begin(); it != connections_.end();)
      it = it->closed ? connections_.erase(it) : std::next(it);
    if (!ending_) setAccepting(connections_.size() < maxConnections_);
  }
  for (Connection& c : connections_) close(c);
}

}  // namespace

void runRelayLoop(int listener, int channel, const RelaySettings& settings,
                  const RelayLimits& limits) {
  Relay relay(listener, channel, settings, limits);
  relay.run();
}

}  // namespace quillon
