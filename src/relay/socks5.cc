#include "relay/socks5.h"

namespace quillon::socks5 {

namespace {

constexpr uint8_t kVersion = 5;
constexpr uint8_t kNoAuthentication = 0;
constexpr uint8_t kUsernamePassword = 2;
constexpr uint8_t kNoAcceptableMethod = 0xFF;
constexpr uint8_t kConnect = 1;
constexpr uint8_t kIPv4 = 1, kDomainName = 3, kIPv6 = 4;

uint8_t byteAt(std::string_view bytes, size_t i) {
  return static_cast<uint8_t>(bytes[i]);
}

Read incomplete() {
  return {};
}
Read malformed() {
  return {Parse::malformed, 0, kGeneralFailure};
}
Read done(size_t used, Reply reply = kSucceeded) {
  return {Parse::done, used, reply};
}

// The length of ATYP ADDR PORT at the start of bytes: 0 while incomplete,
// npos for an address type that is not known.
size_t targetLength(std::string_view bytes) {
  if (bytes.empty()) return 0;
  size_t length;
  switch (byteAt(bytes, 0)) {
    case kIPv4:
      length = 1 + 4 + 2;
      break;
    case kIPv6:
      length = 1 + 16 + 2;
      break;
    case kDomainName:
      if (bytes.size() < 2) return 0;
      length = 2 + byteAt(bytes, 1) + 2;
      break;
    default:
      return std::string_view::npos;
  }
  return bytes.size() < length ? 0 : length;
}

// A host name's characters: letters, digits, '-', '_' and '.'. Anything else
// (control bytes, spaces, '@', '/', ':') could change what a proxy reads.
bool isHostName(std::string_view name) {
  for (char c : name) {
    bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   c == '-' || c == '_' || c == '.';
    if (!allowed) return false;
  }
  return true;
}

}  // namespace

Read readGreeting(std::string_view bytes) {
  if (bytes.size() < 2) return incomplete();
  if (byteAt(bytes, 0) != kVersion) return malformed();
  size_t used = 2 + byteAt(bytes, 1);
  if (bytes.size() < used) return incomplete();
  for (size_t i = 2; i < used; ++i)
    if (byteAt(bytes, i) == kNoAuthentication) return done(used);
  return done(used, kNotAllowed);
}

std::string greetingAnswer(Reply reply) {
  return {static_cast<char>(kVersion),
          static_cast<char>(reply == kSucceeded ? kNoAuthentication : kNoAcceptableMethod)};
}

Read readRequest(std::string_view bytes) {
  if (bytes.size() < 4) return incomplete();
  if (byteAt(bytes, 0) != kVersion || byteAt(bytes, 2) != 0) return malformed();
  size_t length = targetLength(bytes.substr(3));
  if (length == std::string_view::npos) return done(4, kAddressTypeNotSupported);
  if (length == 0) return incomplete();
  if (byteAt(bytes, 3) == kDomainName) {
    if (byteAt(bytes, 4) == 0) return malformed();
    if (!isHostName(bytes.substr(5, byteAt(bytes, 4)))) return done(3 + length, kHostUnreachable);
  }
  return done(3 + length, byteAt(bytes, 1) == kConnect ? kSucceeded : kCommandNotSupported);
}

std::string reply(Reply code) {
  return std::string{static_cast<char>(kVersion), static_cast<char>(code), 0, kIPv4} +
         std::string(6, '\0');
}

std::string targetAuthority(std::string_view target) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string host;
  std::string_view port = target.substr(target.size() - 2);
  switch (byteAt(target, 0)) {
    case kIPv4:
      for (size_t i = 1; i <= 4; ++i)
        host.append(i > 1 ? "." : "").append(std::to_string(byteAt(target, i)));
      break;
    case kIPv6:  // every group in full: plain and unambiguous
      host = "[";
      for (size_t i = 1; i <= 16; i += 2) {
        if (i > 1) host += ':';
        unsigned group = byteAt(target, i) << 8 | byteAt(target, i + 1);
        bool leading = true;
        for (int shift = 12; shift >= 0; shift -= 4) {
          unsigned digit = (group >> shift) & 0xF;
          if (digit == 0 && leading && shift > 0) continue;
          leading = false;
          host += kHex[digit];
        }
      }
      host += "]";
      break;
    default:
      host = target.substr(2, byteAt(target, 1));
  }
  return host + ":" + std::to_string(byteAt(port, 0) << 8 | byteAt(port, 1));
}

std::string loginGreeting() {
  return {static_cast<char>(kVersion), 1, static_cast<char>(kUsernamePassword)};
}

Read readMethodChoice(std::string_view bytes) {
  if (bytes.size() < 2) return incomplete();
  if (byteAt(bytes, 0) != kVersion) return malformed();
  if (byteAt(bytes, 1) == kUsernamePassword) return done(2);
  return done(2, byteAt(bytes, 1) == kNoAcceptableMethod ? kNotAllowed : kGeneralFailure);
}

std::string loginRequest(std::string_view user, std::string_view password) {
  std::string request{1, static_cast<char>(user.size())};
  request.append(user).push_back(static_cast<char>(password.size()));
  return request.append(password);
}

Read readLoginAnswer(std::string_view bytes) {
  if (bytes.size() < 2) return incomplete();
  if (byteAt(bytes, 0) != 1 && byteAt(bytes, 0) != kVersion) return malformed();
  return done(2, byteAt(bytes, 1) == 0 ? kSucceeded : kNotAllowed);
}

std::string connectRequest(std::string_view target) {
  return std::string{static_cast<char>(kVersion), static_cast<char>(kConnect), 0}.append(target);
}

Read readConnectReply(std::string_view bytes) {
  if (bytes.size() < 4) return incomplete();
  if (byteAt(bytes, 0) != kVersion) return malformed();
  size_t length = targetLength(bytes.substr(3));
  if (length == std::string_view::npos) return malformed();
  if (length == 0) return incomplete();
  return done(3 + length, static_cast<Reply>(byteAt(bytes, 1)));
}

}  // namespace quillon::socks5
