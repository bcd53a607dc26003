#include "platform/socket_owner.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace quillon {

namespace {

struct Ends {
  sockaddr_in peer{};
  sockaddr_in local{};
};

// The two ends as IPv4 addresses: the relay listens on 127.0.0.1 only.
std::optional<Ends> endsOf(int connection) {
  Ends ends;
  socklen_t peerLength = sizeof ends.peer, localLength = sizeof ends.local;
  if (getpeername(connection, reinterpret_cast<sockaddr*>(&ends.peer), &peerLength) != 0 ||
      getsockname(connection, reinterpret_cast<sockaddr*>(&ends.local), &localLength) != 0 ||
      ends.peer.sin_family != AF_INET || ends.local.sin_family != AF_INET)
    return std::nullopt;
  return ends;
}

enum class Asked { found, notFound, unavailable };

// Whether an address sock_diag gives back is the IPv4 end: the kernel finds an
// IPv6 socket on an IPv4-mapped address too, and answers with its family.
bool sameAddress(uint8_t family, const uint32_t (&address)[4], const sockaddr_in& end) {
  if (family == AF_INET) return address[0] == end.sin_addr.s_addr;
  return family == AF_INET6 && address[0] == 0 && address[1] == 0 &&
         address[2] == htonl(0x0000FFFF) && address[3] == end.sin_addr.s_addr;
}

// One exact lookup: the socket whose own address is the peer's and whose
// remote address is ours.
Asked askSockDiag(const Ends& ends, uint32_t& uid) {
  int sock = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (sock < 0) return Asked::unavailable;
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST;
  message.request.sdiag_family = AF_INET;
  message.request.sdiag_protocol = IPPROTO_TCP;
  message.request.idiag_states = ~0U;
  message.request.id.idiag_sport = ends.peer.sin_port;
  message.request.id.idiag_dport = ends.local.sin_port;
  message.request.id.idiag_src[0] = ends.peer.sin_addr.s_addr;
  message.request.id.idiag_dst[0] = ends.local.sin_addr.s_addr;
  message.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  Asked asked = Asked::unavailable;
  alignas(nlmsghdr) char answer[1024];
  if (sendto(sock, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel),
             sizeof kernel) == sizeof message) {
    ssize_t length = recv(sock, answer, sizeof answer, 0);
    auto* header = reinterpret_cast<nlmsghdr*>(answer);
    if (length >= static_cast<ssize_t>(sizeof(nlmsghdr)) && NLMSG_OK(header, length)) {
      if (header->nlmsg_type == SOCK_DIAG_BY_FAMILY &&
          header->nlmsg_len >= NLMSG_LENGTH(sizeof(inet_diag_msg))) {
        auto* found = static_cast<inet_diag_msg*>(NLMSG_DATA(header));
        bool same = found->id.idiag_sport == ends.peer.sin_port &&
                    found->id.idiag_dport == ends.local.sin_port &&
                    sameAddress(found->idiag_family, found->id.idiag_src, ends.peer) &&
                    sameAddress(found->idiag_family, found->id.idiag_dst, ends.local);
        uid = found->idiag_uid;
        asked = same ? Asked::found : Asked::notFound;
      } else if (header->nlmsg_type == NLMSG_ERROR &&
                 header->nlmsg_len >= NLMSG_LENGTH(sizeof(nlmsgerr))) {
        int error = -static_cast<nlmsgerr*>(NLMSG_DATA(header))->error;
        asked = error == ENOENT ? Asked::notFound : Asked::unavailable;
      }
    }
  }
  close(sock);
  return asked;
}

// A table row's "ADDRESS:PORT" as the kernel prints it: the address's bytes
// as it holds them, then the port, in hexadecimal.
std::string rowAddress(const sockaddr_in& end, bool mapped) {
  char text[64];
  uint32_t address = end.sin_addr.s_addr;
  if (mapped)
    snprintf(text, sizeof text, "0000000000000000%08X%08X:%04X", htonl(0x0000FFFF), address,
             ntohs(end.sin_port));
  else
    snprintf(text, sizeof text, "%08X:%04X", address, ntohs(end.sin_port));
  return text;
}

std::optional<uint32_t> ownerInTable(const char* path, const Ends& ends, bool mapped) {
  FILE* table = fopen(path, "re");
  if (!table) return std::nullopt;
  std::string peer = rowAddress(ends.peer, mapped), local = rowAddress(ends.local, mapped);
  std::optional<uint32_t> owner;
  char line[512];
  if (fgets(line, sizeof line, table)) {  // the heading
    char own[64], remote[64];
    unsigned uid;
    while (!owner && fgets(line, sizeof line, table)) {
      if (sscanf(line, " %*s %63s %63s %*s %*s %*s %*s %u", own, remote, &uid) == 3 &&
          peer == own && local == remote)
        owner = uid;
    }
  }
  fclose(table);
  return owner;
}

}  // namespace

std::optional<uint32_t> loopbackListenerOwner(int port) {
  FILE* table = fopen("/proc/net/tcp", "re");
  if (!table) return std::nullopt;
  char wanted[32], line[512], own[64], state[8];
  snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
  std::optional<uint32_t> owner;
  unsigned uid;
  while (!owner && fgets(line, sizeof line, table))
    if (sscanf(line, " %*s %63s %*s %7s %*s %*s %*s %u", own, state, &uid) == 3 &&
        strcmp(own, wanted) == 0 && strcmp(state, "0A") == 0)  // 0A: listening
      owner = uid;
  fclose(table);
  return owner;
}

std::optional<uint32_t> loopbackPeerOwnerFromProcTable(int connection) {
  std::optional<Ends> ends = endsOf(connection);
  if (!ends) return std::nullopt;
  if (std::optional<uint32_t> owner = ownerInTable("/proc/net/tcp", *ends, false)) return owner;
  return ownerInTable("/proc/net/tcp6", *ends, true);  // an IPv6 socket on a mapped address
}

std::optional<uint32_t> loopbackPeerOwner(int connection) {
  std::optional<Ends> ends = endsOf(connection);
  if (!ends) return std::nullopt;
  uint32_t uid = 0;
  switch (askSockDiag(*ends, uid)) {
    case Asked::found:
      return uid;
    case Asked::notFound:
      return std::nullopt;
    case Asked::unavailable:
      return loopbackPeerOwnerFromProcTable(connection);
  }
  return std::nullopt;
}

}  // namespace quillon
