#!/usr/bin/env python3
"""A ping endpoint of a monitoring service, for the system tier:

    python3 ping_recorder.py PORT FILE

listens on the loopback port and answers every request with 200, appending
one JSON line per request (method, path, body) to FILE, which it creates as
soon as it listens."""

import http.server
import json
import sys


class Recorder(http.server.BaseHTTPRequestHandler):
    def record(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length).decode("utf-8", "replace")
        with open(sys.argv[2], "a") as f:
            f.write(json.dumps({"method": self.command, "path": self.path, "body": body}) + "\n")
        self.send_response(200)
        self.send_header("Content-Length", "2")
        self.end_headers()
        self.wfile.write(b"OK")

    do_GET = do_POST = record

    def log_message(self, *arguments):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Recorder)
open(sys.argv[2], "a").close()
server.serve_forever()
