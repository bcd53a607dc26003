#include "discovery/probe.h"

#include <exception>
#include <new>
#include <vector>

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

std::vector<std::string> curlArguments(const std::string& proxyServer,
                                       const std::string& endpointURL) {
  std::string proxy = "socks5h://" + proxyServer.substr(kSocks5.size());
  return {"--max-time", "10", "-sS", "-x", proxy, endpointURL};
}

DiscoverResult statusFailure(const ChildRun& run, const std::string& proxyServer,
                             const std::string& endpointURL) {
  // A tool killed by a signal has said nothing about the proxy: whatever the
  // signal's number, that is an internal failure.
  DiscoverResult result =
      failure(run.signalled ? kErrorInternal : errorCodeForCurlStatus(run.status),
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
  ChildRun run = runChild(curlPath, curlArguments(proxyServer, endpointURL));
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
