"""One GET as the setup program makes it (feed/http_get.cpp, HttpGet), so that
`verify` reads a served release list the way the program reads it and stops
where the program stops, with the program's sentence.

The address and every redirect hop pass the URL rule before a request goes
there; at most five redirects (301, 302, 303, 307 and 308) are followed, each
Location read against the URL that answered with it; a hop from HTTPS to plain
HTTP is refused even towards this machine; only a 2xx answer counts, and a
body over the cap is refused. The tool sends what the program sends: the
program's user agent and the path and query escaped as WinHTTP escapes them.
TLS is checked against the trusted authorities of this machine (or the file
that SSL_CERT_FILE names); the program checks against those of Windows.
"""
import http.client
import ssl

from .errors import Refusal
from .urlrule import NEEDS_HTTPS, is_secure, request_target, resolve_location, split_url, \
    url_problem

USER_AGENT = "MovoraSetup/0.1.0"
REDIRECT_STATUSES = (301, 302, 303, 307, 308)
MOST_REDIRECTS = 5
# The program's send and receive time-outs; it waits 8 s to resolve and connect.
TIMEOUT_SECONDS = 20

NOT_REACHED = "Could not reach the download server."
SERVER_ERROR = "The server returned an error."
TOO_MANY_REDIRECTS = "The download server redirected too many times."
TOO_LARGE = "The release file was larger than expected."
STOPPED = "The download stopped."


def refuse(sentence, reason):
    """A refusal in the program's words: its sentence, then why."""
    raise Refusal(f"{sentence[:-1]}: {reason}.")


def _connection(url):
    _, _, host, port, _, _ = split_url(url)
    host = host.strip("[]")
    secure = is_secure(url)
    port = int(port) if port else (443 if secure else 80)
    if secure:
        return http.client.HTTPSConnection(host, port, timeout=TIMEOUT_SECONDS,
                                           context=ssl.create_default_context())
    return http.client.HTTPConnection(host, port, timeout=TIMEOUT_SECONDS)


def _exchange(url):
    """(connection, response) of one GET of url, headers received."""
    connection = _connection(url)
    try:
        connection.putrequest("GET", request_target(url), skip_accept_encoding=True)
        connection.putheader("User-Agent", USER_AGENT)
        connection.endheaders()
        return connection, connection.getresponse()
    except (OSError, http.client.HTTPException) as error:
        connection.close()
        reason = getattr(error, "reason", None) or getattr(error, "strerror", None) or error
        refuse(NOT_REACHED, f"{url} could not be reached ({reason})")


def get(url, cap, what):
    """The body at url, read as the setup program reads it into memory, and the
    URL that gave it (the last hop); what names the thing for the reasons
    ("the release list"). Refuses with the program's sentence and the reason
    where the program would fail."""
    problem = url_problem(url)
    if problem:
        refuse(problem[0], f"{what} at {url}: {problem[1]}")
    current = url
    redirects = 0
    while True:
        connection, response = _exchange(current)
        try:
            status = response.status
            if status in REDIRECT_STATUSES:
                if redirects == MOST_REDIRECTS:
                    refuse(TOO_MANY_REDIRECTS, f"{what} at {url} is still redirected after "
                                               f"{MOST_REDIRECTS} redirects, at {current}")
                redirects += 1
                location = response.getheader("Location")
                if not location:
                    refuse(SERVER_ERROR, f"{current} answered {status} without a Location")
                following = resolve_location(current, location)
                problem = url_problem(following)
                if problem:
                    refuse(problem[0], f"{current} redirects ({status}) to {following}, and "
                                       f"{problem[1]}")
                if is_secure(current) and not is_secure(following):
                    refuse(NEEDS_HTTPS, f"{current} redirects ({status}) from HTTPS down to "
                                        f"plain HTTP, {following}")
                current = following
                continue
            if not 200 <= status <= 299:
                refuse(SERVER_ERROR, f"{current} answered {status} {response.reason}")
            try:
                body = response.read(cap + 1)
            except (OSError, http.client.HTTPException) as error:
                refuse(STOPPED, f"{what} at {current} broke off ({error!r})")
            if len(body) > cap:
                refuse(TOO_LARGE, f"{what} at {current} is larger than the {cap:,} bytes the "
                                  "setup program reads")
            return body, current
        finally:
            connection.close()

