#!/usr/bin/env bash
# Sets up a Debian 12 machine for the launcher and then either runs it on the
# sample persona (demo) or builds and runs the whole test suite (test).
#   bash scripts/setup.sh demo
#   bash scripts/setup.sh test
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-}

build_packages=(cmake make g++ nlohmann-json3-dev qt6-base-dev libxcb1-dev pkg-config)
# The progress window's platform plugins and fonts (its glyphs need Symbola).
desktop_packages=(qt6-qpa-plugins fonts-dejavu-core fonts-symbola)
test_packages=(libgtest-dev curl microsocks openssl python3 iproute2 util-linux mount procps
               clang libclang-rt-14-dev chromium dpkg-dev file xvfb xauth)

install_missing() {
  local missing=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  ((${#missing[@]})) || return 0
  local sudo=()
  ((EUID == 0)) || sudo=(sudo)
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

jobs=$(nproc 2>/dev/null || echo 2)

case "$mode" in
  demo)
    install_missing "${build_packages[@]}" "${desktop_packages[@]}" procps curl microsocks \
      openssl python3 iproute2 util-linux mount
    cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQUILLON_BUILD_TESTS=OFF -DQUILLON_BUILD_BENCH=OFF
    cmake --build build -j "$jobs"
    exec bash scripts/demo.sh
    ;;
  test)
    install_missing "${build_packages[@]}" "${desktop_packages[@]}" "${test_packages[@]}"
    cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
    cmake --build build -j "$jobs"
    (cd build && ctest --output-on-failure -j "$jobs")
    # The egress answer parser again, under AddressSanitizer and
    # UndefinedBehaviorSanitizer, and a fixed-time libFuzzer run over it.
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DQUILLON_BUILD_BENCH=OFF -DQUILLON_FUZZ=ON -DQUILLON_SANITIZE=ON
    cmake --build build-fuzz -j "$jobs" --target fuzz_egress_answer discovery_unit_tests \
      discovery_probe_tests
    (cd build-fuzz && ctest --output-on-failure -R 'fuzz_egress_answer|Egress|ChildProcess|ProbeTest|ErrorReport')
    # The discovery orchestration and the launch's threads under ThreadSanitizer;
    # the first race ends the test.
    CC=clang CXX=clang++ cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DQUILLON_BUILD_BENCH=OFF -DQUILLON_TSAN=ON
    cmake --build build-tsan -j "$jobs" --target discovery_unit_tests unit_tests
    (cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure --no-tests=error \
      -R 'RunDiscovery|ResolvePersona|OverrideSummary|LauncherDelegate')
    ;;
  *)
    echo "usage: bash scripts/setup.sh demo|test" >&2
    exit 2
    ;;
esac
