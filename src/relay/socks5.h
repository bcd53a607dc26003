// The SOCKS5 exchanges of the relay (RFC 1928, RFC 1929) as plain functions
// over bytes: the browser side, where the relay is a server that asks for no
// authentication and takes only CONNECT, and the proxy side, where it is a
// client that logs in with a user name and password.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillon::socks5 {

// The reply codes of RFC 1928, section 6.
enum Reply : uint8_t {
  kSucceeded = 0,
  kGeneralFailure = 1,
  kNotAllowed = 2,
  kHostUnreachable = 4,
  kCommandNotSupported = 7,
  kAddressTypeNotSupported = 8,
};

// What reading a message from the start of some bytes gave: more bytes
// needed, a whole message of `used` bytes, or bytes that are no SOCKS5 at
// all (the connection is closed without an answer). A whole message that is
// refused carries the reply to send.
enum class Parse { incomplete, done, malformed };
struct Read {
  Parse parse = Parse::incomplete;
  size_t used = 0;
  Reply reply = kSucceeded;
};

// --- The browser side ---

// VER NMETHODS METHODS: done with kSucceeded when "no authentication" is
// offered, else done with kNotAllowed (answered with method 0xFF).
Read readGreeting(std::string_view bytes);
std::string greetingAnswer(Reply reply);

// VER CMD RSV ATYP ADDR PORT. Done with kSucceeded for a CONNECT to an IPv4
// address, a host name or an IPv6 address; the target is then bytes
// [3, used): ATYP, ADDR and PORT exactly as sent, never resolved. A name with
// a byte outside a host name's letters, digits, '-', '_' and '.' is done with
// kHostUnreachable: it never reaches a proxy.
Read readRequest(std::string_view bytes);

// The answer to a request: the code and an unspecified bound address.
std::string reply(Reply code);

// A target (ATYP ADDR PORT) as "host:port", "[v6]:port" for IPv6.
std::string targetAuthority(std::string_view target);

// --- The proxy side ---

// The greeting that offers only the username/password method.
std::string loginGreeting();
// The method the proxy chose: done with kSucceeded for username/password,
// kNotAllowed when it accepts none of the offered ones.
Read readMethodChoice(std::string_view bytes);

// RFC 1929's request; user and password of at most 255 bytes each.
std::string loginRequest(std::string_view user, std::string_view password);
// RFC 1929's answer, status 0 for success. Version 1 is the RFC's, yet many
// servers answer with 5; both are taken.
Read readLoginAnswer(std::string_view bytes);

// The browser's request for the target as it came: VER CMD RSV then target.
std::string connectRequest(std::string_view target);
// The proxy's reply, whose code the browser gets as it is.
Read readConnectReply(std::string_view bytes);

}  // namespace quillon::socks5
