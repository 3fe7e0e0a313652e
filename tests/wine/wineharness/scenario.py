"""Scenario files: what to install, how to answer, what to check.

A scenario file has up to three sections, each opened by a line "[name]":

    [package]   what the installer is (runner)
    [steps]     how the autopilot answers (tools/autopilot/script.h)
    [checks]    what must hold afterwards (checks.py)

Lines before the first section are the scenario's description. Blank lines
and lines starting with '#' are ignored. Arguments are split and quoted as
in the autopilot's scripts: blanks separate them, "..." holds blanks, and
inside quotes \\" \\\\ \\r \\n \\t and \\xNN stand for bytes, so texts in code
page 1252 can be written in an ASCII file. Arguments are kept as str with
one character per byte (latin-1), the way transcripts are compared.
"""

from __future__ import annotations

import dataclasses
from pathlib import Path

SECTIONS = ("package", "steps", "checks")

# Package keys: name -> (least, most) arguments; most None = any number.
PACKAGE_KEYS = {
    "title": (1, 1),          # the package's title; its file is TITLE.exe
    "license": (1, 1),        # license text file (content/)
    "saver": (1, 1),          # screen saver file (default @probe)
    "data": (1, 1),           # data file (default content/data.dat)
    "uninstaller": (1, 1),    # uninstaller file (default @probe)
    "media": (1, 1),          # a media file; repeat for more
    "encoding": (1, 1),       # store | pack (default pack)
    "installer-dir": (1, 1),  # Windows folder the installer is run from
    "installer-name": (1, 1), # the installer's file name, if not TITLE.exe
    "program": (1, None),     # run a harness program instead: NAME [ARG...]
    "put": (2, 2),            # WINPATH FILE: a file placed before the run
    "limit": (1, 1),          # seconds the whole run may take
    "stub": (1, 1),           # harness program NAME.exe as the stub (default: --stub)
    "generate": (2, 3),       # NAME BYTES [random|zero|wav]: a file made for the run
    "forge-title": (1, 1),    # the built package's title field overwritten with TEXT
    "cut": (1, 1),            # bytes cut from the end of the built package
    "sign": (0, 0),           # the package signed (build --sign-cert) with a certificate
                              # made for the run
    "link": (2, 2),           # WINPATH WINTARGET: WINPATH made a symbolic link to the file
                              # WINTARGET (put there) or folder WINTARGET (made when missing)
    "small-disk": (2, 2),     # WINPATH SIZE: folder WINPATH is a file system of its own,
                              # SIZE bytes (K or M) large (a tmpfs; needs root)
    "native-dlls": (1, None), # NAME...: libraries of these names found along the search
                              # path are taken before Wine's own, as Windows takes them
    "picture": (3, 3),        # NAME SIZE COLOUR: a picture of one colour (ImageMagick),
                              # e.g. picture red.png 320x240 red
    "show-data": (3, None),   # NAME TITLE SECONDS PICTURE...: a slideshow data file
    "reg-dword": (3, 3),      # KEY NAME VALUE: a DWORD under HKCU set before the run
    "head": (3, 3),           # NAME SOURCE BYTES: file NAME holds the first BYTES bytes of
                              # file SOURCE (made for the run or content/): a file cut short
}

REPEATABLE = {"media", "put", "generate", "link", "picture", "show-data", "reg-dword", "head"}


class ScenarioError(Exception):
    pass


@dataclasses.dataclass
class Line:
    number: int
    words: list[str]


@dataclasses.dataclass
class Scenario:
    name: str
    path: Path
    description: str
    package: dict[str, list[Line]]
    steps: bytes
    checks: list[Line]

    def value(self, key: str, default: str | None = None) -> str | None:
        lines = self.package.get(key)
        return lines[0].words[1] if lines else default

    def values(self, key: str) -> list[list[str]]:
        return [line.words[1:] for line in self.package.get(key, [])]


_ESCAPES = {'"': '"', "\\": "\\", "r": "\r", "n": "\n", "t": "\t"}
_HEX = "0123456789abcdefABCDEF"


def split_line(line: str) -> list[str]:
    """Splits a line into arguments, undoing the quoting."""
    words: list[str] = []
    i, n = 0, len(line)
    while True:
        while i < n and line[i] in " \t\r\n":
            i += 1
        if i == n:
            return words
        if line[i] != '"':
            start = i
            while i < n and line[i] not in " \t\r\n":
                i += 1
            words.append(line[start:i])
            continue
        i += 1
        word = []
        closed = False
        while i < n:
            c = line[i]
            i += 1
            if c == '"':
                closed = True
                break
            if c != "\\":
                word.append(c)
                continue
            if i == n:
                break
            e = line[i]
            i += 1
            if e in _ESCAPES:
                word.append(_ESCAPES[e])
            elif e == "x":
                digits = line[i:i + 2]
                if len(digits) != 2 or any(d not in _HEX for d in digits):
                    raise ScenarioError("bad \\x escape")
                word.append(chr(int(digits, 16)))
                i += 2
            else:
                raise ScenarioError(f"unknown escape \\{e}")
        if not closed:
            raise ScenarioError("unterminated quote")
        if i < n and line[i] not in " \t\r\n":
            raise ScenarioError("text right after a closing quote")
        words.append("".join(word))


def quote(text: str) -> str:
    """Quotes a text the way the autopilot writes transcripts."""
    out = ['"']
    for c in text:
        o = ord(c)
        if c == '"':
            out.append('\\"')
        elif c == "\\":
            out.append("\\\\")
        elif c == "\r":
            out.append("\\r")
        elif c == "\n":
            out.append("\\n")
        elif c == "\t":
            out.append("\\t")
        elif o < 0x20 or o == 0x7F:
            out.append(f"\\x{o:02x}")
        else:
            out.append(c)
    out.append('"')
    return "".join(out)


def parse(text: bytes, name: str, path: Path) -> Scenario:
    """Parses a scenario file's bytes; raises ScenarioError naming the line."""
    description: list[str] = []
    package: dict[str, list[Line]] = {}
    steps: list[bytes] = []
    checks: list[Line] = []
    section = None
    seen_sections: set[str] = set()
    for number, raw in enumerate(text.split(b"\n"), start=1):
        line = raw.decode("latin-1").rstrip("\r")
        stripped = line.strip()
        if stripped.startswith("[") and stripped.endswith("]"):
            section = stripped[1:-1]
            if section not in SECTIONS:
                raise ScenarioError(f"{path}:{number}: unknown section [{section}]")
            if section in seen_sections:
                raise ScenarioError(f"{path}:{number}: section [{section}] given twice")
            seen_sections.add(section)
            continue
        if section is None:
            if stripped:
                description.append(stripped.lstrip("# "))
            continue
        if section == "steps":
            # The autopilot parses its own section; line numbers stay
            # meaningful because every line is passed on.
            steps.append(raw.rstrip(b"\r"))
            continue
        if not stripped or stripped.startswith("#"):
            continue
        try:
            words = split_line(line)
        except ScenarioError as e:
            raise ScenarioError(f"{path}:{number}: {e}") from None
        if section == "package":
            key = words[0]
            if key not in PACKAGE_KEYS:
                raise ScenarioError(f"{path}:{number}: unknown package key {key!r}")
            least, most = PACKAGE_KEYS[key]
            count = len(words) - 1
            if count < least or (most is not None and count > most):
                raise ScenarioError(f"{path}:{number}: wrong number of arguments to {key}")
            if key in package and key not in REPEATABLE:
                raise ScenarioError(f"{path}:{number}: {key} given twice")
            package.setdefault(key, []).append(Line(number, words))
        else:
            checks.append(Line(number, words))
    if "title" not in package and "program" not in package:
        raise ScenarioError(f"{path}: [package] needs a title or a program")
    if "title" in package and "program" in package:
        raise ScenarioError(f"{path}: [package] has both a title and a program")
    if not steps or not any(s.strip() and not s.strip().startswith(b"#") for s in steps):
        raise ScenarioError(f"{path}: no [steps]")
    # Keep the steps' line numbers equal to the scenario file's.
    first_step_line = _first_line_of_section(text, "steps")
    padding = b"\n" * first_step_line
    return Scenario(name, path, " ".join(description), package, padding + b"\n".join(steps) + b"\n",
                    checks)


def _first_line_of_section(text: bytes, section: str) -> int:
    for number, raw in enumerate(text.split(b"\n"), start=1):
        if raw.strip() == f"[{section}]".encode():
            return number
    return 0


def load(path: Path) -> Scenario:
    return parse(path.read_bytes(), path.stem, path)
