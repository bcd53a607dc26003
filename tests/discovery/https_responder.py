#!/usr/bin/python3
"""HTTPS responder for the discovery tests: the two endpoints' answers.
Usage: https_responder.py CERT KEY PORT READY_FILE"""

import http.server
import ssl
import sys

ROUTES = {
    "/geoip?format=json": b'{"ip":"203.0.113.7","country_code":"de","timezone":"Europe/Berlin",'
                          b'"latitude":48.85,"longitude":2.35}',
    "/myip": b"198.51.100.23\n",
}


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = ROUTES.get(self.path)
        self.send_response(200 if body else 404)
        self.send_header("Content-Length", str(len(body or b"")))
        self.end_headers()
        self.wfile.write(body or b"")

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[3])), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[1], sys.argv[2])
server.socket = context.wrap_socket(server.socket, server_side=True)
open(sys.argv[4], "w").close()
server.serve_forever()
