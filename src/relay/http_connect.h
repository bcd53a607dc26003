// The HTTP CONNECT exchange with a proxy that wants a login (RFC 9110,
// section 9.3.6, with Basic authentication of RFC 7617), as plain functions
// over bytes, and how its answer becomes the SOCKS5 reply the browser gets.
#pragma once

#include <string>
#include <string_view>

#include "relay/socks5.h"

namespace quillon::http {

// The largest answer head taken from a proxy; a longer one is refused.
inline constexpr size_t kMaxAnswerHead = 8192;

// "CONNECT host:port HTTP/1.1" with Host and Proxy-Authorization: Basic.
std::string connectRequest(std::string_view authority, std::string_view user,
                           std::string_view password);

// The proxy's answer head up to its empty line: done when whole (used is its
// length; bytes after it already belong to the tunnel), with kSucceeded for
// a 2xx status, kNotAllowed for 401 (tinyproxy's), 403 and 407,
// kHostUnreachable for 404, 502, 503 and 504, kGeneralFailure for the rest;
// malformed when it is no HTTP status line or longer than kMaxAnswerHead.
socks5::Read readConnectAnswer(std::string_view bytes);

std::string base64(std::string_view bytes);

}  // namespace quillon::http
