#!/usr/bin/python3
"""HTTPS responder for the discovery tests: serves, by path, every shape of
answer an egress endpoint can give. A test may replace the answer of a path
with the content of a file named after it in the answers directory. Requests
that did not come through the test proxies (which connect out from PROXIED)
get a page that carries no IP. Standard library only."""

import http.server
import json
import os
import ssl
import sys
import time

BIG = 5 * 1024 * 1024
PROXIED = "127.0.0.2"
ANSWER_FILES = {"/geoip?format=json": "geoip", "/myip": "myip"}


def routes():
    full = {"ip": "203.0.113.7", "country_code": "de", "timezone": "Europe/Berlin",
            "latitude": 48.85, "longitude": 2.35, "asn": [64500, {"name": None}]}
    return {
        "/geoip?format=json": (200, json.dumps(full).encode()),
        "/myip": (200, b"198.51.100.23\n"),
        "/plain": (200, "\r\n\u2028\u0085\x0b\x0c\t\u3000 2001:db8:85a3::8a2e:370:7334\u00a0"
                        "\u2029next".encode()),
        "/html403": (403, b"<html><head><title>403 Forbidden</title></head>\n"
                          b"<body><h1>Forbidden</h1></body></html>\n"),
        "/nonutf8": (200, b"203.0.113.7\n\xff\xfe\n"),
        "/empty": (200, b""),
        "/big-ip": (200, b"203.0.113.7\n" + b"x" * BIG),
        "/big": (200, b"y" * BIG),
    }


class Handler(http.server.BaseHTTPRequestHandler):
    ROUTES = routes()
    ANSWERS = None

    def do_GET(self):
        if self.client_address[0] != PROXIED:
            self.answer(403, b"<p>request went around the proxy</p>\n")
            return
        name = ANSWER_FILES.get(self.path)
        if name and self.ANSWERS and os.path.exists(os.path.join(self.ANSWERS, name)):
            with open(os.path.join(self.ANSWERS, name), "rb") as f:
                self.answer(200, f.read())
            return
        if self.path == "/slow":
            # Longer than curl's --max-time; the client gives up first.
            time.sleep(12)
            self.answer(200, b"203.0.113.7\n")
            return
        status, body = self.ROUTES.get(self.path, (404, b"not found\n"))
        self.answer(status, body)

    def answer(self, status, body):
        try:
            self.send_response(status)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            pass

    def log_message(self, *args):
        pass


def main():
    """Arguments: CERT KEY PORT READY (a file created once listening) ANSWERS."""
    cert, key, port, ready, Handler.ANSWERS = sys.argv[1:6]
    server = http.server.ThreadingHTTPServer(("127.0.0.1", int(port)), Handler)
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    # The handshake runs in the request thread, so a silent client cannot
    # hold up the others.
    server.socket = context.wrap_socket(server.socket, server_side=True,
                                        do_handshake_on_connect=False)
    open(ready, "w").close()
    server.serve_forever()


if __name__ == "__main__":
    main()
