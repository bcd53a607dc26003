// The launcher as a process inside the network of with_test_network.sh, whose
// proxies and responder its variables name.
#pragma once

#include <cstdlib>

#include "launcher_process.h"

namespace quillon::test {

inline std::string env(const char* name) {
  return getenv(name) ? getenv(name) : "";
}

inline std::string proxyAt(const char* portVariable, const std::string& login = "") {
  return "socks5://" + login + "127.0.0.1:" + env(portVariable);
}

class TestNetworkProcess : public LauncherProcess {
 protected:
  void SetUp() override {
    ASSERT_NE(env("QUILLON_TEST_PROXY_PORT"), "") << "run through with_test_network.sh";
    LauncherProcess::SetUp();
    setEnv("CURL_CA_BUNDLE", env("CURL_CA_BUNDLE"));
    setEnv("PATH", "/usr/bin:/bin");
  }
};

}  // namespace quillon::test
