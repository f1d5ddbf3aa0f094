"""The setup program's rule for every address it downloads from.

HTTPS everywhere; plain HTTP only when the host is "localhost" (any letter
case) or exactly "127.0.0.1". An address that cannot be split, or whose host,
path or query is longer than the program's buffers, is not valid at all.
"""

NOT_VALID = "The download address is not valid."
NEEDS_HTTPS = "The download has to use HTTPS."

HOST_LIMIT = 255  # characters of the host name
PATH_LIMIT = 2047  # characters of the path
EXTRA_LIMIT = 1023  # characters of the query or fragment, with its ? or #


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


def check_download_url(url):
    """The sentence the setup program would fail with for url, or None when it
    would accept the address."""
    parts = split_url(url)
    if parts is None:
        return NOT_VALID
    scheme, _, host, port, path, extra = parts
    scheme = scheme.lower()
    if scheme not in ("http", "https"):
        return NOT_VALID
    if not host or len(host) > HOST_LIMIT:
        return NOT_VALID
    if port and (not port.isdigit() or not 0 < int(port) <= 65535):
        return NOT_VALID
    if len(path) > PATH_LIMIT or len(extra) > EXTRA_LIMIT:
        return NOT_VALID
    if scheme == "https" or is_local_host(host):
        return None
    return NEEDS_HTTPS
