#!/usr/bin/env python3
"""Serves /body/<n>: n pattern bytes with a Content-Length, on 127.0.0.1.

    loopback_body_server.py <port file>

Writes its port to <port file> once it listens; runs until killed.
"""
import http.server
import sys

BLOCK = bytes(i % 251 for i in range(1 << 20))


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if not self.path.startswith("/body/"):
            self.send_error(404)
            return
        size = int(self.path[6:])
        self.send_response(200)
        self.send_header("Content-Length", str(size))
        self.end_headers()
        view = memoryview(BLOCK)
        while size > 0:
            piece = min(size, len(BLOCK))
            self.wfile.write(view[:piece])
            size -= piece

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
with open(sys.argv[1], "w") as out:
    out.write(str(server.server_address[1]))
server.serve_forever()
