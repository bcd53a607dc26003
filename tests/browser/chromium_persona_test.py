#!/usr/bin/python3
"""The built LAUNCHER with QUILLON_ENGINE_KIND=chromium before Debian's Chromium, checked in the
page over DevTools, in with_test_network.sh's network (its microsocks connects from 127.0.0.2),
through the persona agent on the browser's DevTools pipe, and through the launcher's relay to
microsocks and to tinyproxy, both with a login."""

import contextlib, http.server, json, os, pathlib, socket, subprocess, sys, tempfile, threading
import re, time

ENGINE = "/usr/lib/chromium/chromium"  # not the wrapper script: its shell drops duplicate variables
BOTD = pathlib.Path(os.environ.get("QUILLON_BOTD", "/nonexistent"))  # FingerprintJS's bot detector
HOST_ADDRESS = "198.51.100.7"  # on an interface of its own, for WebRTC to leak
FLAGS = """--headless=new --no-sandbox --remote-debugging-port=0 --disable-gpu --no-first-run
  --disable-sync --disable-background-networking --disable-component-update --password-store=basic
  --proxy-bypass-list=<-loopback> --use-fake-device-for-media-stream --use-fake-ui-for-media-stream
  """.split() + ["--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1, EXCLUDE 127.0.0.3, EXCLUDE 127.0.0.4"]
# The time zone, Intl locale and a number in the page and in a Worker, the languages, the cookies
# and the local storage.
PAGE = """(async (zone = () => [Intl.DateTimeFormat().resolvedOptions().timeZone,
  Intl.DateTimeFormat().resolvedOptions().locale, (1234.5).toLocaleString()]) => [zone(),
  navigator.languages, await new Promise(resolve => new Worker(URL.createObjectURL(new Blob(
    [`postMessage((${zone})())`]))).onmessage = e => resolve(e.data)), document.cookie,
  localStorage.seed])()"""
# The geolocation permission as the profile sets it, and getCurrentPosition's position or error code.
GEO = """(async () => [(await navigator.permissions.query({name: 'geolocation'})).state,
  await new Promise(r => navigator.geolocation.getCurrentPosition(p => r([p.coords.latitude,
    p.coords.longitude, p.coords.accuracy]), e => r(e.code), {timeout: 3e3}))])()"""
# What the first scripts saw: the page's, its dedicated, shared and service workers', and those of
# an iframe of another site (out of process) and of its worker.
FIRST = """(async () => [window.first, await window.worker, await window.shared,
  await window.service, await window.frame])()"""
FIRST_SCRIPT = b"""<title>quillon</title><script>window.first = [navigator.hardwareConcurrency,
  Intl.DateTimeFormat().resolvedOptions().locale, navigator.webdriver];
  window.worker = new Promise(r => new Worker('/first.js').onmessage = e => r(e.data));
  window.shared = new Promise(r => new SharedWorker('/first.js?shared').port.onmessage = e => r(e.data));
  window.service = navigator.serviceWorker.register('/first.js?service').then(reg => new Promise(
    r => (navigator.serviceWorker.onmessage = e => r(e.data),
          (reg.installing || reg.waiting || reg.active).postMessage(''))));
  window.frame = new Promise(r => onmessage = e => r(e.data));
  document.write(`<iframe src="${location.origin.replace('127.0.0.1', '127.0.0.3')}/frame"></iframe>`)
  </script>"""
FIRST_FRAME = b"""<script>const seen = [navigator.hardwareConcurrency,
  Intl.DateTimeFormat().resolvedOptions().locale];
  new Worker('/first.js').onmessage = e => parent.postMessage([seen, e.data], '*')</script>"""
FIRST_WORKER = b"""const seen = [navigator.hardwareConcurrency, Intl.DateTimeFormat().resolvedOptions().locale];
  if (self.postMessage) postMessage(seen);
  onconnect = e => e.ports[0].postMessage(seen);
  onmessage = e => e.source.postMessage(seen);"""
# A page that asks much of the agent: 400 iframes of a third site, 200 workers and one worker
# that never yields (more makes this 2-core machine's Chromium itself unresponsive for minutes).
HOSTILE = b"""<title>quillon</title><body><script>
  new Worker(URL.createObjectURL(new Blob(['for (;;) {}'])));
  for (let i = 0; i < 200; ++i) new Worker(URL.createObjectURL(new Blob(['onmessage = () => 0'])));
  const other = location.origin.replace('127.0.0.1', '127.0.0.4');
  for (let i = 0; i < 400; ++i)
    document.body.appendChild(document.createElement('iframe')).src = other + '/frame?' + i;
  </script>"""
# The offer once gathering ends; Chromium shows host addresses only while a microphone is open.
WEBRTC = """(async (pc = new RTCPeerConnection()) => {
  await navigator.mediaDevices.getUserMedia({audio: true});
  await pc.setLocalDescription(await pc.createOffer({offerToReceiveAudio: true}));
  await new Promise(end => (pc.onicecandidate = e => e.candidate || end(), setTimeout(end, 5e3)));
  return pc.localDescription.sdp; })()"""


def wait_for(test, what, seconds=15):
    for _ in range(seconds * 10):
        if value := test():
            return value
        time.sleep(0.1)
    raise RuntimeError("gave up waiting for " + what)


class Site(http.server.BaseHTTPRequestHandler):
    peers, paths = set(), []  # who asked, and for what

    def do_GET(self):
        self.peers.add(self.client_address[0])
        self.paths.append(self.path)
        self.send_response(200)
        path = self.path.split("?")[0]
        if path in ("/first.js", "/botd.js"):
            self.send_header("Content-Type", "text/javascript")
        self.end_headers()
        self.wfile.write({"/first": FIRST_SCRIPT, "/first.js": FIRST_WORKER, "/frame": FIRST_FRAME,
                          "/hostile": HOSTILE, "/botd.js": BOTD.read_bytes()}.get(
                              path, b"<title>quillon</title>"))


class DevTools:  # the DevTools protocol on the browser's WebSocket, which sends one frame a message
    def __init__(self, port, path):
        self.sock = socket.create_connection(("127.0.0.1", port), 10)
        self.sock.sendall(b"GET %s HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                          b"Sec-WebSocket-Key: AAAAAAAAAAAAAAAAAAAAAA==\r\n"
                          b"Sec-WebSocket-Version: 13\r\n\r\n" % path.encode())
        self.stream, self.next_id = self.sock.makefile("rb"), 0
        while self.stream.readline() not in (b"\r\n", b""):  # the handshake's answer
            pass

    def call(self, method, params=None, session=None):  # None for an error
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        data = json.dumps(dict(message, sessionId=session) if session else message).encode()
        size = bytes([0x80 | len(data)]) if len(data) < 126 else b"\xfe" + len(data).to_bytes(2, "big")
        self.sock.sendall(b"\x81" + size + b"\0\0\0\0" + data)  # a zero mask keeps the data
        for _ in range(10000):  # events may come first
            size = self.stream.read(2)[1] & 0x7F
            if size >= 126:
                size = int.from_bytes(self.stream.read(2 if size == 126 else 8), "big")
            reply = json.loads(self.stream.read(size))
            if reply.get("id") == self.next_id:
                return reply.get("result")
        raise RuntimeError("no reply to " + method)

    def navigated(self, url):
        """A new tab as the user opens one: blank, then given an address."""
        page = self.call("Target.createTarget", {"url": "about:blank"})
        session = self.call("Target.attachToTarget",
                            {"targetId": page["targetId"], "flatten": True})["sessionId"]
        self.call("Page.navigate", {"url": url}, session)

    def pages(self):
        return [t for t in self.call("Target.getTargets")["targetInfos"] if t["type"] == "page"]

    def evaluate(self, page, expression):
        session = self.call("Target.attachToTarget",
                            {"targetId": page["targetId"], "flatten": True})["sessionId"]
        params = {"expression": expression, "awaitPromise": True, "returnByValue": True}
        result = wait_for(lambda: self.call("Runtime.evaluate", params, session),
                          "a script context (a loading page may have none yet)")
        return result["result"].get("value", result.get("exceptionDetails"))


def arguments(cmdline):  # a relaunched Chromium shows its arguments joined by spaces
    return re.split(rb"\0| (?=--)", cmdline.read_bytes())


def browser_pids(profile):
    needle, pids = ("--user-data-dir=" + profile).encode(), []
    for cmdline in pathlib.Path("/proc").glob("[0-9]*/cmdline"):
        with contextlib.suppress(OSError):  # gone meanwhile
            if needle in arguments(cmdline):
                pids.append(int(cmdline.parent.name))
    return pids


def browser_pid(profile):
    """The browser's own process: the profile's one without a --type= switch (its children have
    one; the lowest pid is not the browser once pids wrap around)."""
    for pid in browser_pids(profile):
        with contextlib.suppress(OSError):  # gone meanwhile
            if not any(a.startswith(b"--type=") for a in arguments(
                    pathlib.Path("/proc/%d/cmdline" % pid))):
                return pid
    raise RuntimeError("no browser process on " + profile)


def launch(profile, out, *args, screen=None, headless=True):
    """The LAUNCHER's status, on the X display screen when given; no secret of the test's reaches
    the browser through the environment."""
    password = os.environ["QUILLON_TEST_PROXY_PASSWORD"]
    env = dict({k: v for k, v in os.environ.items() if password not in v and k != "DISPLAY"},
               QUILLON_ENGINE_BIN=ENGINE, QUILLON_ENGINE_KIND="chromium", TZ="UTC",
               LANGUAGE="en_US:en", **({"DISPLAY": screen} if screen else {}))
    flags = [f for f in FLAGS if headless or not f.startswith("--headless")]
    return subprocess.run([sys.argv[1], "--user-data-dir=" + profile, *flags, *args], stdout=out,
                          stderr=out, env=env, timeout=60).returncode


@contextlib.contextmanager
def browser(profile, persona, *args, screen=None):
    """The LAUNCHER started with the persona: a DevTools client of the browser it started (with
    a window on the X display screen when given)."""
    port_file, log = pathlib.Path(profile, "DevToolsActivePort"), pathlib.Path(profile, "log")
    pathlib.Path(profile, "command-line.json").write_text(json.dumps(persona))
    port_file.unlink(missing_ok=True)
    try:
        with open(log, "w+") as out:  # a file: the browser inherits it and would hold a pipe open
            status = launch(profile, out, *args, screen=screen, headless=not screen)
        assert status == 0, "the launcher failed: " + log.read_text()
        port = wait_for(lambda: port_file.exists() and port_file.read_text().split(), "DevTools")
        yield (devtools := DevTools(int(port[0]), port[1]))
        chromium = None
        with contextlib.suppress(RuntimeError):  # none left: closed by the caller
            chromium = browser_pid(profile)
        with contextlib.suppress(OSError, IndexError, ValueError):  # it may hang up first
            devtools.call("Browser.close")
        wait_for(lambda: not browser_pids(profile), "the browser to exit", 30)
        # Its command line is gone before the process: it ends 1 to 2 s later, agent or not.
        wait_for(lambda: not chromium or not os.path.exists("/proc/%d" % chromium),
                 "the browser's process to end", 30)
    finally:  # after a failure too: its whole process group, gone before its profile goes
        pids = browser_pids(profile)  # the browser leads one of them all, unless relaunched
        subprocess.run(["kill", "-KILL", "--", *["-%d" % pid for pid in pids], *map(str, pids)],
                       capture_output=True)
        wait_for(lambda: not browser_pids(profile), "the killed browser to exit", 10)


def holders(link):
    """The processes with a descriptor on link (a pipe's or a socket's name)."""
    pids = set()
    for fd in pathlib.Path("/proc").glob("[0-9]*/fd/*"):
        with contextlib.suppress(OSError):  # gone meanwhile
            if os.readlink(fd) == link:
                pids.add(int(fd.parent.parent.name))
    return pids


def agent_of(profile):
    """The holders of the browser's DevTools pipe: the browser, and the agent's pid."""
    chromium = browser_pid(profile)
    pipe = holders(os.readlink("/proc/%d/fd/3" % chromium))
    agents = [p for p in pipe if pathlib.Path("/proc/%d/cmdline" % p).read_bytes().startswith(
        b"quillon-launcher-agent\0")]
    assert pipe == {chromium, *agents} and len(agents) == 1, pipe
    return agents[0]


def allow_geolocation(profile, site, allowed=True):
    """The site's own content setting, as the user's "Allow" in the prompt leaves it (or none);
    the default setting as the last launch left it."""
    path = pathlib.Path(profile, "Default", "Preferences")
    preferences = json.loads(path.read_text())
    default = preferences.get("profile", {}).get("default_content_setting_values", {})
    exceptions = preferences.setdefault("profile", {}).setdefault("content_settings", {})
    exceptions.setdefault("exceptions", {})["geolocation"] = {site + ",*": {"setting": 1}} if allowed else {}
    path.write_text(json.dumps(preferences))
    return default.get("geolocation")


def relay_of(profile):
    """The relay's pid: the holder of the listening socket the browser's proxy switch names."""
    switch = next(a for a in arguments(pathlib.Path("/proc/%d/cmdline" % browser_pid(profile)))
                  if a.startswith(b"--proxy-server="))
    row = "0100007F:%04X" % int(switch.rsplit(b":", 1)[1])
    inode = next(r.split()[9] for r in pathlib.Path("/proc/net/tcp").read_text().splitlines()
                 if r.split()[1] == row and r.split()[3] == "0A")
    return holders("socket:[%s]" % inode).pop()


def left_behind(sessions):
    """cmdline and environ of every process in those sessions (the browser's, the relay's)."""
    for proc in pathlib.Path("/proc").glob("[0-9]*"):
        with contextlib.suppress(OSError):
            if os.getsid(int(proc.name)) in sessions:
                yield (proc / "cmdline").read_bytes() + (proc / "environ").read_bytes()


def fetched(devtools, url):  # from a blank page: "loaded", or "failed" when it cannot load
    page = wait_for(devtools.pages, "a page")[0]
    return devtools.evaluate(page, "fetch(%s, {mode: 'no-cors'}).then(() => 'loaded', "
                                   "() => 'failed')" % json.dumps(url))


def relayed(profile, site, proxy, password):
    """A page through the relay and that proxy; then the relay ends with the browser."""
    with browser(profile, {"proxy-server": proxy, "start-page": "about:blank"}) as devtools:
        relay = relay_of(profile)
        sessions = {os.getsid(relay), os.getsid(browser_pid(profile))}
        assert not [p for p in left_behind(sessions) if password.encode() in p]
        outcome = fetched(devtools, site + "/relayed")
    wait_for(lambda: not os.path.exists("/proc/%d" % relay), "the relay to end", 10)
    return outcome


@contextlib.contextmanager
def display():
    """A virtual X server of its own: headless Chromium ignores chrome://restart."""
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-screen", "0",
                             "1280x800x24"], pass_fds=[write], stderr=subprocess.DEVNULL)
    os.close(write)
    try:
        with os.fdopen(read) as number:
            yield ":" + number.readline().strip()
    finally:
        xvfb.kill(), xvfb.wait()


def restarted(profile, site, proxy):
    """chrome://restart, as after an update or a change in chrome://flags: the relaunched browser
    goes on through the same relay, with a persona agent of its own, and the relay ends soon after
    it."""
    port_file = pathlib.Path(profile, "DevToolsActivePort")
    persona = {"proxy-server": proxy, "start-page": "about:blank", "hardware-concurrency": 3,
               "lang": "it-IT"}
    with display() as screen, browser(profile, persona, screen=screen) as devtools:
        relay, first, agent = relay_of(profile), browser_pid(profile), agent_of(profile)
        outcomes = [fetched(devtools, site + "/before-restart")]
        # A third party's bot detector, in a headful browser (it takes headless for a bot).
        devtools.navigated(site + "/bot")
        verdict = devtools.evaluate(loaded(devtools, site + "/bot"), "import('/botd.js').then(m => "
                                    "m.load()).then(d => JSON.stringify(d.detect()))")
        assert verdict == '{"bot":false}', verdict
        port_file.unlink()
        devtools.call("Target.createTarget", {"url": "chrome://restart"})
        port = wait_for(lambda: port_file.exists() and port_file.read_text().split(), "a relaunch")
        relaunched = DevTools(int(port[0]), port[1])
        outcomes.append(fetched(relaunched, site + "/after-restart"))
        assert (outcomes, relay_of(profile)) == (["loaded"] * 2, relay), outcomes
        assert first not in browser_pids(profile), "not relaunched"
        relaunched.navigated(site + "/first")
        seen = relaunched.evaluate(loaded(relaunched, site + "/first"), FIRST)
        assert agent_of(profile) != agent and seen == [[3, "it-IT", False], *[[3, "it-IT"]] * 3,
                                                       [[3, "it-IT"]] * 2], seen
        with contextlib.suppress(OSError, IndexError, ValueError):  # it may hang up first
            relaunched.call("Browser.close")
        wait_for(lambda: not browser_pids(profile), "the relaunched browser to exit", 10)
    wait_for(lambda: not os.path.exists("/proc/%d" % relay), "the relay to end", 10)


def second_launch(profile, persona, screen):
    """A launch on the profile of a running browser: its status and what it said. A refusal
    needs no display: with one, the fatal alert would wait for a click."""
    pathlib.Path(profile, "command-line.json").write_text(json.dumps(persona))
    with open(pathlib.Path(profile, "second"), "w+") as out:  # the engine may inherit it
        status = launch(profile, out, screen=screen, headless=False)
        return status, (out.seek(0), out.read())[1]


def handed_over(profile, site, proxy):
    """A browser on the profile without the persona's proxy never gets the persona's page; one
    through the persona's relay does, through that relay (headless Chromium takes no pages from
    a second start)."""
    refused = (1, "[quillon-launcher] A browser already runs on this profile without this "
                  "persona's proxy; not started, so that the persona's pages do not go outside "
                  "its proxy\n")
    persona = {"proxy-server": proxy, "start-page": site + "/handed-over"}
    with display() as screen, browser(profile, {"start-page": "about:blank"}, screen=screen):
        assert second_launch(profile, persona, None) == refused
    with display() as screen, browser(profile, {"proxy-server": proxy, "start-page": "about:blank"},
                                      screen=screen) as devtools:
        relay = relay_of(profile)
        assert second_launch(profile, persona, screen) == (0, "")
        loaded(devtools, site + "/handed-over")
        assert relay_of(profile) == relay
    assert Site.paths.count("/handed-over") == 1, Site.paths


def withstands_hostile_page(site, persona, first):
    """A hostile page neither stalls the agent nor ends it: a tab opened after it has all the
    values; on a profile of its own, whose session no later launch restores."""
    with tempfile.TemporaryDirectory(prefix="quillon-", ignore_cleanup_errors=True) as profile:
        with browser(profile, persona) as devtools:
            agent = agent_of(profile)
            tab = devtools.call("Target.createTarget", {"url": site + "/hostile"})
            hostile = lambda: len([p for p in Site.paths if p.startswith("/frame?")]) == 400
            wait_for(hostile, "the hostile page's iframes", 120)
            devtools.sock.settimeout(120)  # Chromium itself is slow to answer for a while
            devtools.navigated(site + "/first?after")
            after = devtools.evaluate(loaded(devtools, site + "/first?after"), FIRST)
            alive = os.path.exists("/proc/%d" % agent), bool(browser_pids(profile))
            assert (after, alive) == (first, (True, True)), (after, alive)
            devtools.call("Target.closeTarget", tab)
        wait_for(lambda: not os.path.exists("/proc/%d" % agent), "the agent to end", 2)


def loaded(devtools, url):
    return wait_for(lambda: [p for p in devtools.pages()
                             if p["url"] == url and p["title"] == "quillon"], url)[0]


def main():
    if not os.access(ENGINE, os.X_OK):
        print("chromium is not installed (apt-get install chromium); skipped")
        return 77
    if not BOTD.is_file():
        print("no BotD at QUILLON_BOTD (scripts/setup.sh test installs it from npm); skipped")
        return 77
    for command in ("link add quillon0 type veth peer name quillon1", "link set quillon1 up",
                    "addr add %s/24 dev quillon0" % HOST_ADDRESS, "link set quillon0 up"):
        subprocess.run(["ip"] + command.split(), check=True)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Site)
    others = [http.server.ThreadingHTTPServer((a, server.server_address[1]), Site)
              for a in ("127.0.0.3", "127.0.0.4")]
    for each in (server, *others):  # three sites, one port
        threading.Thread(target=each.serve_forever, daemon=True).start()
    site = "http://127.0.0.1:%d" % server.server_address[1]
    socks = "127.0.0.1:" + os.environ["QUILLON_TEST_PROXY_PORT"]
    stated = {"proxy-server": "socks5h://" + socks + "/", "timezone-override": "Asia/Tokyo",
              "geo-lat": 48.85, "geo-lng": "2.35", "hardware-concurrency": 3,
              "lang": "fr-FR", "accept-language": "fr-FR,fr;q=0.9", "webrtc-no-leak": True}
    discovered = {"proxy-server": "socks5://" + socks, "auto-timezone": True, "auto-lang": True,
                  "start-page": site + "/first?start",  # hygiene: tabs, cookies and local storage
                  "hardware-concurrency": 5,
                  "granular-storage-reset": {"cookies": True, "local_storage": True}}
    tokyo_fr = ["Asia/Tokyo", "fr-FR", "1\u202f234,5"]
    tokyo = [tokyo_fr, ["fr-FR", "fr"], tokyo_fr, "seed=1", "kept"]
    first = [[3, "fr-FR", False], *[[3, "fr-FR"]] * 3, [[3, "fr-FR"]] * 2]  # in every scope
    plain = {"proxy-server": "socks5://" + socks, "start-page": site + "/plain"}
    with tempfile.TemporaryDirectory(prefix="quillon-", ignore_cleanup_errors=True) as profile:
        with browser(profile, plain) as devtools:  # the user adds a language in the settings
            settings = devtools.call("Target.createTarget", {"url": "chrome://settings/languages"})
            page = wait_for(lambda: [p for p in devtools.pages() if p["targetId"] ==
                                     settings["targetId"] and p["title"]], "the settings")[0]
            # The settings page's own call; reading the setting back waits for the change.
            devtools.evaluate(page, "chrome.languageSettingsPrivate.enableLanguage('it'), new "
                              "Promise(r => chrome.settingsPrivate.getPref('intl.selected_languages', r))")
        allow_geolocation(profile, site)
        with browser(profile, stated) as devtools:  # stated values, direct path; a session to keep
            agent = agent_of(profile)
            devtools.call("Target.createTarget", {"url": site + "/seed"})
            page = loaded(devtools, site + "/seed")
            devtools.evaluate(page, "document.cookie = 'seed=1; max-age=9999', "
                                    "localStorage.seed = 'kept'")
            environ = pathlib.Path("/proc/%d/environ" % browser_pid(profile)).read_bytes()
            seen = devtools.evaluate(page, PAGE), re.findall(rb"LANGUAGE=[^\0]*", environ)
            seen += (devtools.evaluate(page, GEO),)  # the agent's coordinates, the site allowed
            devtools.navigated(site + "/first")  # a tab that starts blank, then goes to a site
            seen += (devtools.evaluate(opened := loaded(devtools, site + "/first"), FIRST),)
            devtools.navigated(site + "/first?again")  # its iframe in the same renderer as the first's
            seen += (devtools.evaluate(loaded(devtools, site + "/first?again"), FIRST),)
            # A tab Chromium loads itself: its request goes out before the agent is told of it.
            devtools.call("Target.createTarget", {"url": site + "/first?opened"})
            seen += (devtools.evaluate(loaded(devtools, site + "/first?opened"), FIRST),)
            assert seen == (tokyo, [b"LANGUAGE=fr_FR:fr"], ["granted", [48.85, 2.35, 100]],
                            first, first, first), seen
            # The first tab's iframe set that renderer's locale; closing the tab takes the locale
            # from the whole renderer until another target's session there sets it again.
            devtools.call("Target.closeTarget", {"targetId": opened["targetId"]})
            frames = lambda: [t for t in devtools.call("Target.getTargets")["targetInfos"]
                              if t["type"] == "iframe"]
            left = wait_for(lambda: len(frames()) == 2 and frames(), "the first tab's iframe to go")
            locale = "Intl.DateTimeFormat().resolvedOptions().locale"
            wait_for(lambda: [devtools.evaluate(f, locale) for f in left] == ["fr-FR"] * 2,
                     "the locale to be retaken", 5)
            sdp = devtools.evaluate(page, WEBRTC)
            assert HOST_ADDRESS not in sdp and " typ host" not in sdp, sdp
        wait_for(lambda: not os.path.exists("/proc/%d" % agent), "the agent to end", 2)

        with browser(profile, stated, "--restore-last-session") as devtools:
            kept = devtools.evaluate(loaded(devtools, site + "/seed"), PAGE)
            assert kept == tokyo, "without hygiene the session comes back: %s" % kept

        # Not blocked for every site: the persona's coordinates are given to those allowed.
        assert allow_geolocation(profile, site, False) is None
        with browser(profile, discovered, "--restore-last-session") as devtools:
            page = loaded(devtools, site + "/first?start")  # the first tab, there before the agent
            time.sleep(1)  # a restored tab would have appeared by now
            state = ([p["url"] for p in devtools.pages()], devtools.evaluate(page, PAGE),
                     devtools.evaluate(page, GEO)[0], devtools.evaluate(page, FIRST))
            devtools.navigated(site + "/first")
            state += (devtools.evaluate(loaded(devtools, site + "/first"), FIRST),)
            berlin = ["Europe/Berlin", "de-DE", "1.234,5"]
            berlin_first = [[5, "de-DE", False], *[[5, "de-DE"]] * 3, [[5, "de-DE"]] * 2]
            assert state == ([site + "/first?start"], [berlin, ["de-DE", "de", "en"], berlin, "",
                                                       None], "prompt", berlin_first, berlin_first), state

        with browser(profile, plain) as devtools:  # no persona's language is left, the user's is
            languages = devtools.evaluate(loaded(devtools, site + "/plain"), "navigator.languages")
            assert languages == ["en-US", "en", "it"], languages
        # Through the relay: microsocks and tinyproxy with the login, then a wrong password.
        user, password = os.environ["QUILLON_TEST_PROXY_USER"], os.environ["QUILLON_TEST_PROXY_PASSWORD"]
        tinyproxy = pathlib.Path(profile, "tinyproxy.conf")
        tinyproxy.write_text("Port 3128\nListen 127.0.0.1\nBind 127.0.0.2\nBasicAuth %s %s\n"
                             "MaxClients 20\nLogLevel Critical\n" % (user, password))
        http_proxy = subprocess.Popen(["tinyproxy", "-d", "-c", str(tinyproxy)],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            wait_for(lambda: socket.socket().connect_ex(("127.0.0.1", 3128)) == 0, "tinyproxy")
            auth = "127.0.0.1:" + os.environ["QUILLON_TEST_AUTH_PROXY_PORT"]
            for proxy, outcome in (("socks5://%s:%s@%s" % (user, password, auth), "loaded"),
                                   ("http://%s:%s@127.0.0.1:3128" % (user, password), "loaded"),
                                   ("socks5://%s:wrong@%s" % (user, auth), "failed")):
                assert relayed(profile, site, proxy, password) == outcome, proxy
            restarted(profile, site, "socks5://%s:%s@%s" % (user, password, auth))
            handed_over(profile, site, "socks5://%s:%s@%s" % (user, password, auth))
        finally:
            http_proxy.kill()
            http_proxy.wait()
        assert Site.paths.count("/relayed") == 2, Site.paths
        assert [p for p in Site.paths if "restart" in p] == ["/before-restart", "/after-restart"]
    withstands_hostile_page(site, stated, first)
    assert Site.peers == {"127.0.0.2"}, "site not loaded, or not only by proxy: %s" % Site.peers
    return 0


if __name__ == "__main__":
    sys.exit(main())
