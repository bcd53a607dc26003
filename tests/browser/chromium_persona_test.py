#!/usr/bin/python3
"""The built LAUNCHER with QUILLON_ENGINE_KIND=chromium in front of Debian's Chromium, checked in
the page through the DevTools protocol, in the network of with_test_network.sh (its microsocks
connects out from 127.0.0.2) with an interface whose address WebRTC could leak."""

import http.server
import json
import os
import pathlib
import socket
import subprocess
import sys
import tempfile
import threading
import time

ENGINE = "/usr/lib/chromium/chromium"  # not the wrapper script, whose shell drops duplicate variables
HOST_ADDRESS = "198.51.100.7"
FLAGS = ["--headless=new", "--no-sandbox", "--remote-debugging-port=0", "--disable-gpu",
         "--no-first-run", "--disable-background-networking", "--disable-component-update",
         "--disable-sync", "--password-store=basic", "--proxy-bypass-list=<-loopback>",
         "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1",
         "--use-fake-device-for-media-stream", "--use-fake-ui-for-media-stream"]
LOCALE = """(async (zone = () => Intl.DateTimeFormat().resolvedOptions().timeZone) => [zone(),
  navigator.languages, await new Promise(resolve => new Worker(URL.createObjectURL(new Blob(
    [`postMessage((${zone})())`]))).onmessage = e => resolve(e.data))])()"""
# The offer once gathering ends; Chromium shows host addresses only while a microphone is open.
WEBRTC = """navigator.mediaDevices.getUserMedia({audio: true}).then(async stream => {
  const pc = new RTCPeerConnection();
  stream.getTracks().forEach(track => pc.addTrack(track, stream));
  await pc.setLocalDescription(await pc.createOffer());
  for (let i = 0; i < 50 && pc.iceGatheringState != 'complete'; i++)
    await new Promise(resolve => setTimeout(resolve, 100));
  return pc.localDescription.sdp;
})"""


def wait_for(test, what, seconds=15):
    for _ in range(seconds * 10):
        value = test()
        if value:
            return value
        time.sleep(0.1)
    raise RuntimeError("gave up waiting for " + what)


class Site(http.server.BaseHTTPRequestHandler):
    def do_GET(self):  # the request log on standard error shows who asked
        self.server.peers.append((self.client_address[0], self.path))
        self.send_response(200)
        if self.path == "/seed":
            self.send_header("Set-Cookie", "seed=1; Max-Age=86400")
        self.end_headers()
        self.wfile.write(b"<!doctype html><title>quillon</title>")


class DevTools:
    """The DevTools protocol on the browser's WebSocket, which sends each message in one frame."""

    def __init__(self, port, path):
        self.sock = socket.create_connection(("127.0.0.1", port), 10)
        self.sock.sendall(("GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                           "Connection: Upgrade\r\nSec-WebSocket-Key: AAAAAAAAAAAAAAAAAAAAAA==\r\n"
                           "Sec-WebSocket-Version: 13\r\n\r\n" % path).encode())
        self.stream, self.next_id = self.sock.makefile("rb"), 0
        while self.stream.readline() not in (b"\r\n", b""):  # the handshake's answer
            pass

    def call(self, method, params=None, session=None, quiet=False):  # quiet: None for an error
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
                if "error" in reply and not quiet:
                    raise RuntimeError("%s: %s" % (method, reply["error"]))
                return reply.get("result")
        raise RuntimeError("no reply to " + method)

    def pages(self):
        return [t for t in self.call("Target.getTargets")["targetInfos"] if t["type"] == "page"]

    def evaluate(self, page, expression):
        session = self.call("Target.attachToTarget",
                            {"targetId": page["targetId"], "flatten": True})["sessionId"]
        params = {"expression": expression, "awaitPromise": True, "returnByValue": True}
        # A page that is still loading may have no script context yet.
        result = wait_for(lambda: self.call("Runtime.evaluate", params, session, quiet=True),
                          "a script context for " + expression)
        if "exceptionDetails" in result:
            raise RuntimeError("page script failed: %s" % result["exceptionDetails"])
        return result["result"].get("value")


def browser_pids(profile):
    needle, pids = ("--user-data-dir=" + profile).encode(), []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if needle in pathlib.Path("/proc", pid, "cmdline").read_bytes().split(b"\0"):
                pids.append(int(pid))
        except OSError:  # gone meanwhile
            pass
    return pids


def launch(profile, persona, *args):
    """The LAUNCHER started with the persona; a DevTools client of the browser it started."""
    port_file, log = pathlib.Path(profile, "DevToolsActivePort"), pathlib.Path(profile, "log")
    pathlib.Path(profile, "command-line.json").write_text(json.dumps(persona))
    port_file.unlink(missing_ok=True)
    env = dict(os.environ, QUILLON_ENGINE_BIN=ENGINE, QUILLON_ENGINE_KIND="chromium", TZ="UTC",
               LANGUAGE="en_US:en")
    with open(log, "w") as out:  # a file: the browser inherits it and would hold a pipe open
        command = [sys.argv[1], "--user-data-dir=" + profile] + FLAGS + list(args)
        status = subprocess.run(command, stdout=out, stderr=out, env=env, timeout=60).returncode
    assert status == 0, "the launcher failed: " + log.read_text()
    port = wait_for(lambda: port_file.exists() and port_file.read_text().split(), port_file.name)
    return DevTools(int(port[0]), port[1])


def loaded(devtools, url):
    return wait_for(lambda: [p for p in devtools.pages()
                             if p["url"] == url and p["title"] == "quillon"], url)[0]


def close(devtools, profile):
    try:
        devtools.call("Browser.close")
    except (OSError, IndexError, ValueError):  # the browser may close the connection first
        pass
    wait_for(lambda: not browser_pids(profile), "the browser to exit", 10)


def main():
    if not os.access(ENGINE, os.X_OK):
        print("chromium is not installed (apt-get install chromium); skipped")
        return 77
    for command in ("link add quillon0 type veth peer name quillon1", "link set quillon1 up",
                    "addr add %s/24 dev quillon0" % HOST_ADDRESS, "link set quillon0 up"):
        subprocess.run(["ip"] + command.split(), check=True)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Site)
    server.peers = []
    threading.Thread(target=server.serve_forever, daemon=True).start()
    site = "http://127.0.0.1:%d" % server.server_address[1]
    socks = "127.0.0.1:" + os.environ["QUILLON_TEST_PROXY_PORT"]
    with tempfile.TemporaryDirectory(prefix="quillon-browser-", ignore_cleanup_errors=True) as profile:
        try:
            # The persona's own values on the direct path; a tab, a cookie and local storage stay.
            stated = {"proxy-server": "socks5h://" + socks, "timezone-override": "Asia/Tokyo",
                      "lang": "fr-FR", "accept-language": "fr-FR,fr;q=0.9", "webrtc-no-leak": True}
            devtools = launch(profile, stated)
            devtools.call("Target.createTarget", {"url": site + "/seed"})
            page = loaded(devtools, site + "/seed")
            devtools.evaluate(page, "localStorage.setItem('seed', 'kept')")
            locale = devtools.evaluate(page, LOCALE)
            assert locale == ["Asia/Tokyo", ["fr-FR", "fr"], "Asia/Tokyo"], locale
            environ = pathlib.Path("/proc/%d/environ" % min(browser_pids(profile))).read_bytes()
            language = [e for e in environ.split(b"\0") if e.startswith(b"LANGUAGE=")]
            assert language == [b"LANGUAGE=fr_FR:fr"], language
            sdp = devtools.evaluate(page, WEBRTC)
            assert HOST_ADDRESS not in sdp and " typ host" not in sdp, sdp
            close(devtools, profile)

            devtools = launch(profile, stated, "--restore-last-session")
            page = loaded(devtools, site + "/seed")
            kept = ([c["name"] for c in devtools.call("Storage.getCookies")["cookies"]],
                    devtools.evaluate(page, "localStorage.getItem('seed')"))
            assert kept == (["seed"], "kept"), "without hygiene the session comes back: %s" % kept
            close(devtools, profile)

            devtools = launch(profile, {
                "proxy-server": "socks5://" + socks, "auto-timezone": True, "auto-lang": True,
                "start-page": site + "/start",
                "granular-storage-reset": {"cookies": True, "local_storage": True}},
                "--restore-last-session")
            page = loaded(devtools, site + "/start")
            time.sleep(1)  # a restored tab would have appeared by now
            state = ([p["url"] for p in devtools.pages()],
                     devtools.call("Storage.getCookies")["cookies"],
                     devtools.evaluate(page, "localStorage.getItem('seed')"),
                     devtools.evaluate(page, LOCALE))
            assert state == ([site + "/start"], [], None,
                             ["Europe/Berlin", ["de-DE", "de", "en"], "Europe/Berlin"]), state
            close(devtools, profile)
        finally:
            subprocess.run(["kill", "-KILL"] + [str(pid) for pid in browser_pids(profile)],
                           stderr=subprocess.DEVNULL)
    paths = {path for _, path in server.peers}
    assert {"/seed", "/start"} <= paths and {a for a, _ in server.peers} == {"127.0.0.2"}, \
        "every page load came through the proxy: %s" % server.peers
    return 0


if __name__ == "__main__":
    sys.exit(main())
