#!/usr/bin/python3
"""HTTPS responder for the discovery tests: serves, by path, every shape of
answer an egress endpoint can give. Standard library only."""

import argparse
import http.server
import json
import ssl
import time

BIG = 5 * 1024 * 1024


def routes():
    full = {"ip": "203.0.113.7", "country_code": "de", "timezone": "Europe/Berlin",
            "latitude": 48.85, "longitude": 2.35, "asn": [64500, {"name": None}]}
    types = {"country_code": "FR", "timezone": "Europe/Paris", "latitude": "48.85",
             "longitude": 2, "isp": None, "ip": "2001:db8::1"}
    return {
        "/geoip?format=json": (200, json.dumps(full).encode()),
        "/myip": (200, b"198.51.100.23\n"),
        "/json/types": (200, b" \r\n\t" + json.dumps(types).encode()),
        "/json/booleans": (200, b'{"ip":"192.0.2.10","latitude":true,"longitude":false,'
                                b'"country_code":null,"timezone":42}'),
        "/json/ip-number": (200, b'{"ip":3405803783,"country_code":"US","timezone":"America/Chicago",'
                                 b'"latitude":41.5,"longitude":-87.25}'),
        "/json/malformed": (200, b'\n  {"ip":"203.0.113.7","country_code":"DE",\n'),
        "/plain/crlf": (200, b"\r\n\r\n  203.0.113.7  \r\n"),
        "/plain/unicode": (200, "\u2028\u0085\t\u3000 198.51.100.4\u00a0\u2029next".encode()),
        "/plain/vt-ff": (200, b"\x0b\x0c\t\n2001:db8:85a3::8a2e:370:7334\x0b"),
        "/html403": (403, b"<html><head><title>403 Forbidden</title></head>\n"
                          b"<body><h1>Forbidden</h1></body></html>\n"),
        "/nonutf8": (200, b"203.0.113.7\n\xff\xfe\n"),
        "/empty": (200, b""),
        "/big-ip": (200, b"203.0.113.7\n" + b"x" * BIG),
        "/big": (200, b"y" * BIG),
    }


class Handler(http.server.BaseHTTPRequestHandler):
    ROUTES = routes()

    def do_GET(self):
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
    parser = argparse.ArgumentParser()
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--port", type=int, default=443)
    parser.add_argument("--ready", required=True, help="file created once listening")
    args = parser.parse_args()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    # The handshake runs in the request thread, so a silent client cannot
    # hold up the others.
    server.socket = context.wrap_socket(server.socket, server_side=True,
                                        do_handshake_on_connect=False)
    open(args.ready, "w").close()
    server.serve_forever()


if __name__ == "__main__":
    main()
