"""Reading what an installer left in a Wine prefix: registry files and
.ini files, as the text files Wine keeps them in.

Wine writes the registry as text: system.reg holds HKEY_LOCAL_MACHINE,
user.reg the current user's HKEY_CURRENT_USER. A key is a line
"[Path\\\\To\\\\Key] stamp"; its values follow as "name"=data or @=data, where
data is one of

    "text"              REG_SZ (stored with its terminating zero)
    str(N):"text"       a string of type N, in hex (2: REG_EXPAND_SZ)
    dword:0000000a      REG_DWORD
    hex:01,02           REG_BINARY
    hex(N):01,02        raw bytes of type N, in hex (a string without its zero,
                        for instance, is written as hex(1))

Long hex lists continue on the next line after a trailing backslash. In
texts, \\\\ and \\" are themselves, \\a\\b\\t\\n\\v\\f\\r\\e control bytes, \\NNN an
octal code and \\xHHHH (one to four hex digits) any UTF-16 code unit.
"""

from __future__ import annotations

import dataclasses
import re
from pathlib import Path

REG_SZ = 1
REG_EXPAND_SZ = 2
REG_BINARY = 3
REG_DWORD = 4
REG_MULTI_SZ = 7

TYPE_NAMES = {"sz": REG_SZ, "expand_sz": REG_EXPAND_SZ, "binary": REG_BINARY,
              "dword": REG_DWORD, "multi_sz": REG_MULTI_SZ}


class RegFileError(Exception):
    pass


@dataclasses.dataclass(frozen=True)
class Value:
    type: int
    data: bytes  # as RegQueryValueEx returns it (strings: UTF-16LE with zero)

    def text(self) -> str:
        """A string value's text, up to its first zero."""
        return self.data.decode("utf-16-le").split("\0", 1)[0]

    def dword(self) -> int:
        return int.from_bytes(self.data[:4], "little")


_CONTROL = {"a": 7, "b": 8, "t": 9, "n": 10, "v": 11, "f": 12, "r": 13, "e": 27}


def unescape(text: str, i: int, end: str) -> tuple[str, int]:
    """Reads an escaped text from text[i] up to the unescaped `end`
    character; returns the text and the index just past `end`."""
    out = []
    n = len(text)
    while i < n:
        c = text[i]
        if c == end:
            return "".join(out), i + 1
        i += 1
        if c != "\\":
            out.append(c)
            continue
        if i == n:
            break
        e = text[i]
        i += 1
        if e in _CONTROL:
            out.append(chr(_CONTROL[e]))
        elif e == "x":
            m = re.match(r"[0-9a-fA-F]{1,4}", text[i:])
            if not m:
                raise RegFileError(f"bad \\x escape in {text!r}")
            out.append(chr(int(m.group(0), 16)))
            i += len(m.group(0))
        elif e in "01234567":
            m = re.match(r"[0-7]{0,2}", text[i:])
            out.append(chr(int(e + m.group(0), 8)))
            i += len(m.group(0))
        else:
            out.append(e)
    raise RegFileError(f"unterminated text in {text!r}")


def _string_value(type_: int, text: str) -> Value:
    return Value(type_, (text + "\0").encode("utf-16-le", "surrogatepass"))


def parse_data(data: str) -> Value:
    """Parses the part of a value line after '='."""
    if data.startswith('"'):
        text, rest = unescape(data, 1, '"')
        return _string_value(REG_SZ, text)
    m = re.match(r"str\(([0-9a-fA-F]+)\):\"", data)
    if m:
        text, rest = unescape(data, m.end(), '"')
        return _string_value(int(m.group(1), 16), text)
    if data.startswith("dword:"):
        return Value(REG_DWORD, int(data[6:14], 16).to_bytes(4, "little"))
    m = re.match(r"hex(?:\(([0-9a-fA-F]+)\))?:", data)
    if m:
        type_ = int(m.group(1), 16) if m.group(1) else REG_BINARY
        body = data[m.end():].replace(" ", "")
        raw = bytes(int(h, 16) for h in body.split(",") if h)
        return Value(type_, raw)
    raise RegFileError(f"unknown value data {data!r}")


def parse(content: str) -> dict[str, dict[str, Value]]:
    """Maps each key (lower case, single backslashes) to its values (by lower
    case name; "" for the default value)."""
    keys: dict[str, dict[str, Value]] = {}
    current: dict[str, Value] | None = None
    lines = content.split("\n")
    i = 0
    while i < len(lines):
        line = lines[i].rstrip("\r")
        i += 1
        if not line or line.startswith(";") or line.startswith("#") or line.startswith("WINE"):
            continue
        if line.startswith("["):
            name, _ = unescape(line, 1, "]")
            current = keys.setdefault(name.lower(), {})
            continue
        if current is None:
            raise RegFileError(f"value outside a key: {line!r}")
        while line.endswith("\\") and _is_hex_line(line):
            line = line[:-1] + (lines[i].strip() if i < len(lines) else "")
            i += 1
        if line.startswith("@="):
            name, data = "", line[2:]
        elif line.startswith('"'):
            name, after = unescape(line, 1, '"')
            if not line[after:].startswith("="):
                raise RegFileError(f"bad value line {line!r}")
            data = line[after + 1:]
        else:
            raise RegFileError(f"bad line {line!r}")
        current[name.lower()] = parse_data(data)
    return keys


def _is_hex_line(line: str) -> bool:
    # A value line whose data is a hex list (strings never end the line
    # with a backslash: their closing quote comes last).
    return re.search(r"=hex(\([0-9a-fA-F]+\))?:[0-9a-fA-F,\s]*\\$", line) is not None


class Registry:
    """HKLM and HKCU of a prefix, read once."""

    def __init__(self, prefix: Path):
        self.hives = {
            "hklm": parse((prefix / "system.reg").read_text("utf-8", "surrogateescape")),
            "hkcu": parse((prefix / "user.reg").read_text("utf-8", "surrogateescape")),
        }

    def key(self, path: str) -> dict[str, Value] | None:
        """A key's values, by a path such as HKLM\\Software\\X; None when the
        key does not exist."""
        root, _, rest = path.partition("\\")
        hive = self.hives.get(root.lower())
        if hive is None:
            raise RegFileError(f"unknown root {root!r} (HKLM or HKCU)")
        return hive.get(rest.lower())

    def value(self, path: str, name: str) -> Value | None:
        key = self.key(path)
        return None if key is None else key.get(name.lower())


def parse_ini(content: bytes) -> dict[str, dict[str, str]]:
    """An .ini file's sections (lower case) and keys (lower case) with their
    values as str of one character per byte, blanks around '=' removed, as
    GetPrivateProfileString gives them."""
    sections: dict[str, dict[str, str]] = {}
    current = None
    for raw in content.split(b"\n"):
        line = raw.decode("latin-1").strip()
        if not line or line.startswith(";"):
            continue
        if line.startswith("[") and "]" in line:
            current = sections.setdefault(line[1:line.index("]")].strip().lower(), {})
            continue
        if current is None or "=" not in line:
            continue
        key, _, value = line.partition("=")
        current.setdefault(key.strip().lower(), value.strip())
    return sections
