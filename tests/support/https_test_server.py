#!/usr/bin/env python3
"""Loopback HTTPS servers for the feed tests, started by the test process.

    https_test_server.py <work folder> [lifetime seconds] [authority folder]

Generates, with openssl, two test authorities (the first one kept in and taken
from <authority folder> when given) and for each a server certificate for
"localhost" and for the address 127.0.0.1; only the first authority's
certificate (trusted-ca.der) is meant to be trusted by the test. Serves HTTPS
on two free loopback ports, one per chain, and writes "<trusted port>
<untrusted port>" to <work folder>/ports once both listen. Answers GET /hello
with a fixed body and /bytes/<n> with n pattern bytes, and /files/<name> with
the file of that name in <work folder>/files (written there by the test).
/redirect?to=<URL>[&status=<code>] answers with that redirect status (302
unless given) and <URL> as its Location, exactly as given (relative ones too).
Stops when <work folder>/stop appears or the lifetime ends. Standard library
only.
"""
import http.server
import os
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse

HELLO = b"hello over tls"


def quiet():
    # Started by a Windows process under Wine, which may hand down the test
    # runner's output pipe: let go of it at once.
    null = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(null, fd)


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_chain(folder, name, authority_folder=None):
    """A test authority and a server certificate for localhost signed by it.

    With authority_folder, the authority kept there is used (and made there
    first when it is missing), so that the servers of one test process share
    one authority.
    """
    ca_folder = authority_folder or folder
    ca_pem = os.path.join(ca_folder, f"{name}-ca.pem")
    ca_key = os.path.join(ca_folder, f"{name}-ca.key")
    if not (os.path.exists(ca_pem) and os.path.exists(ca_key)):
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                "-keyout", ca_key, "-out", ca_pem,
                "-subj", f"/CN=Movora {name} test authority",
                "-addext", "basicConstraints=critical,CA:TRUE", cwd=folder)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{name}-server.key",
            "-out", f"{name}-server.csr", "-subj", "/CN=localhost", cwd=folder)
    with open(os.path.join(folder, f"{name}-ext.cnf"), "w") as ext:
        # The address as a DNS name too: Wine matches the host only against
        # DNS names.
        ext.write("subjectAltName=DNS:localhost,IP:127.0.0.1,DNS:127.0.0.1\n"
                  "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n")
    openssl("x509", "-req", "-in", f"{name}-server.csr", "-CA", ca_pem, "-CAkey", ca_key,
            "-set_serial", str(int.from_bytes(os.urandom(8), "big")), "-days", "2",
            "-out", f"{name}-server.pem", "-extfile", f"{name}-ext.cnf", cwd=folder)
    openssl("x509", "-in", ca_pem, "-outform", "DER", "-out", f"{name}-ca.der", cwd=folder)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        if self.path.startswith("/redirect?"):
            query = urllib.parse.parse_qs(self.path[len("/redirect?"):])
            self.send_response(int(query.get("status", ["302"])[0]))
            self.send_header("Location", query["to"][0])
            self.send_header("Content-Length", "0")
            self.send_header("Connection", "close")
            self.end_headers()
            return
        if self.path == "/hello":
            body = HELLO
        elif self.path.startswith("/bytes/"):
            body = bytes(i % 251 for i in range(int(self.path[7:])))
        elif self.path.startswith("/files/") and "/" not in self.path[7:] \
                and os.path.isfile(os.path.join(FILES, self.path[7:])):
            with open(os.path.join(FILES, self.path[7:]), "rb") as served:
                body = served.read()
        else:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def serve(folder, name):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(folder, f"{name}-server.pem"),
                            os.path.join(folder, f"{name}-server.key"))
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


FILES = ""


def main():
    global FILES
    quiet()
    folder = sys.argv[1]
    FILES = os.path.join(folder, "files")
    lifetime = float(sys.argv[2]) if len(sys.argv) > 2 else 120.0
    make_chain(folder, "trusted", sys.argv[3] if len(sys.argv) > 3 else None)
    make_chain(folder, "untrusted")
    servers = [serve(folder, "trusted"), serve(folder, "untrusted")]
    ports = " ".join(str(s.server_address[1]) for s in servers)
    with open(os.path.join(folder, "ports.tmp"), "w") as out:
        out.write(ports + "\n")
    os.replace(os.path.join(folder, "ports.tmp"), os.path.join(folder, "ports"))
    deadline = time.monotonic() + lifetime
    while time.monotonic() < deadline and not os.path.exists(os.path.join(folder, "stop")):
        time.sleep(0.1)
    for server in servers:
        server.shutdown()


if __name__ == "__main__":
    main()
