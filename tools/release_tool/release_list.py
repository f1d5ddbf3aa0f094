"""The release list document, written so that the setup program's key scanner
reads back exactly what was meant.

The scanner takes the first quoted occurrence of a key anywhere in the text and
knows only three escapes (\\" \\\\ \\n; \\r vanishes, \\t, \\b, \\f and \\uXXXX turn
into letters). So the writer puts UTF-8 text directly (no \\u escapes), keeps
control characters other than the line feed out of the notes, and writes the
keys in a fixed order with the notes, the only free text, last: no key name can
then appear in quotes before the key itself. Every document is read
back through the scanner before it is published.
"""
import json
import unicodedata

from . import signing
from .errors import Refusal
from .scanner import LIST_CAP, NOTES_LIMIT, cut_utf16, extract_json_string, utf16_units

# The signature is hexadecimal text, so it can stand before the notes.
WRITE_ORDER = ("version", "package", "sha256", signing.SIGNATURE_KEY, "notes")


def shown(text):
    """Text on one line for a message: line feeds as \\n."""
    return text.replace("\n", "\\n")


def prepare_notes(text):
    """(notes, warnings): the notes as they will be written. Line ends become
    line feeds and tabs spaces, each with a warning; any other control
    character, or text that is not valid Unicode, is refused."""
    warnings = []
    for char in text:
        if 0xD800 <= ord(char) <= 0xDFFF:
            raise Refusal("The notes are not valid UTF-8 text.")
    returns = text.count("\r")
    if returns:
        text = text.replace("\r\n", "\n").replace("\r", "\n")
        warnings.append(f"turned {returns} carriage return(s) in the notes into line feeds, "
                        "since the setup program drops a carriage return.")
    tabs = text.count("\t")
    if tabs:
        text = text.replace("\t", " ")
        warnings.append(f"turned {tabs} tab(s) in the notes into spaces, "
                        "since the setup program would show a tab as the letter t.")
    for char in text:
        if char != "\n" and unicodedata.category(char) == "Cc":
            raise Refusal(f"The notes hold the control character U+{ord(char):04X}, which the "
                          "setup program would show as letters; remove it.")
    return text, warnings


def cut_warning(notes):
    """A warning that shows where the window cuts the notes, or None when they fit."""
    units = utf16_units(notes)
    if units <= NOTES_LIMIT:
        return None
    kept = cut_utf16(notes, NOTES_LIMIT)
    split = ""
    if 0xD800 <= ord(kept[-1]) <= 0xDBFF:  # the cut falls between the halves of a pair
        kept = kept[:-1]
        split = ("; the cut splits the character after it in two, "
                 "and the window shows its first half")
    dropped = notes[len(kept):]
    if len(dropped) > 60:  # enough to recognise the cut; a long tail only floods the terminal
        dropped = f"{dropped[:60]}\u2026 ({len(dropped) - 60} characters more)"
    return (f"the notes are {units} UTF-16 units long and the window keeps the first "
            f'{NOTES_LIMIT}: it shows "{shown(kept)}" and drops "{shown(dropped)}"{split}.')


def check_reads_back(document, values):
    """Refuses document unless the scanner reads every value back exactly and
    it is valid JSON with the same values."""
    for key in values:
        read = extract_json_string(document, key)
        if read != values[key]:
            raise Refusal(f'The release list would not read back as written: the setup program '
                          f'would take "{key}" as "{shown(read)}" instead of '
                          f'"{shown(values[key])}".')
    try:
        parsed = json.loads(document.decode("utf-8"))
    except ValueError as error:
        raise Refusal(f"The release list is not valid JSON ({error}).") from None
    if any(parsed.get(key) != values[key] for key in values):
        raise Refusal("The release list does not parse as JSON to the values written.")


def _render(values):
    keys = [key for key in WRITE_ORDER if key in values]
    lines = [f"  {json.dumps(key)}: {json.dumps(values[key], ensure_ascii=False)}" for key in keys]
    return ("{\n" + ",\n".join(lines) + "\n}\n").encode("utf-8")


def build_document(version, package, sha256, notes, key=None):
    """The release list as UTF-8 bytes, signed with key (a SigningKey) when
    one is given; refuses one over the size cap, one that the scanner would
    misread, and a signed one that does not verify with the key's public half."""
    values = {"version": version, "package": package, "sha256": sha256, "notes": notes}
    if key is not None:
        # Signed as the program reads the values back, not as Python holds them.
        message = signing.signed_message(signing.document_values(_render(values)))
        values[signing.SIGNATURE_KEY] = signing.sign(key, message).hex()
    document = _render(values)
    if len(document) > LIST_CAP:
        raise Refusal(f"The release list would be {len(document):,} bytes, more than the "
                      f"{LIST_CAP:,} bytes the setup program reads; shorten the notes.")
    check_reads_back(document, values)
    if key is not None:
        signing.check_document(document, [key.point])
    return document
