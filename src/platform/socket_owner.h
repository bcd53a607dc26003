// Who owns the other end of a loopback TCP connection. The kernel records the
// user that created each socket; for a connection accepted on loopback, the
// peer's socket is in the same table, so its owner can be asked for.
#pragma once

#include <cstdint>
#include <optional>

namespace quillon {

// The user id that owns the peer socket of the accepted loopback TCP
// connection `connection`, from sock_diag or, when that is not available,
// /proc/net/tcp and /proc/net/tcp6. None when the peer is not found (it went
// away, or it is not on this machine).
std::optional<uint32_t> loopbackPeerOwner(int connection);

// The same, read from /proc/net/tcp and /proc/net/tcp6 only.
std::optional<uint32_t> loopbackPeerOwnerFromProcTable(int connection);

// The user id that owns the socket listening on 127.0.0.1:port, from
// /proc/net/tcp; none when nothing listens there.
std::optional<uint32_t> loopbackListenerOwner(int port);

}  // namespace quillon
