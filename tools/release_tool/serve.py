"""A local release server for development and tests: serves a published tree
over HTTP on loopback, or over HTTPS with a given certificate, with a
Content-Length on every answer and one log line per request on stderr.

It always listens on 127.0.0.1; --host only chooses the name in the printed
address (a certificate usually names "localhost").
"""
import errno
import functools
import http.server
import os
import signal
import ssl
import sys

from .errors import Refusal

LOOPBACK = "127.0.0.1"
HOST_NAMES = ("127.0.0.1", "localhost")


class ReleaseHandler(http.server.SimpleHTTPRequestHandler):
    """Static files (with Content-Length, as the base class sends them); a
    release list is never cached, so a new release shows at once."""

    def end_headers(self):
        if self.path.split("?", 1)[0].endswith(".json"):
            self.send_header("Cache-Control", "no-cache")
        super().end_headers()

    def log_message(self, format, *args):
        sys.stderr.write(f"{self.address_string()} {self.log_date_time_string()} {format % args}\n")
        sys.stderr.flush()


class ReleaseServer(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address, handler, tls=None):
        self.tls = tls
        super().__init__(address, handler)

    def finish_request(self, request, client_address):
        # The TLS handshake runs on the connection's own thread, so a client
        # that connects and says nothing cannot hold up the others.
        if self.tls is not None:
            request.settimeout(30)
            request = self.tls.wrap_socket(request, server_side=True)
        super().finish_request(request, client_address)

    def handle_error(self, request, client_address):
        error = sys.exc_info()[1]
        sys.stderr.write(f"{client_address[0]} connection ended: {error}\n")
        sys.stderr.flush()


def tls_context(cert, key):
    """A server TLS context for the certificate (and key, when it is not in the
    certificate file); refuses files that cannot be loaded."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    try:
        context.load_cert_chain(cert, key)
    except (OSError, ssl.SSLError) as error:
        which = f'"{cert}"' + (f' with the key "{key}"' if key else "")
        reason = getattr(error, "strerror", None) or getattr(error, "reason", None) or error
        raise Refusal(f"The certificate {which} could not be loaded ({reason}).") from None
    return context


def make_server(folder, port, host, cert=None, key=None):
    """A bound, listening server for folder; refuses a folder that is not
    there, a port that is taken and a certificate that cannot be loaded."""
    if not os.path.isdir(folder):
        raise Refusal(f'The folder "{folder}" does not exist.')
    if host not in HOST_NAMES:
        raise Refusal(f'The host "{host}" is not loopback; the server only serves 127.0.0.1 '
                      "or localhost.")
    if key and not cert:
        raise Refusal("A key was given without a certificate; give both with --cert and --key.")
    tls = tls_context(cert, key) if cert else None
    handler = functools.partial(ReleaseHandler, directory=os.path.abspath(folder))
    try:
        return ReleaseServer((LOOPBACK, port), handler, tls)
    except OSError as error:
        if error.errno == errno.EADDRINUSE:
            raise Refusal(f"Port {port} on {LOOPBACK} is taken by another program; stop it or "
                          "choose another port with --port.") from None
        if error.errno == errno.EACCES:
            raise Refusal(f"Port {port} on {LOOPBACK} needs rights this account lacks; "
                          "choose a port above 1023.") from None
        raise Refusal(f"Cannot listen on port {port} of {LOOPBACK} ({error.strerror}).") from None


def run(folder, port, host, cert=None, key=None):
    """Serves folder until interrupted (Ctrl+C or SIGTERM); returns 0."""
    server = make_server(folder, port, host, cert, key)
    scheme = "https" if server.tls else "http"
    origin = f"{scheme}://{host}:{server.server_address[1]}"
    print(f'serving "{os.path.abspath(folder)}" at {origin}/ '
          f"(release list: {origin}/releases/latest.json); Ctrl+C stops it", flush=True)

    def stop(signum, frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, stop)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    print("stopped", flush=True)
    return 0
