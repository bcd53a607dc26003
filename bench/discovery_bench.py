#!/usr/bin/python3
"""The launcher's own cost on the discovery path: its wall time as a whole
process minus the time curl took (the report's elapsed_ms), through real
microsocks to the loopback geo-IP responder. Run inside the test network:
  tests/discovery/with_test_network.sh GEOIP MYIP bench/discovery_bench.py LAUNCHER ENGINE [RUNS]
"""

import json
import os
import statistics
import subprocess
import sys
import tempfile
import time


def launch(launcher, profile, env):
    start = time.perf_counter()
    status = subprocess.run([launcher, "--user-data-dir=" + profile], env=env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL).returncode
    wall = (time.perf_counter() - start) * 1000
    with open(os.path.join(profile, ".quillon-launcher-result.json")) as f:
        report = json.load(f)
    if status != 0 or report["status"] != "ok" or not report["ip"]:
        sys.exit(f"discovery launch failed: status {status}, report {report}")
    return wall, report["elapsed_ms"]


def main():
    launcher, engine = sys.argv[1:3]
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 100
    profile = tempfile.mkdtemp(prefix="quillon-bench-")
    proxy = "socks5://127.0.0.1:" + os.environ["QUILLON_TEST_PROXY_PORT"]
    with open(os.path.join(profile, "command-line.json"), "w") as f:
        json.dump({"proxy-server": proxy, "auto-timezone": True, "auto-lang": True,
                   "webrtc-no-leak": True}, f)
    env = dict(os.environ, QUILLON_ENGINE_BIN=engine)
    walls, curls, own = [], [], []
    for _ in range(runs):
        wall, curl = launch(launcher, profile, env)
        walls.append(wall)
        curls.append(curl)
        own.append(wall - curl)
    q = statistics.quantiles(own, n=10)
    print(f"{runs} discovery launches through microsocks to the loopback responder")
    print(f"  wall time   median {statistics.median(walls):7.2f} ms")
    print(f"  curl        median {statistics.median(curls):7.2f} ms (elapsed_ms, whole ms)")
    print(f"  launcher's own cost: median {statistics.median(own):.2f} ms, "
          f"p10 {q[0]:.2f} ms, p90 {q[-1]:.2f} ms")


if __name__ == "__main__":
    main()
