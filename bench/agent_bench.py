#!/usr/bin/python3
"""The persona agent's cost, measured on Debian's Chromium, headless, on loopback only:
1. the start through the launcher to the first page's load event, with the agent (a persona with
   hardware-concurrency) and without (the same persona without it), runs alternating on one
   warmed-up profile;
2. how long the agent holds a new target: the bench starts Chromium with the launcher's switches
   and the built agent on pipes of its own, copies the bytes both ways and times, per session,
   Chromium's Target.attachedToTarget to the agent's Runtime.runIfWaitingForDebugger, for dedicated
   workers, cross-site iframes and tabs;
3. the agent's memory at idle and with 500 targets alive;
4. a console-timing probe in the page, with the agent and without, and with a DevTools client
   that enabled Runtime, which the probe is meant to see.
The pages are served by a child process, so that its threads do not hold up the copying.
Usage: agent_bench.py LAUNCHER AGENT [RUNS] [ENGINE]"""

import contextlib, fcntl, http.server, json, math, os, pathlib, statistics, sys, tempfile
import threading, time, urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "browser"))
from chromium_persona_test import DevTools, browser_pids  # noqa: E402

FLAGS = ["--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--password-store=basic"]
CORES = 6  # the persona's processor count; the machine's differs, so the pages show the agent
PAUSED = (("worker", "dedicated workers"), ("iframe", "cross-site iframes"), ("page", "tabs"))
QUIET = [(os.POSIX_SPAWN_OPEN, fd, "/dev/null", os.O_WRONLY, 0) for fd in (1, 2)]

# The start page reports its load event, then times 20 console.log calls of a large array.
START = """<title>start</title><script>addEventListener('load', async () => {
  await fetch('/loaded?run=%(run)s&cores=' + navigator.hardwareConcurrency);
  const big = Array.from({length: 20000}, (_, i) => i), begin = performance.now();
  for (let i = 0; i < 20; i++) console.log(big);
  fetch('/probe?run=%(run)s&ms=' + (performance.now() - begin)); })</script>"""
# Workers and cross-site frames, each answering with its processor count; the page reports once
# all have answered, with how many showed another count than the persona's.
MANY = """<title>many</title><script>window.kept = []; let answers = 0, wrong = 0;
const answered = cores => { wrong += cores != %(cores)d;
  if (++answers == %(workers)d + %(frames)d) fetch('/ready?tag=%(tag)s&wrong=' + wrong); };
addEventListener('message', e => answered(e.data));
for (let i = 0; i < %(workers)d; i++) {
  const worker = new Worker('/worker.js'); worker.onmessage = e => answered(e.data);
  kept.push(worker); }
for (let i = 0; i < %(frames)d; i++) {
  const frame = document.createElement('iframe'); frame.src = '%(frame)s?' + i;
  document.documentElement.appendChild(frame); }</script>"""
WORKER = b"postMessage(navigator.hardwareConcurrency)"
FRAME = b"<script>parent.postMessage(navigator.hardwareConcurrency, '*')</script>"
TAB = """<title>tab</title><script>addEventListener('load', () =>
  fetch('/ready?tag=%(tag)s&wrong=' + (navigator.hardwareConcurrency != %(cores)d)))</script>"""


class Reports:
    """What the pages reported, by path and tag, with the time it arrived (perf_counter, the
    monotonic clock, which the serving child shares)."""
    lock, seen = threading.Condition(), {}

    @classmethod
    def read(cls, fd):
        with os.fdopen(fd, "rb") as lines:
            for line in lines:
                when, path, tag, query = json.loads(line)
                with cls.lock:
                    cls.seen[(path, tag)] = (when, query)
                    cls.lock.notify_all()

    @classmethod
    def wait(cls, key, seconds):
        with cls.lock:
            if not cls.lock.wait_for(lambda: key in cls.seen, seconds):
                raise RuntimeError("no report %s within %d s" % (key, seconds))
            return cls.seen.pop(key)


class Site(http.server.BaseHTTPRequestHandler):
    frame_url, reports = "", -1

    def do_GET(self):
        path, _, text = self.path.partition("?")
        query = dict(urllib.parse.parse_qsl(text))
        if path in ("/loaded", "/probe", "/ready"):
            report = [time.perf_counter(), path, query.get("run", query.get("tag")), query]
            os.write(self.reports, json.dumps(report).encode() + b"\n")  # one write, atomic
        body = {"/start": lambda: START % query, "/worker.js": lambda: WORKER,
                "/frame": lambda: FRAME, "/tab": lambda: TAB % dict(query, cores=CORES),
                "/many": lambda: MANY % dict(cores=CORES, workers=int(query["workers"]),
                                             frames=int(query["frames"]), tag=query["tag"],
                                             frame=self.frame_url)}.get(path, lambda: b"")()
        self.send_response(200)
        self.send_header("Content-Type", "text/javascript" if path.endswith(".js") else "text/html")
        self.send_header("Cache-Control", "no-store")
        if path == "/start":  # isolated, for performance.now() in steps of 5 us, not 100 us
            self.send_header("Cross-Origin-Opener-Policy", "same-origin")
            self.send_header("Cross-Origin-Embedder-Policy", "require-corp")
        self.end_headers()
        with contextlib.suppress(OSError):  # a browser closed meanwhile
            self.wfile.write(body if isinstance(body, bytes) else body.encode())

    def log_message(self, *args):
        pass


def serve():
    """The site on 127.0.0.1 and the frames' site on 127.0.0.3 (another site, so each frame is
    a target of its own), served by a child process: its pid and the first site's address."""
    servers = [http.server.ThreadingHTTPServer((address, 0), Site)
               for address in ("127.0.0.1", "127.0.0.3")]
    site, frames = ("http://%s:%d" % server.server_address for server in servers)
    Site.frame_url = frames + "/frame"
    read_end, Site.reports = os.pipe()
    parent, pid = os.getpid(), os.fork()
    if pid == 0:
        os.close(read_end)
        for server in servers:
            server.daemon_threads = True
            threading.Thread(target=server.serve_forever, daemon=True).start()
        for _ in range(3600):  # until the bench ends it, or an hour
            if os.getppid() != parent:
                break
            time.sleep(1)
        os._exit(0)
    os.close(Site.reports)
    for server in servers:
        server.server_close()
    threading.Thread(target=Reports.read, args=(read_end,), daemon=True).start()
    return pid, site


def quartiles(values):
    q1, q2, q3 = statistics.quantiles(values, n=4, method="inclusive")
    return q1, q2, q3


def nearest_rank(values, fraction):
    ordered = sorted(values)
    return ordered[max(0, math.ceil(fraction * len(ordered)) - 1)]


def gone(profile, seconds=10):
    for _ in range(seconds * 20):
        if not browser_pids(profile):
            return
        time.sleep(0.05)
    raise RuntimeError("the browser on %s did not exit" % profile)


def start_to_load(launcher, profile, persona, env, run):
    """Seconds from the launcher's start to the start page's load report, the console probe's
    milliseconds and the processor count the page saw."""
    pathlib.Path(profile, "command-line.json").write_text(json.dumps(persona))
    port_file = pathlib.Path(profile, "DevToolsActivePort")
    port_file.unlink(missing_ok=True)
    command = [launcher, "--user-data-dir=" + profile, "--remote-debugging-port=0"] + FLAGS
    begin = time.perf_counter()
    pid = os.posix_spawn(launcher, command, env, file_actions=QUIET, setsid=True)
    try:
        loaded, query = Reports.wait(("/loaded", run), 60)
        probe = Reports.wait(("/probe", run), 30)[1]
    finally:
        os.waitpid(pid, 0)
        for _ in range(200):  # at most about 10 s
            if port_file.exists() and len(port_file.read_text().split()) == 2:
                port, path = port_file.read_text().split()
                with contextlib.suppress(OSError, IndexError, ValueError):  # it may hang up first
                    DevTools(int(port), path).call("Browser.close")
                break
            time.sleep(0.05)
        gone(profile)
    return loaded - begin, float(probe["ms"]), int(query["cores"])


def moved_high(fd):
    """fd moved above 4, so that placing the pipes at 3 and 4 overwrites neither."""
    high = fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 10)
    os.close(fd)
    return high


def write_all(fd, data):
    view = memoryview(data)
    while view:
        view = view[os.write(fd, view):]


class Tap:
    """Chromium on one pair of pipes, the agent on another, and the bytes copied between them:
    the time of each target's attach and of its release, by session, and whether the agent's
    commands on that session were all answered by then. Commands of the bench's own
    go to Chromium with ids from 10**9, and their answers stay here."""

    def __init__(self, engine, args, env, agent):
        chromium_in, self.to_chromium = map(moved_high, os.pipe())
        self.from_chromium, chromium_out = map(moved_high, os.pipe())
        agent_in, self.to_agent = map(moved_high, os.pipe())
        self.from_agent, agent_out = map(moved_high, os.pipe())
        self.attached, self.released, self.answers, self.unanswered = {}, {}, {}, {}
        self.phase, self.next_id, self.lock = None, 10**9, threading.Condition()
        # The agent writes commands on its descriptor 3 and reads messages on its 4; Chromium
        # reads the commands on its 3 and writes the messages on its 4.
        agent_fds = [(os.POSIX_SPAWN_DUP2, agent_out, 3), (os.POSIX_SPAWN_DUP2, agent_in, 4)]
        self.agent = os.posix_spawn(agent, ["quillon-launcher-agent", "--locale=de-DE",
                                            "--hardware-concurrency=%d" % CORES], {},
                                    setsid=True, file_actions=QUIET + agent_fds)
        chromium_fds = [(os.POSIX_SPAWN_DUP2, chromium_in, 3),
                        (os.POSIX_SPAWN_DUP2, chromium_out, 4)]
        self.chromium = os.posix_spawn(engine, [engine] + args, env, setsid=True,
                                       file_actions=QUIET + chromium_fds)
        for fd in (chromium_in, chromium_out, agent_in, agent_out):
            os.close(fd)
        for copy in (self.chromium_to_agent, self.agent_to_chromium):
            threading.Thread(target=copy, daemon=True).start()

    def messages(self, fd):
        """Each read's messages and its time, until the writer closes its end."""
        pending = b""
        for _ in range(10**8):
            data = os.read(fd, 1 << 16)
            if not data:
                return
            *whole, pending = (pending + data).split(b"\0")
            yield time.perf_counter(), whole

    def chromium_to_agent(self):
        for now, messages in self.messages(self.from_chromium):
            passed = []
            for message in messages:
                if message.startswith(b'{"id":'):
                    answer = json.loads(message)
                    if answer["id"] >= 10**9:
                        with self.lock:
                            self.answers[answer["id"]] = answer
                            self.lock.notify_all()
                        continue
                    self.unanswered.get(answer.get("sessionId"), set()).discard(answer["id"])
                passed.append(message + b"\0")
                if b'"Target.attachedToTarget"' in message:
                    params = json.loads(message)["params"]
                    if params["waitingForDebugger"] and self.phase:
                        self.attached[params["sessionId"]] = (now, params["targetInfo"]["type"],
                                                              self.phase)
            write_all(self.to_agent, b"".join(passed))

    def agent_to_chromium(self):
        for now, messages in self.messages(self.from_agent):
            for message in messages:
                if b'"sessionId"' not in message:
                    continue
                command = json.loads(message)
                waiting = self.unanswered.setdefault(command["sessionId"], set())
                if command["method"] == "Runtime.runIfWaitingForDebugger":
                    self.released.setdefault(command["sessionId"], (now, bool(waiting)))
                else:
                    waiting.add(command["id"])
            with self.lock:
                write_all(self.to_chromium, b"".join(m + b"\0" for m in messages))

    def call(self, method, params=None, seconds=30, session=None):
        with self.lock:
            self.next_id += 1
            key = self.next_id
            message = {"id": key, "method": method, "params": params or {}}
            if session:
                message["sessionId"] = session
            write_all(self.to_chromium, json.dumps(message).encode() + b"\0")
            if not self.lock.wait_for(lambda: key in self.answers, seconds):
                raise RuntimeError("no answer to " + method)
            answer = self.answers.pop(key)
        if "error" in answer:
            raise RuntimeError("%s: %s" % (method, answer["error"]))
        return answer["result"]

    def pauses(self, phase):
        """Milliseconds each paused target of phase waited, by type; how many tabs and iframes
        the agent released before their renderer answered (its time limit); and how many it
        never released."""
        held, early, unreleased = {}, 0, 0
        for session, (attached, kind, when) in list(self.attached.items()):
            if when != phase:
                continue
            if session not in self.released:
                unreleased += 1
                continue
            released, waiting = self.released[session]
            held.setdefault(kind, []).append((released - attached) * 1e3)
            early += waiting and kind in ("page", "iframe")
        return held, early, unreleased

    def memory(self):
        """The agent's resident and peak resident set, in KiB."""
        status = pathlib.Path("/proc/%d/status" % self.agent).read_text().splitlines()
        return tuple(next(int(line.split()[1]) for line in status if line.startswith(name))
                     for name in ("VmRSS:", "VmHWM:"))

    def cpu_ms(self):
        """The agent's processor time so far, user and system."""
        fields = pathlib.Path("/proc/%d/stat" % self.agent).read_text().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) * 1e3 / os.sysconf("SC_CLK_TCK")

    def close(self):
        with contextlib.suppress(RuntimeError, OSError):
            self.call("Browser.close", seconds=10)
        for pid in (self.chromium, self.agent):
            for _ in range(200):  # at most about 10 s
                if os.waitpid(pid, os.WNOHANG)[0] == pid:
                    break
                time.sleep(0.05)
            else:
                with contextlib.suppress(OSError):
                    os.killpg(pid, 9)
                os.waitpid(pid, 0)


def launcher_switches(launcher, work, persona_dir, env):
    """The engine's arguments and environment as the launcher gives them, from a stand-in engine
    that records them and exits (the agent it started then ends too)."""
    recorder = pathlib.Path(work, "record-engine")
    recorder.write_text("#!/bin/sh\nprintf '%%s\\0' \"$@\" >%s/args\nenv -0 >%s/env\n"
                        % (work, work))
    recorder.chmod(0o755)
    pathlib.Path(persona_dir, "command-line.json").write_text(json.dumps(
        {"hardware-concurrency": CORES, "start-page": "about:blank"}))
    pid = os.posix_spawn(launcher, [launcher, "--user-data-dir=" + persona_dir] + FLAGS,
                         dict(env, QUILLON_ENGINE_BIN=str(recorder)), file_actions=QUIET)
    assert os.waitpid(pid, 0)[1] == 0, "the launcher failed"
    for _ in range(200):
        if pathlib.Path(work, "env").exists() and pathlib.Path(work, "env").stat().st_size:
            break
        time.sleep(0.05)
    args = pathlib.Path(work, "args").read_bytes().decode().split("\0")[:-1]
    env = dict(e.split("=", 1) for e in pathlib.Path(work, "env").read_bytes().decode().split(
        "\0") if "=" in e)
    assert "--remote-debugging-pipe" in args, "the launcher started no agent: %s" % args
    return args, env


def open_many(tap, site, tag, workers, frames, seconds):
    """A tab with the page of workers and frames, once all have answered; its target id."""
    target = tap.call("Target.createTarget", {"url": "%s/many?tag=%s&workers=%d&frames=%d"
                                              % (site, tag, workers, frames)})["targetId"]
    wrong = Reports.wait(("/ready", tag), seconds)[1]["wrong"]
    assert wrong == "0", "%s targets of %s showed the machine's processor count" % (wrong, tag)
    return target


def probe_with_runtime(tap, site):
    """The console probe in a tab whose page a DevTools client watches with Runtime enabled."""
    target = tap.call("Target.createTarget", {"url": "about:blank"})["targetId"]
    session = tap.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
    tap.call("Runtime.enable", session=session)
    tap.call("Page.navigate", {"url": site + "/start?run=runtime"}, session=session)
    probe = float(Reports.wait(("/probe", "runtime"), 30)[1]["ms"])
    tap.call("Target.closeTarget", {"targetId": target})
    return probe


def tapped(launcher, agent, engine, work, site):
    """The pauses, the agent's memory and the probe with Runtime, on one browser behind the
    tap."""
    profile = os.path.join(work, "tapped")
    os.makedirs(profile)
    env = dict(os.environ, QUILLON_ENGINE_KIND="chromium")
    args, engine_env = launcher_switches(launcher, work, profile, env)
    tap = Tap(engine, args, engine_env, agent)
    try:
        time.sleep(2)  # the first tab attached and released, the browser settled
        figures = {"idle": tap.memory()}
        tap.phase = "pause"
        targets = [open_many(tap, site, "pause", 50, 50, 120)]
        for i in range(20):
            targets.append(tap.call("Target.createTarget", {
                "url": "%s/tab?tag=tab%d" % (site, i)})["targetId"])
            Reports.wait(("/ready", "tab%d" % i), 30)
        time.sleep(0.5)
        tap.phase = None
        figures["pauses"] = tap.pauses("pause")
        for target in targets:
            tap.call("Target.closeTarget", {"targetId": target})
        for kind in ("workers", "frames"):
            target = open_many(tap, site, "memory-" + kind, 500 if kind == "workers" else 0,
                               500 if kind == "frames" else 0, 180)
            figures[kind] = tap.memory()
            tap.call("Target.closeTarget", {"targetId": target})
            time.sleep(1)
        figures["runtime"] = [probe_with_runtime(tap, site) for _ in range(3)]
        figures["cpu"] = tap.cpu_ms(), len(tap.released)
    finally:
        tap.close()
    return figures


@contextlib.contextmanager
def ended(pid):
    try:
        yield
    finally:
        os.kill(pid, 9)
        os.waitpid(pid, 0)


def main():
    launcher, agent = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 15
    engine = sys.argv[4] if len(sys.argv) > 4 else "/usr/lib/chromium/chromium"
    if not os.access(engine, os.X_OK):
        print("needs Chromium at %s (apt-get install chromium)" % engine)
        return 77
    server, site = serve()
    load_before = os.getloadavg()
    with tempfile.TemporaryDirectory(prefix="quillon-agent-bench-") as work, ended(server):
        profile = os.path.join(work, "profile")
        os.makedirs(profile)
        env = dict(os.environ, QUILLON_ENGINE_BIN=engine, QUILLON_ENGINE_KIND="chromium")
        without = {"timezone-override": "Asia/Tokyo"}
        personas = {"agent": dict(without, **{"hardware-concurrency": CORES}), "none": without}
        times = {"agent": [], "none": []}
        probes = {"agent": [], "none": []}
        for run in range(-1, runs * 2):  # the first warms the profile up; the order alternates
            name = ("agent", "none")[(run + run // 2) % 2]
            persona = dict(personas[name], **{"start-page": "%s/start?run=%d" % (site, run)})
            seconds, probe, cores = start_to_load(launcher, profile, persona, env, str(run))
            assert (cores == CORES) == (name == "agent"), "%s: the page saw %d" % (name, cores)
            if run >= 0:
                times[name].append(seconds * 1e3)
                probes[name].append(probe)
        figures = tapped(launcher, agent, engine, work, site)
    load_after = os.getloadavg()

    print("engine %s, %d runs each, headless; load average %.1f at the start, %.1f at the end"
          % (engine, runs, load_before[0], load_after[0]))
    print("%-44s %10s %10s %10s" % ("start to the first page's load (ms)", "q1", "median", "q3"))
    for name, label in (("none", "without the agent"), ("agent", "with the agent")):
        print("  %-42s %10.1f %10.1f %10.1f" % ((label,) + quartiles(times[name])))
    print("%-44s %10s %10s %10s" % ("console probe, 20 x console.log (ms)", "q1", "median", "q3"))
    for name, label in (("none", "without the agent"), ("agent", "with the agent")):
        print("  %-42s %10.2f %10.2f %10.2f" % ((label,) + quartiles(probes[name])))
    print("  %-42s %10s %10.2f %10s" % ("a client with Runtime enabled (3 runs)", "",
                                         statistics.median(figures["runtime"]), ""))
    held, early, unreleased = figures["pauses"]
    print("%-44s %10s %10s %10s" % ("a new target's pause (ms)", "median", "p90", "max"))
    others = [(kind, kind) for kind in held if kind not in dict(PAUSED)]
    for kind, label in list(PAUSED) + others:
        values = held.get(kind, [])
        if values:
            print("  %-42s %10.2f %10.2f %10.2f" % ("%s (%d)" % (label, len(values)),
                  statistics.median(values), nearest_rank(values, 0.9), max(values)))
        else:
            print("  %-42s %10s" % (label, "none seen"))
    if unreleased:
        print("  paused targets the agent never released: %d" % unreleased)
    if early:
        print("  tabs and iframes released at the 1 s limit, unanswered: %d" % early)
    print("%-44s %10s %10s" % ("the agent's memory (MiB)", "VmRSS", "VmHWM"))
    for key, label in (("idle", "idle"), ("workers", "500 dedicated workers alive"),
                       ("frames", "500 cross-site iframes alive")):
        print("  %-42s %10.2f %10.2f" % (label, figures[key][0] / 1024, figures[key][1] / 1024))
    print("the agent's processor time, all of the above: %.0f ms for %d targets released"
          % figures["cpu"])
    return 0


if __name__ == "__main__":
    sys.exit(main())
