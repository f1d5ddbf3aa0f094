#!/usr/bin/env python3
"""Serves /body/<n>: n pattern bytes with a Content-Length, on 127.0.0.1, and
with a folder given, /files/<name>: that file of the folder.

    loopback_body_server.py <port file> [folder]

Writes its port to <port file> once it listens; runs until killed.
"""
import http.server
import os
import shutil
import sys

BLOCK = bytes(i % 251 for i in range(1 << 20))


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path.startswith("/files/") and len(sys.argv) > 2:
            self.send_file(os.path.join(sys.argv[2], os.path.basename(self.path[7:])))
            return
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

    def send_file(self, path):
        if not os.path.isfile(path):
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Length", str(os.path.getsize(path)))
        self.end_headers()
        with open(path, "rb") as source:
            shutil.copyfileobj(source, self.wfile, 1 << 20)

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
with open(sys.argv[1], "w") as out:
    out.write(str(server.server_address[1]))
server.serve_forever()
