#!/usr/bin/env python3
"""Alertmanager's webhook receiver for the tests: listens on 127.0.0.1 at a
free port, prints "listening on PORT", then each body it is sent on one line."""
import http.server
import json


class Receiver(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers["Content-Length"]))
        print(json.dumps(json.loads(body), sort_keys=True), flush=True)
        self.send_response(200)
        self.end_headers()

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Receiver)
print("listening on", server.server_address[1], flush=True)
server.serve_forever()
