"""The setup program's rule for every address it downloads from, and how it
reads a redirect.

HTTPS everywhere; plain HTTP only when the host is "localhost" (any letter
case) or exactly "127.0.0.1". The program splits an address with WinHTTP into
fixed buffers (feed/http_get.cpp, CheckDownloadUrl): 256 characters for the
host, 2,048 for the path and 1,024 for the query and fragment together, each
with room for the terminating NUL. An address that cannot be split, or whose
host, path or query is longer than that, is not valid at all.

tests/feed/url_rule_cases.tsv and tests/feed/redirect_locations.tsv hold the
cases that both the program's tests and this port's tests run.
"""
import urllib.parse

NOT_VALID = "The download address is not valid."
NEEDS_HTTPS = "The download has to use HTTPS."

HOST_LIMIT = 255  # characters of the host name
PATH_LIMIT = 2047  # characters of the path, with its leading /
EXTRA_LIMIT = 1023  # characters of the query and fragment, with the ? or #

DEFAULT_PORTS = {"http": "80", "https": "443"}


def _first_of(text, marks):
    """Index of the first of marks in text, or its length when there is none."""
    return min((at for at in map(text.find, marks) if at >= 0), default=len(text))


def split_url(url):
    """(scheme, user info, host, port text, path, extra) of an absolute URL,
    or None when it has no "scheme://" part."""
    scheme, sep, rest = url.partition("://")
    if not sep or not scheme:
        return None
    cut = _first_of(rest, "/?#")
    authority, tail = rest[:cut], rest[cut:]
    extra_at = _first_of(tail, "?#")
    path, extra = tail[:extra_at], tail[extra_at:]
    userinfo, at_sign, hostport = authority.rpartition("@")
    if not at_sign:
        userinfo = None
    if hostport.startswith("["):  # IPv6 literal: the port follows the bracket
        close = hostport.find("]") + 1
        host, port = hostport[:close], hostport[close:].removeprefix(":")
    else:
        host, _, port = hostport.partition(":")
    return scheme, userinfo, host, port, path, extra


def is_local_host(host):
    return host.lower() == "localhost" or host == "127.0.0.1"


def url_problem(url):
    """(the program's sentence, why) when the setup program would refuse to
    download from url, or None when it would accept the address."""
    parts = split_url(url)
    if parts is None:
        return NOT_VALID, "it is not an absolute address (scheme://host/path)"
    scheme, _, host, port, path, extra = parts
    scheme = scheme.lower()
    if scheme not in ("http", "https"):
        return NOT_VALID, f'its scheme "{scheme}" is neither https nor http'
    if not host:
        return NOT_VALID, "it names no host"
    if len(host) > HOST_LIMIT:
        return NOT_VALID, (f"its host name is {len(host):,} characters long, more than the "
                           f"{HOST_LIMIT} the setup program takes")
    if port and (not port.isdigit() or not 0 < int(port) <= 65535):
        return NOT_VALID, f'its port "{port}" is not a number from 1 to 65535'
    if len(path) > PATH_LIMIT:
        return NOT_VALID, (f"its path is {len(path):,} characters long, more than the "
                           f"{PATH_LIMIT:,} the setup program takes")
    if len(extra) > EXTRA_LIMIT:
        return NOT_VALID, (f"its query and fragment are {len(extra):,} characters long with the "
                           f"{extra[0]}, more than the {EXTRA_LIMIT:,} the setup program takes")
    if scheme == "https" or is_local_host(host):
        return None
    return NEEDS_HTTPS, (f'it is plain HTTP to "{host}", and the setup program takes plain HTTP '
                         "only to localhost or 127.0.0.1")


def check_download_url(url):
    """The sentence the setup program would fail with for url, or None when it
    would accept the address."""
    problem = url_problem(url)
    return problem[0] if problem else None


def is_secure(url):
    """True for an https address (any letter case), which the rule accepted."""
    return url.partition("://")[0].lower() == "https"


# What WinHTTP escapes in a request's path and query by default: the space,
# the characters a URL may not hold as they are, control characters and
# everything outside ASCII. The percent sign stays, so an escaped URL is sent
# as it is.
_ESCAPED = set(' "#<>[\\]^`{|}')


def request_target(url):
    """The path and query that the setup program sends for an address the rule
    accepted: the path followed by the query and fragment, escaped as WinHTTP
    escapes them, so a fragment reaches the server as "%23..." in the path."""
    _, _, _, _, path, extra = split_url(url)
    target = path + extra
    if not target.startswith("/"):
        target = "/" + target
    return "".join(urllib.parse.quote(char, safe="")
                   if char in _ESCAPED or ord(char) < 0x20 or ord(char) >= 0x7F else char
                   for char in target)


def fragment_problem(url):
    """Why a package URL must not carry a fragment, or None when it has none:
    the program does not drop a fragment, it sends it to the server as part of
    the path, so it would download another file than the URL names."""
    parts = split_url(url)
    extra = parts[5] if parts else ""
    at = extra.find("#")
    if at < 0:
        return None
    fragment = extra[at:]
    return (f'it ends in the fragment "{fragment}", which the setup program sends to the '
            f'server as part of the path ("{request_target(url)}"), so it would ask for another '
            "file than the URL names")


# ---------------------------------------------------------------------------
# Redirects, as feed/resolve_location.cpp reads them.


def _has_scheme(text):
    """True when text starts with a URL scheme: an ASCII letter, then ASCII
    letters, digits, +, - or ., then a colon."""
    colon = text.find(":")
    if colon <= 0 or not (text[0].isascii() and text[0].isalpha()):
        return False
    return all(c.isascii() and (c.isalnum() or c in "+-.") for c in text[1:colon])


def _remove_dot_segments(path):
    """path (starting with /) with its . and .. segments worked out; a ..
    above the root stays at the root."""
    kept = []
    segments = path[1:].split("/")
    for index, segment in enumerate(segments):
        if segment == "..":
            if kept:
                kept.pop()
        elif segment != ".":
            kept.append(segment)
        # "a/.." and "a/." name the folder itself: keep its trailing /.
        if index == len(segments) - 1 and segment in (".", ".."):
            kept.append("")
    return "/" + "/".join(kept) if kept else "/"


def resolve_location(base, location):
    """The URL a redirect's Location names, read against base, the URL that
    answered with it (which passed the URL rule): absolute, "//host/p",
    "/p", "?q", "#f" and relative paths, as the setup program reads them."""
    if _has_scheme(location):
        return location
    scheme_end = base.find("://")
    if scheme_end < 0:
        return location
    if location.startswith("//"):
        return base[:scheme_end + 1] + location
    authority_end = _first_of_from(base, "/?#", scheme_end + 3)
    origin = base[:authority_end]
    base_path_end = _first_of_from(base, "?#", authority_end)
    without_fragment = base[:_first_of_from(base, "#", authority_end)]
    if not location:
        return without_fragment
    if location[0] == "?":
        return base[:base_path_end] + location
    if location[0] == "#":
        return without_fragment + location
    path_end = _first_of(location, "?#")
    path = location[:path_end]
    if not path.startswith("/"):
        base_path = base[authority_end:base_path_end] or "/"
        path = base_path[:base_path.rfind("/") + 1] + path
    return origin + _remove_dot_segments(path) + location[path_end:]


def _first_of_from(text, marks, start):
    """Index of the first of marks in text at or after start, or its length."""
    return start + _first_of(text[start:], marks)
