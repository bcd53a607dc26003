#!/usr/bin/python3
"""Chromium's time to a ready DevTools port, started directly and through the
launcher (QUILLON_ENGINE_KIND=chromium, a persona with proxy, languages and
time zone), and the launcher's own wall time. Runs alternate; every run reuses
one warmed-up profile and closes the browser with Browser.close.
Usage: chromium_start_bench.py LAUNCHER [RUNS] [ENGINE]"""

import json
import os
import shutil
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "browser"))
from chromium_persona_test import DevTools, browser_pids  # noqa: E402

FLAGS = ["--headless=new", "--no-sandbox", "--remote-debugging-port=0", "--disable-gpu",
         "--no-first-run", "--disable-background-networking", "--disable-component-update",
         "--disable-sync", "--password-store=basic"]


def port_ready(port_file):
    try:
        with open(port_file) as f:
            return len(f.read().split()) == 2
    except OSError:
        return False


def start(command, profile, env):
    """Seconds to a ready DevTools port, and the wall time of the started
    process when it exits before that (the launcher)."""
    port_file = os.path.join(profile, "DevToolsActivePort")
    if os.path.exists(port_file):
        os.remove(port_file)
    quiet = [(os.POSIX_SPAWN_OPEN, fd, "/dev/null", os.O_WRONLY, 0) for fd in (1, 2)]
    begin = time.perf_counter()
    pid = os.posix_spawn(command[0], command, env, file_actions=quiet, setsid=True)
    exited = None
    for _ in range(100000):   # at most about 20 s
        if exited is None and os.waitpid(pid, os.WNOHANG)[0] == pid:
            exited = time.perf_counter() - begin
        if port_ready(port_file):
            break
        time.sleep(0.0002)
    else:
        raise RuntimeError("no DevTools port")
    ready = time.perf_counter() - begin
    port, path = open(port_file).read().split()
    DevTools(int(port), path).call("Browser.close")
    for _ in range(200):
        if not browser_pids(profile):
            break
        time.sleep(0.05)
    if exited is None:
        os.waitpid(pid, 0)
    return ready, exited


def main():
    launcher = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 15
    engine = sys.argv[3] if len(sys.argv) > 3 else "/usr/lib/chromium/chromium"
    work = tempfile.mkdtemp(prefix="quillon-bench-")
    try:
        profile = os.path.join(work, "profile")
        os.makedirs(profile)
        with open(os.path.join(profile, "command-line.json"), "w") as f:
            json.dump({"proxy-server": "http://127.0.0.1:9", "lang": "fr-FR",
                       "accept-language": "fr-FR,fr;q=0.9", "timezone-override": "Asia/Tokyo",
                       "start-page": "about:blank"}, f)
        direct_cmd = [engine, "--user-data-dir=" + profile] + FLAGS + ["about:blank"]
        launcher_cmd = [launcher, "--user-data-dir=" + profile] + FLAGS
        env = dict(os.environ, QUILLON_ENGINE_BIN=engine, QUILLON_ENGINE_KIND="chromium")
        start(direct_cmd, profile, env)   # warm-up: first-run files, page cache
        direct, through, wall = [], [], []
        for _ in range(runs):
            direct.append(start(direct_cmd, profile, env)[0])
            ready, exited = start(launcher_cmd, profile, env)
            through.append(ready)
            wall.append(exited)
        med = statistics.median
        print("runs %d, engine %s" % (runs, engine))
        print("Chromium alone, to a ready DevTools port: median %.1f ms (%.1f - %.1f)"
              % (med(direct) * 1e3, min(direct) * 1e3, max(direct) * 1e3))
        print("through the launcher, to a ready DevTools port: median %.1f ms (%.1f - %.1f)"
              % (med(through) * 1e3, min(through) * 1e3, max(through) * 1e3))
        print("launcher wall time: median %.2f ms (%.2f - %.2f), %.2f %% of Chromium's start"
              % (med(wall) * 1e3, min(wall) * 1e3, max(wall) * 1e3,
                 100 * med(wall) / med(direct)))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
