#!/usr/bin/python3
"""HTTPS responder for the discovery tests: the two endpoints' answers, or the
content of a file named after the path in the answers directory. Requests that
did not come through the test proxies (which connect out from PROXIED) get a
page that carries no IP.
Arguments: CERT KEY PORT READY (a file created once listening) ANSWERS."""

import http.server
import json
import os
import ssl
import sys

PROXIED = "127.0.0.2"
ROUTES = {
    "/geoip?format=json": ("geoip", json.dumps({
        "ip": "203.0.113.7", "country_code": "de", "timezone": "Europe/Berlin",
        "latitude": 48.85, "longitude": 2.35}).encode()),
    "/myip": ("myip", b"198.51.100.23\n"),
}


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        status, body = 404, b"not found\n"
        if self.client_address[0] != PROXIED:
            status, body = 403, b"<p>request went around the proxy</p>\n"
        elif self.path in ROUTES:
            name, body = ROUTES[self.path]
            status, answer = 200, os.path.join(sys.argv[5], name)
            if os.path.exists(answer):
                with open(answer, "rb") as f:
                    body = f.read()
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
    cert, key, port, ready = sys.argv[1:5]
    server = http.server.ThreadingHTTPServer(("127.0.0.1", int(port)), Handler)
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    # The handshake runs in the request thread: a silent client holds up no other.
    server.socket = context.wrap_socket(server.socket, server_side=True,
                                        do_handshake_on_connect=False)
    open(ready, "w").close()
    server.serve_forever()


if __name__ == "__main__":
    main()
