#!/usr/bin/python3
"""HTTPS responder for the discovery tests: the two endpoints' answers. A
test may replace the answer of a path with the content of a file named after
it in the answers directory. Requests that did not come through the test
proxies (which connect out from PROXIED) get a page that carries no IP.
Standard library only."""

import http.server
import json
import os
import ssl
import sys

PROXIED = "127.0.0.2"
ANSWER_FILES = {"/geoip?format=json": "geoip", "/myip": "myip"}
ROUTES = {
    "/geoip?format=json": json.dumps({"ip": "203.0.113.7", "country_code": "de",
                                      "timezone": "Europe/Berlin", "latitude": 48.85,
                                      "longitude": 2.35}).encode(),
    "/myip": b"198.51.100.23\n",
}


class Handler(http.server.BaseHTTPRequestHandler):
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
        body = ROUTES.get(self.path)
        self.answer(200 if body else 404, body or b"not found\n")

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
