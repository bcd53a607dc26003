// The outcome of one egress probe: the proxy's public IP and geo data, or an
// error code and message saying why there is none.
#pragma once

#include <cstdint>
#include <string>

namespace quillon {

// The error codes a probe produces.
inline constexpr const char* kErrorInternal = "INTERNAL";
inline constexpr const char* kErrorCurlNotFound = "CURL_NOT_FOUND";
inline constexpr const char* kErrorProxyUnreachable = "PROXY_UNREACHABLE";
inline constexpr const char* kErrorProxyTimeout = "PROXY_TIMEOUT";
inline constexpr const char* kErrorProxyAuthFailed = "PROXY_AUTH_FAILED";
inline constexpr const char* kErrorDiscoveryHttp = "DISCOVERY_HTTP_ERROR";

// errorCode is empty exactly when the probe succeeded; then message is empty
// and ip holds 7 to 45 characters. Geo fields are text, never converted.
struct DiscoverResult {
  std::string ip;
  int64_t curlExitCode = -1;  // -1 when curl never ran
  int64_t elapsedMs = 0;      // 0 when curl never ran
  std::string errorCode;
  std::string message;
  std::string countryCode;
  std::string timezone;
  std::string latitude;
  std::string longitude;
};

}  // namespace quillon
