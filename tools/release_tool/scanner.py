"""How the setup program reads a release list, byte for byte.

The setup program does not parse JSON: it finds the first quoted occurrence of
each key name anywhere in the document and collects the next string after the
following colon, with its own escape rules. This port lets the tool check that
a list it writes reads back as intended before a client ever sees it.
"""

import re

_QUOTE_OR_BACKSLASH = re.compile(rb'["\\]')

# The setup program keeps this many UTF-16 code units of the notes.
NOTES_LIMIT = 180

# The setup program reads at most this many bytes of a release list.
LIST_CAP = 2_097_152


def utf8_to_wide(data):
    """UTF-8 bytes as the program widens them; ill-formed input becomes U+FFFD
    (close to the platform's conversion; the tool only writes well-formed UTF-8)."""
    return data.decode("utf-8", errors="replace")


def extract_json_bytes(document, key):
    """The bytes the setup program collects for key from document (bytes),
    before it widens them: what a release list's signature covers.

    Empty when the quoted key, the colon after it or the opening quote of a
    value is missing. Escapes: \\n gives a line feed, \\r nothing, any other
    escaped byte itself (so \\t is the letter t and \\u00e9 the five
    characters u00e9); a backslash that is the last byte is kept; a value
    without its closing quote runs to the end of the document.
    """
    needle = b'"' + key.encode("ascii") + b'"'
    at = document.find(needle)
    if at < 0:
        return b""
    after_key = at + len(needle)
    if after_key >= len(document):
        return b""
    colon = document.find(b":", after_key)
    if colon < 0:
        return b""
    quote = document.find(b'"', colon + 1)
    if quote < 0:
        return b""
    value = bytearray()
    i = quote + 1
    while True:
        stop = _QUOTE_OR_BACKSLASH.search(document, i)
        if stop is None:  # no closing quote: the value runs to the end
            value += document[i:]
            break
        at = stop.start()
        value += document[i:at]
        if document[at] == 0x22:  # the closing quote
            break
        if at + 1 == len(document):  # a backslash as the last byte is kept
            value.append(0x5C)
            break
        escaped = document[at + 1]
        if escaped == 0x6E:  # n gives a line feed
            value.append(0x0A)
        elif escaped != 0x72:  # r gives nothing, any other byte itself
            value.append(escaped)
        i = at + 2
    return bytes(value)


def extract_json_string(document, key):
    """The value of key as the setup program reads it from document (bytes):
    the collected bytes (see extract_json_bytes) widened from UTF-8."""
    return utf8_to_wide(extract_json_bytes(document, key))


def utf16_units(text):
    """Length of text in UTF-16 code units, the unit the window counts in."""
    return len(text.encode("utf-16-le", errors="surrogatepass")) // 2


def cut_utf16(text, units):
    """The first `units` UTF-16 code units of text, as the program keeps them:
    a cut inside a surrogate pair leaves its first half (a lone surrogate)."""
    encoded = text.encode("utf-16-le", errors="surrogatepass")
    return encoded[: units * 2].decode("utf-16-le", errors="surrogatepass")


def read_release_list(document):
    """The four values the setup program takes from document, notes cut as the
    window keeps them."""
    return {
        "version": extract_json_string(document, "version"),
        "package": extract_json_string(document, "package"),
        "notes": cut_utf16(extract_json_string(document, "notes"), NOTES_LIMIT),
        "sha256": extract_json_string(document, "sha256"),
    }
