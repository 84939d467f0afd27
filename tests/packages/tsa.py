#!/usr/bin/env python3
"""A time-stamping authority for the package tests, on 127.0.0.1: each POST
of an RFC 3161 request is answered by `openssl ts -reply` with the TSA of
CONFIG, as application/timestamp-reply. Prints its URL once it listens.
Usage: tsa.py CONFIG"""
import http.server
import subprocess
import sys
import tempfile


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        with tempfile.NamedTemporaryFile() as request:
            request.write(query)
            request.flush()
            reply = subprocess.run(["openssl", "ts", "-reply", "-config", sys.argv[1], "-queryfile", request.name],
                                   capture_output=True)
        if reply.returncode != 0:
            self.send_error(500, reply.stderr.decode(errors="replace")[:200])
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply.stdout)))
        self.end_headers()
        self.wfile.write(reply.stdout)

    def log_message(self, *_):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
print(f"http://127.0.0.1:{server.server_port}/", flush=True)
server.serve_forever()
