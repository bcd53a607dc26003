#!/usr/bin/python3
"""HTTPS responder of the discovery tests on 127.0.0.1:443 with WORK/ca.pem and WORK/key.pem: the
two endpoints' answers, to requests that came through the proxies (from 127.0.0.2) only.
Usage: https_responder.py WORK"""

import http.server
import json
import ssl
import sys

ROUTES = {"/geoip?format=json": json.dumps({
    "ip": "203.0.113.7", "country_code": "de", "timezone": "Europe/Berlin",
    "latitude": 52.52, "longitude": 13.4}).encode(), "/myip": b"198.51.100.23\n"}


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):  # a client that goes away leaves a trace in the log, nothing more
        body = ROUTES.get(self.path, b"not found\n")
        if self.client_address[0] != "127.0.0.2":
            body = b"request went around the proxy\n"
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


server = http.server.ThreadingHTTPServer(("127.0.0.1", 443), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[1] + "/ca.pem", sys.argv[1] + "/key.pem")
# The handshake runs in the request thread: a silent client holds up no other.
server.socket = context.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
server.serve_forever()
