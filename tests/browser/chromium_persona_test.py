#!/usr/bin/python3
"""The built launcher in front of Debian's Chromium, with QUILLON_ENGINE_KIND=chromium,
checked from outside and from inside the page through the DevTools protocol.

Runs inside the private network namespace of tests/discovery/with_test_network.sh
(loopback, microsocks, the geo-IP responder) and adds a network interface with a
documentation address that WebRTC could leak. Standard library only.
Usage: chromium_persona_test.py LAUNCHER (QUILLON_TEST_PROXY_PORT names microsocks)"""

import base64
import http.server
import json
import os
import shutil
import signal
import socket
import socketserver
import subprocess
import sys
import tempfile
import threading
import time

HOST_ADDRESS = "198.51.100.7"   # the interface address that must not leak
EGRESS = "127.0.0.2"            # the proxies connect out from here
CHROMIUM_FLAGS = [
    "--headless=new", "--no-sandbox", "--remote-debugging-port=0", "--disable-gpu",
    "--no-first-run", "--disable-background-networking", "--disable-component-update",
    "--disable-sync", "--password-store=basic",
    "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1",
    "--proxy-bypass-list=<-loopback>", "--use-fake-device-for-media-stream",
    "--use-fake-ui-for-media-stream",
]
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def wait_for(test, what, seconds=15.0):
    """Polls test() every 0.1 s, at most `seconds`; returns its last value."""
    for _ in range(int(seconds * 10)):
        value = test()
        if value:
            return value
        time.sleep(0.1)
    raise RuntimeError("gave up waiting for " + what)


# --- the local site and the recording proxy ------------------------------------

class Site(http.server.BaseHTTPRequestHandler):
    """The site the persona browses; records who asked for what."""
    seen = []   # (peer address, path, Accept-Language)

    def do_GET(self):
        Site.seen.append((self.client_address[0], self.path, self.headers.get("Accept-Language")))
        body = b"<!doctype html><title>quillon</title><p>persona page</p>"
        self.send_response(200)
        if self.path == "/seed":
            self.send_header("Set-Cookie", "seed=1; Max-Age=86400; Path=/")
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


class Proxy(http.server.BaseHTTPRequestHandler):
    """An HTTP proxy that forwards only to the site, from EGRESS, and records
    every request line."""
    site_port = 0
    seen = []   # (path, Accept-Language)

    def do_GET(self):
        Proxy.seen.append((self.path, self.headers.get("Accept-Language")))
        prefix = "http://127.0.0.1:%d" % Proxy.site_port
        if not self.path.startswith(prefix + "/"):
            self.send_error(502)
            return
        headers = "".join("%s: %s\r\n" % (k, v) for k, v in self.headers.items()
                          if k.lower() not in ("connection", "proxy-connection"))
        try:
            with socket.create_connection(("127.0.0.1", Proxy.site_port), 10, (EGRESS, 0)) as up:
                up.sendall(("GET %s HTTP/1.0\r\n%sConnection: close\r\n\r\n"
                            % (self.path[len(prefix):], headers)).encode("latin-1"))
                for chunk in iter(lambda: up.recv(65536), b""):
                    self.wfile.write(chunk)
        except OSError:   # the browser gave up on the request
            pass
        self.close_connection = True

    def do_CONNECT(self):
        Proxy.seen.append(("CONNECT " + self.path, None))
        self.send_error(502)

    def log_message(self, *args):
        pass


def serve(handler):
    server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1]


# --- DevTools protocol over a minimal WebSocket client -------------------------

class DevTools:
    def __init__(self, port, path):
        self.sock = socket.create_connection(("127.0.0.1", port), 10)
        self.sock.settimeout(10)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall(("GET %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nUpgrade: websocket\r\n"
                           "Connection: Upgrade\r\nSec-WebSocket-Key: %s\r\n"
                           "Sec-WebSocket-Version: 13\r\n\r\n" % (path, port, key)).encode())
        answer = b""
        while b"\r\n\r\n" not in answer:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise RuntimeError("DevTools handshake closed")
            answer += chunk
        if not answer.startswith(b"HTTP/1.1 101"):
            raise RuntimeError("DevTools handshake refused: %r" % answer[:80])
        self.buffer = answer.split(b"\r\n\r\n", 1)[1]
        self.next_id = 0
        self.sessions = {}

    def _read(self, n):
        while len(self.buffer) < n:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise RuntimeError("DevTools connection closed")
            self.buffer += chunk
        data, self.buffer = self.buffer[:n], self.buffer[n:]
        return data

    def _message(self):   # the browser sends each message in one frame
        size = self._read(2)[1] & 0x7F
        if size >= 126:
            size = int.from_bytes(self._read(2 if size == 126 else 8), "big")
        return self._read(size)

    def call(self, method, params=None, session=None):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        data = json.dumps(message).encode()
        mask = os.urandom(4)
        header = bytes([0x81]) + (bytes([0x80 | len(data)]) if len(data) < 126
                                  else bytes([0x80 | 126]) + len(data).to_bytes(2, "big"))
        self.sock.sendall(header + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(data)))
        for _ in range(10000):   # events may come first
            reply = json.loads(self._message())
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError("%s: %s" % (method, reply["error"]))
                return reply["result"]
        raise RuntimeError("no reply to " + method)

    def pages(self):
        return [t for t in self.call("Target.getTargets")["targetInfos"] if t["type"] == "page"]

    def evaluate(self, page, expression):
        target = page["targetId"]
        if target not in self.sessions:
            self.sessions[target] = self.call("Target.attachToTarget",
                                              {"targetId": target, "flatten": True})["sessionId"]
        session = self.sessions[target]
        params = {"expression": expression, "awaitPromise": True, "returnByValue": True}
        for _ in range(100):   # a page that is still loading has no context yet
            try:
                result = self.call("Runtime.evaluate", params, session)
                break
            except RuntimeError as error:
                if "execution context" not in str(error):
                    raise
                time.sleep(0.1)
        else:
            raise RuntimeError("the page never got a script context")
        if "exceptionDetails" in result:
            raise RuntimeError("page script failed: %s" % result["exceptionDetails"])
        return result["result"].get("value")


# --- launching and closing ------------------------------------------------------

def engine_binary():
    for path in ("/usr/bin/chromium", "/usr/lib/chromium/chromium"):
        if os.access(path, os.X_OK):
            return path
    return None


def browser_pids(profile):
    needle = ("--user-data-dir=" + profile).encode()
    pids = []
    for entry in os.listdir("/proc"):
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                if needle in f.read().split(b"\0"):
                    pids.append(int(entry))
        except (OSError, ValueError):
            pass
    return pids


def browser_environment(profile):
    """The environment entries of the browser's main process."""
    for pid in browser_pids(profile):
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            if b"--type=" in f.read():
                continue
        with open("/proc/%d/environ" % pid, "rb") as f:
            return f.read().split(b"\0")
    return []


class Run:
    def __init__(self, launcher, work, profile, config, extra_args=()):
        self.profile = profile
        os.makedirs(profile, exist_ok=True)
        with open(os.path.join(profile, "command-line.json"), "w") as f:
            json.dump(config, f)
        port_file = os.path.join(profile, "DevToolsActivePort")
        if os.path.exists(port_file):
            os.remove(port_file)
        env = dict(os.environ, QUILLON_ENGINE_BIN=engine_binary(),
                   QUILLON_ENGINE_KIND="chromium", TZ="UTC", LANGUAGE="en_US:en")
        # Files, not pipes: the browser inherits them and would hold a pipe open.
        with open(os.path.join(work, "launcher.out"), "w") as out, \
                open(os.path.join(work, "launcher.err"), "w") as err:
            status = subprocess.run([launcher, "--user-data-dir=" + profile] + CHROMIUM_FLAGS
                                    + list(extra_args), stdout=out, stderr=err, env=env,
                                    timeout=60).returncode
        if status != 0:
            raise RuntimeError("launcher exit status %d: %s" % (
                status, open(os.path.join(work, "launcher.err")).read()))
        lines = wait_for(lambda: _port_lines(port_file), "DevToolsActivePort")
        self.devtools = DevTools(int(lines[0]), lines[1])

    def page(self, url):
        """The page target showing url, once the document has loaded."""
        page = wait_for(lambda: next((p for p in self.devtools.pages() if p["url"] == url), None),
                        "a page at " + url)
        loaded = "document.readyState === 'complete' ? location.href : ''"
        wait_for(lambda: self.devtools.evaluate(page, loaded) == url, url + " to load")
        return page

    def close(self):
        try:
            self.devtools.call("Browser.close")
        except (OSError, RuntimeError):
            pass
        # The browser leads a session of its own: look for it by its profile.
        try:
            wait_for(lambda: not browser_pids(self.profile), "the browser to exit", 10)
        except RuntimeError:
            for pid in browser_pids(self.profile):
                os.kill(pid, signal.SIGKILL)
            raise


def _port_lines(path):
    lines = open(path).read().split() if os.path.exists(path) else []
    return lines if len(lines) == 2 else None


LOCALE = "[Intl.DateTimeFormat().resolvedOptions().timeZone, navigator.languages]"
WEBRTC = """(async () => {
  const stream = await navigator.mediaDevices.getUserMedia({audio: true});
  const pc = new RTCPeerConnection({iceServers: []});
  stream.getTracks().forEach(t => pc.addTrack(t, stream));
  pc.createDataChannel('probe');
  const found = [];
  const done = new Promise(resolve => {
    pc.onicecandidate = e => e.candidate ? found.push(e.candidate.candidate) : resolve();
    setTimeout(resolve, 5000);
  });
  await pc.setLocalDescription(await pc.createOffer());
  await done;
  const sdp = pc.localDescription.sdp;
  pc.close();
  stream.getTracks().forEach(t => t.stop());
  return {candidates: found, sdp};
})()"""


def main():
    launcher = os.path.abspath(sys.argv[1])
    if engine_binary() is None:
        print("chromium is not installed (apt-get install chromium); skipped")
        return 77
    # A network interface of the namespace, with an address WebRTC could leak.
    for command in (["link", "add", "quillon0", "type", "veth", "peer", "name", "quillon1"],
                    ["addr", "add", HOST_ADDRESS + "/24", "dev", "quillon0"],
                    ["link", "set", "quillon0", "up"], ["link", "set", "quillon1", "up"]):
        subprocess.run(["ip"] + command, check=True)

    work = tempfile.mkdtemp(prefix="quillon-browser-")
    site_port = serve(Site)
    Proxy.site_port = site_port
    proxy_port = serve(Proxy)
    site = "http://127.0.0.1:%d" % site_port
    persona = {"proxy-server": "http://persona:pw@127.0.0.1:%d" % proxy_port,
               "timezone-override": "Asia/Tokyo", "lang": "fr-FR",
               "accept-language": "fr-FR,fr;q=0.9"}
    profile = os.path.join(work, "profile")
    run = None
    try:
        # A session to come back to: a second tab, a cookie, local storage.
        run = Run(launcher, work, profile, persona)
        run.devtools.call("Target.createTarget", {"url": site + "/seed"})
        run.devtools.evaluate(run.page(site + "/seed"), "localStorage.setItem('seed', 'kept')")
        run.close()

        # Without hygiene the last session comes back whole.
        run = Run(launcher, work, profile, persona, ["--restore-last-session"])
        page = run.page(site + "/seed")
        cookies = run.devtools.call("Storage.getCookies")["cookies"]
        check(any(c["name"] == "seed" for c in cookies), "without hygiene the cookie is restored")
        check(run.devtools.evaluate(page, "localStorage.getItem('seed')") == "kept",
              "without hygiene local storage is restored")
        run.close()

        # With hygiene, the start page and every persona value.
        Site.seen.clear()
        Proxy.seen.clear()
        clean = dict(persona, **{"start-page": site + "/start", "webrtc-no-leak": True,
                                 "granular-storage-reset": {"cookies": True,
                                                            "local_storage": True}})
        run = Run(launcher, work, profile, clean, ["--restore-last-session"])
        page = run.page(site + "/start")
        time.sleep(1)   # a restored tab would have appeared by now
        urls = [p["url"] for p in run.devtools.pages()]
        check(urls == [site + "/start"], "the start page is the only page: %s" % urls)
        cookies = run.devtools.call("Storage.getCookies")["cookies"]
        check(not any(c["name"] == "seed" for c in cookies), "hygiene deleted the cookie")
        check(run.devtools.evaluate(page, "localStorage.getItem('seed')") is None,
              "hygiene deleted local storage")
        zone, languages = run.devtools.evaluate(page, LOCALE)
        check(zone == "Asia/Tokyo", "time zone inside the page: %s" % zone)
        check(languages == ["fr-FR", "fr"], "navigator.languages: %s" % languages)
        # The interface language (Intl follows it where chromium-l10n is installed).
        check(b"LANGUAGE=fr_FR:fr" in browser_environment(run.profile),
              "the browser's LANGUAGE is the persona's")
        worker_zone = run.devtools.evaluate(page, """new Promise(resolve => {
            const w = new Worker(URL.createObjectURL(new Blob(
              ['postMessage(Intl.DateTimeFormat().resolvedOptions().timeZone)'])));
            w.onmessage = e => resolve(e.data); })""")
        check(worker_zone == "Asia/Tokyo", "time zone inside a worker: %s" % worker_zone)
        webrtc = run.devtools.evaluate(page, WEBRTC)
        leaked = [c for c in webrtc["candidates"] if HOST_ADDRESS in c or " typ host" in c]
        check(not leaked and HOST_ADDRESS not in webrtc["sdp"],
              "no ICE candidate carries a host address: %s" % webrtc["candidates"])
        check(any(p == site + "/start" for p, _ in Proxy.seen),
              "the start page went through the proxy: %s" % Proxy.seen)
        accept = [a for p, a in Proxy.seen if p == site + "/start"]
        check(accept and accept[0].startswith("fr-FR,fr;"), "Accept-Language: %s" % accept)
        direct = [s for s in Site.seen if s[0] != EGRESS]
        check(Site.seen and not direct, "nothing reached the site directly: %s" % Site.seen)
        run.close()

        # Discovery through microsocks: the responder's time zone and
        # country languages reach the page.
        socks = "socks5://127.0.0.1:%s" % os.environ["QUILLON_TEST_PROXY_PORT"]
        discovered = {"proxy-server": socks, "auto-timezone": True, "auto-lang": True,
                      "start-page": site + "/found"}
        run = Run(launcher, work, profile, discovered)
        zone, languages = run.devtools.evaluate(run.page(site + "/found"), LOCALE)
        check(zone == "Europe/Berlin", "discovered time zone inside the page: %s" % zone)
        check(languages == ["de-DE", "de", "en"], "discovered languages: %s" % languages)
        run.close()
        run = None
    finally:
        if run:
            for pid in browser_pids(run.profile):
                os.kill(pid, signal.SIGKILL)
            # A browser still dying would write into the profile being removed.
            for _ in range(50):
                if not browser_pids(run.profile):
                    break
                time.sleep(0.1)
        shutil.rmtree(work, ignore_errors=True)
    print("%d check(s) failed" % len(failures) if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
