#include "discovery/probe.h"

#include <exception>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

#include "config/proxy_url.h"
#include "discovery/egress_answer.h"
#include "platform/child_process.h"
#include "platform/files.h"

namespace quillon {

namespace {

constexpr std::string_view kSocks5 = "socks5://";

DiscoverResult failure(const char* code, std::string message) {
  DiscoverResult result;
  result.errorCode = code;
  result.message = std::move(message);
  return result;
}

// The proxy for curl's command line: "socks5h://" and the configured text
// after "socks5://" without its user name and password, which go to curl
// through its standard input instead (see curlConfig).
struct CurlProxy {
  std::string url;
  std::optional<std::string> login;  // "user:password", percent-decoded
};

CurlProxy curlProxy(const std::string& proxyServer) {
  ProxyUrl parts = splitProxyUrl(proxyServer);
  std::string url = "socks5h://" + std::string(parts.hostPart);
  if (!parts.userinfo || parts.userinfo->empty()) return {url, std::nullopt};
  size_t colon = parts.userinfo->find(':');
  std::string login = percentDecoded(parts.userinfo->substr(0, colon)) + ":";
  if (colon != std::string_view::npos) login += percentDecoded(parts.userinfo->substr(colon + 1));
  return {url, login};
}

// A curl configuration that gives the proxy login, as a quoted value.
std::string curlConfig(const std::string& login) {
  std::string quoted;
  for (char c : login) {
    switch (c) {
      case '\\': quoted += "\\\\"; break;
      case '"': quoted += "\\\""; break;
      case '\n': quoted += "\\n"; break;
      case '\r': quoted += "\\r"; break;
      case '\t': quoted += "\\t"; break;
      case '\v': quoted += "\\v"; break;
      default: quoted.push_back(c);
    }
  }
  return "proxy-user = \"" + quoted + "\"\n";
}

// curl reads no configuration file of the user's (-q) and honours no
// no-proxy setting: the request always goes through the persona's proxy.
std::vector<std::string> curlArguments(const CurlProxy& proxy, const std::string& endpointURL) {
  std::vector<std::string> args = {"-q", "--max-time", "10", "-sS", "--noproxy", "", "-x", proxy.url};
  if (proxy.login) args.insert(args.end(), {"-K", "-"});
  args.push_back(endpointURL);
  return args;
}

DiscoverResult statusFailure(const ChildRun& run, const std::string& proxyServer,
                             const std::string& endpointURL) {
  // A tool killed by a signal has said nothing about the proxy: whatever the
  // signal's number, that is an internal failure.
  DiscoverResult result =
      failure(run.signalled ? kErrorInternal : errorCodeForCurlRun(run.status, run.errorOutput),
              "curl exit " + std::to_string(run.status) + " against " + endpointURL + " via " +
                  proxyServer + " after " + std::to_string(run.elapsedMs) + " ms");
  result.curlExitCode = run.status;
  result.elapsedMs = run.elapsedMs;
  return result;
}

DiscoverResult probe(const std::string& proxyServer, const std::string& endpointURL,
                     const std::string& curlPath) {
  if (proxyServer.compare(0, kSocks5.size(), kSocks5) != 0)
    return failure(kErrorInternal, kSchemeMessage);
  if (!isExecutableFile(curlPath)) return failure(kErrorCurlNotFound, kCurlMissingMessage);
  CurlProxy proxy = curlProxy(proxyServer);
  std::optional<std::string> config;
  if (proxy.login) config = curlConfig(*proxy.login);
  ChildRun run = runChild(curlPath, curlArguments(proxy, endpointURL), kMaxChildOutputBytes, config);
  if (!run.launched || !run.exited)
    return failure(kErrorInternal, "Process.run(curl) failed: " + run.launchError);
  if (run.signalled || run.status != 0) return statusFailure(run, proxyServer, endpointURL);
  if (run.outputBytes > run.output.size())
    return classifyOversizedAnswer(run.output, run.outputBytes, run.elapsedMs);
  return classifyAnswer(run.output, run.elapsedMs);
}

// The record for a failure of the launcher itself, such as running out of
// memory. Building the message may fail again; the code always stands.
DiscoverResult internalFailure(const char* what) noexcept {
  DiscoverResult result;
  result.errorCode = kErrorInternal;  // short enough never to allocate
  try {
    result.message = std::string("egress probe failed: ") + what;
  } catch (...) {
  }
  return result;
}

}  // namespace

const char* errorCodeForCurlStatus(int64_t status) {
  switch (status) {
    case 7:
      return kErrorProxyUnreachable;
    case 28:
      return kErrorProxyTimeout;
    case 56:
    case 67:
      return kErrorProxyAuthFailed;
    default:
      return kErrorInternal;
  }
}

const char* errorCodeForCurlRun(int64_t status, std::string_view errorOutput) {
  // curl reports a SOCKS5 login that the proxy refuses like a target that
  // the proxy cannot reach; only its error line tells them apart.
  if (status == 97 && (errorOutput.find("User was rejected by the SOCKS5 server") !=
                           std::string_view::npos ||
                       errorOutput.find("No authentication method was acceptable") !=
                           std::string_view::npos))
    return kErrorProxyAuthFailed;
  return errorCodeForCurlStatus(status);
}

DiscoverResult probeEgress(const std::string& proxyServer, const std::string& endpointURL,
                           const std::string& curlPath) noexcept {
  try {
    return probe(proxyServer, endpointURL, curlPath);
  } catch (const std::bad_alloc&) {
    return internalFailure("out of memory");
  } catch (const std::exception& e) {
    return internalFailure(e.what());
  } catch (...) {
    return internalFailure("unknown error");
  }
}

}  // namespace quillon
