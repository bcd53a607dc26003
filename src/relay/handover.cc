#include "relay/handover.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/detached_helper.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process_info.h"

namespace quillon {

namespace {

int loopbackListener(int& port) {
  int fd = movedHigh(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, SOMAXCONN) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

std::string failure(const char* what) {
  return std::string(what) + ": " + strerror(errno);
}

}  // namespace

std::string relayProxySwitch(std::string_view port) {
  return "--proxy-server=socks5://127.0.0.1:" + std::string(port);
}

RelayStart startRelay(const std::string& relayPath, const RelaySettings& settings) {
  RelayStart relay;
  int listener = loopbackListener(relay.port);
  if (listener < 0) return {-1, 0, failure("no loopback port")};
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
    close(listener);
    return {-1, 0, failure("no socket pair")};
  }
  int relayEnd = movedHigh(pair[1]);
  relay.channel = pair[0];

  static_assert(kRelayListenerFd == 3 && kRelayChannelFd == 4);
  int code = spawnDetachedHelper(relayPath, kRelayName, {}, {listener, relayEnd});
  close(listener);
  close(relayEnd);
  if (code != 0) {
    close(relay.channel);
    errno = code;
    return {-1, 0, failure("posix_spawn failed")};
  }
  // The relay is not waited for: it outlives the launcher, and init reaps it.
  std::string message = encodeRelaySettings(settings);
  if (send(relay.channel, message.data(), message.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(message.size())) {
    std::string error = failure("settings not handed over");
    close(relay.channel);
    return {-1, 0, error};
  }
  return relay;
}

void handEngineToRelay(RelayStart& relay, int enginePid) {
  if (enginePid > 0) {
    int handle = openProcessHandle(enginePid);
    int32_t pid = enginePid;
    iovec data{&pid, sizeof pid};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    if (handle >= 0) {  // without one, the relay watches the process id
      message.msg_control = control;
      message.msg_controllen = sizeof control;
      cmsghdr* rights = CMSG_FIRSTHDR(&message);
      rights->cmsg_level = SOL_SOCKET;
      rights->cmsg_type = SCM_RIGHTS;
      rights->cmsg_len = CMSG_LEN(sizeof(int));
      memcpy(CMSG_DATA(rights), &handle, sizeof handle);
    }
    sendmsg(relay.channel, &message, MSG_NOSIGNAL);
    if (handle >= 0) close(handle);
  }
  close(relay.channel);
  relay.channel = -1;
}

std::optional<RelaySettings> receiveRelaySettings(int channel) {
  pollfd ready{channel, POLLIN, 0};
  if (poll(&ready, 1, 10000) != 1) return std::nullopt;
  std::string message(kMaxRelaySettingsBytes, '\0');
  ssize_t length = recv(channel, message.data(), message.size(), 0);
  if (length <= 0) return std::nullopt;
  message.resize(length);
  std::optional<RelaySettings> settings = decodeRelaySettings(message);
  explicit_bzero(message.data(), message.size());
  return settings;
}

EngineHandle receiveEngine(int channel) {
  int32_t pid = 0;
  iovec data{&pid, sizeof pid};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  EngineHandle engine;
  ssize_t length = recvmsg(channel, &message, MSG_CMSG_CLOEXEC);
  cmsghdr* rights = length > 0 ? CMSG_FIRSTHDR(&message) : nullptr;
  if (rights && rights->cmsg_level == SOL_SOCKET && rights->cmsg_type == SCM_RIGHTS)
    memcpy(&engine.handle, CMSG_DATA(rights), sizeof engine.handle);
  if (length == sizeof pid && pid > 0) {
    engine.pid = pid;
  } else if (engine.handle >= 0) {
    close(engine.handle);
    engine.handle = -1;
  }
  return engine;
}

}  // namespace quillon
