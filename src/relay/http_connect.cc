#include "relay/http_connect.h"

namespace quillon::http {

std::string base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t n = static_cast<uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) n |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) n |= static_cast<uint8_t>(bytes[i + 2]);
    out += kAlphabet[n >> 18 & 63];
    out += kAlphabet[n >> 12 & 63];
    out += i + 1 < bytes.size() ? kAlphabet[n >> 6 & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[n & 63] : '=';
  }
  return out;
}

std::string connectRequest(std::string_view authority, std::string_view user,
                           std::string_view password) {
  std::string login = std::string(user) + ":" + std::string(password);
  return "CONNECT " + std::string(authority) + " HTTP/1.1\r\nHost: " + std::string(authority) +
         "\r\nProxy-Authorization: Basic " + base64(login) + "\r\n\r\n";
}

socks5::Read readConnectAnswer(std::string_view bytes) {
  size_t end = bytes.find("\r\n\r\n");
  if (end == std::string_view::npos) {
    if (bytes.size() >= kMaxAnswerHead)
      return {socks5::Parse::malformed, 0, socks5::kGeneralFailure};
    return {};
  }
  size_t used = end + 4;
  if (used > kMaxAnswerHead) return {socks5::Parse::malformed, 0, socks5::kGeneralFailure};
  // "HTTP/1.x NNN ..."
  std::string_view line = bytes.substr(0, bytes.find("\r\n"));
  bool shaped = line.size() >= 12 && line.starts_with("HTTP/1.") && line[8] == ' ';
  for (size_t i = 9; shaped && i < 12; ++i) shaped = line[i] >= '0' && line[i] <= '9';
  if (!shaped) return {socks5::Parse::malformed, 0, socks5::kGeneralFailure};
  int status = (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
  socks5::Reply reply = socks5::kGeneralFailure;
  if (status / 100 == 2)
    reply = socks5::kSucceeded;
  else if (status == 401 || status == 403 || status == 407)
    reply = socks5::kNotAllowed;
  else if (status == 404 || (status >= 502 && status <= 504))
    reply = socks5::kHostUnreachable;
  return {socks5::Parse::done, used, reply};
}

}  // namespace quillon::http
