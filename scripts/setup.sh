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
    # Tests and benchmarks on whatever an earlier demo configured, and ctest
    # fails when it finds no test at all.
    cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQUILLON_BUILD_TESTS=ON -DQUILLON_BUILD_BENCH=ON
    cmake --build build -j "$jobs"
    (cd build && ctest --output-on-failure --no-tests=error -j "$jobs")
    # The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer,
    # and a fixed-time libFuzzer run of each fuzz target. The launcher is linked
    # dynamically there (the sanitizers need the loader), so the checks of the
    # static executable, the package and the real browser run only above.
    CC=clang CXX=clang++ cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DQUILLON_BUILD_TESTS=ON -DQUILLON_BUILD_BENCH=OFF -DQUILLON_FUZZ=ON -DQUILLON_SANITIZE=ON
    cmake --build build-sanitize -j "$jobs"
    (cd build-sanitize && ctest --output-on-failure --no-tests=error -j "$jobs" \
      -LE 'browser|package|static')
    # The launcher under ThreadSanitizer on the discovery path, where its threads
    # run (every outcome, through the real proxies), and the orchestration's
    # tables: a race report is output, and the test wants none.
    CC=clang CXX=clang++ cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DQUILLON_BUILD_BENCH=OFF -DQUILLON_TSAN=ON
    cmake --build build-tsan -j "$jobs" --target discovery_unit_tests discovery_launch_tests
    (cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure --no-tests=error \
      -R 'RunDiscovery|ResolvePersona|discovery_launch')
    ;;
  *)
    echo "usage: bash scripts/setup.sh demo|test" >&2
    exit 2
    ;;
esac
