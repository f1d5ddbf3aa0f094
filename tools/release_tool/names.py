"""What a Windows file name can hold, and what a release version may be.

The setup program downloads the package into the temporary folder as
"Movora-" + version + ".zip", with the version text unchanged, and shows the
version in its window; the published tree names the package the same way. So
a version has to be plain text that is safe as a Windows file name on its own.
"""
import unicodedata

# Characters that no Windows file name can hold (besides control characters).
FORBIDDEN = '<>:"/\\|?*'

# Names that Windows reserves for devices, with or without an extension.
RESERVED = (
    {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}
    | {f"COM{n}" for n in "123456789\u00b9\u00b2\u00b3"}
    | {f"LPT{n}" for n in "123456789\u00b9\u00b2\u00b3"}
)

# Longest version accepted. The window shows it on one line, and the
# download's full path (the temporary folder plus "Movora-<version>.zip") has to
# stay well inside the 260 characters of a classic Windows path.
VERSION_LIMIT = 64


def describe(char):
    """A character as a reader can see it: "x", or U+0009 for invisible ones."""
    if char.isprintable() and not char.isspace():
        return f'"{char}"'
    return f"U+{ord(char):04X}"


def windows_name_problem(name):
    """Why Windows cannot create a file or folder of this name, as the end of a
    sentence ("holds ..."), or None when it can."""
    for char in name:
        if ord(char) < 0x20:
            return (f"holds the control character {describe(char)}, "
                    "which a Windows file name cannot hold")
        if char in FORBIDDEN:
            return f"holds {describe(char)}, which a Windows file name cannot hold"
    if name.endswith((".", " ")) and name not in (".", ".."):
        return "ends with a dot or a space, which Windows drops from file names"
    # "CON", "con.txt" and "Con .log" all name the device.
    base = name.split(".", 1)[0].rstrip(" ").upper()
    if base in RESERVED:
        return f'is the Windows device name "{base}"'
    return None


def version_problem(version):
    """Why version is not plain file-name text, as a whole sentence, or None.

    The rule: not empty; at most VERSION_LIMIT characters; only printable
    characters (no control, format or unassigned code points, no line breaks);
    no leading or trailing space or dot; no ".."; and, on its own, a name
    Windows can create (none of <>:"/\\|?* and no device name such as CON).
    """
    if version is None or version == "":
        return "The version is missing or empty; give it with --version."
    shown = f'The version "{version}"'
    if len(version) > VERSION_LIMIT:
        return (f"The version is {len(version)} characters long; keep it to {VERSION_LIMIT}, "
                "so the download's path stays well inside Windows path limits.")
    for char in version:
        category = unicodedata.category(char)
        if category[0] == "C" or category in ("Zl", "Zp"):
            return (f"{shown} holds the invisible character {describe(char)}; "
                    "a version has to be plain, printable text.")
    if version != version.strip() or version.startswith(".") or version.endswith("."):
        return (f"{shown} starts or ends with a space or a dot; "
                "a version has to be plain file-name text without them.")
    if ".." in version:
        return f'{shown} holds "..", which reads as a step to a parent folder in a file name.'
    problem = windows_name_problem(version)
    if problem is not None:
        return f"{shown} {problem}; it becomes part of the download's file name."
    return None
