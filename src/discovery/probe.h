// The egress probe: runs curl once through the persona's SOCKS5 proxy against
// one endpoint and turns whatever happens into a DiscoverResult.
#pragma once

#include <string>
#include <string_view>

#include "discovery/discover_result.h"

namespace quillon {

inline constexpr const char* kCurlPath = "/usr/bin/curl";

inline constexpr const char* kSchemeMessage =
    "proxy-server is not socks5://\u2026 \u2014 launcher does not handle other schemes";
inline constexpr const char* kCurlMissingMessage =
    "/usr/bin/curl missing \u2014 macOS always ships it; environment is broken";

// Runs curlPath (any tool that honours curl's command line, output and exit
// statuses) as: -q --max-time 10 -sS --noproxy "" -x socks5h://<proxy after
// "socks5://", without user and password> [-K -] URL. A user name and
// password reach the tool as "proxy-user" on its standard input, never on
// its command line. Blocks until the tool ends; never throws.
DiscoverResult probeEgress(const std::string& proxyServer, const std::string& endpointURL,
                           const std::string& curlPath = kCurlPath) noexcept;

// The error code for a tool that ended on its own with this non-zero status.
const char* errorCodeForCurlStatus(int64_t status);

// The same, told apart by the tool's error line where the status is shared
// (a refused SOCKS5 login is "PROXY_AUTH_FAILED").
const char* errorCodeForCurlRun(int64_t status, std::string_view errorOutput);

}  // namespace quillon
