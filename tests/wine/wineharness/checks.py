"""The [checks] of a scenario: each line names a check and its arguments.

    autopilot ok                     every step passed (implied when the
                                     scenario names no autopilot check)
    autopilot fail TEXT              the autopilot failed, its reason
                                     holding TEXT
    transcript FILE                  the transcript equals FILE (beside the
                                     scenario), byte for byte, leaving out
                                     the "passing" lines of both
    transcript-has LINE              the transcript has LINE (passing lines
                                     included)
    transcript-lacks TEXT            no line of the transcript begins with
                                     TEXT (passing lines included)
    backdrop SHOT                    the backdrop covers the work area, and
                                     screenshot SHOT shows it: bands, frame,
                                     shadowed title
    font-smoothing restored          the user's font smoothing setting is
                                     what it was before the run
    file WINPATH exists|absent       a file on drive C:
    file WINPATH same FILE           ... holds the bytes of content FILE
                                     (or of harness program @NAME)
    file WINPATH bytes TEXT          ... holds exactly TEXT
    file WINPATH part-of FILE        ... holds the first bytes of FILE, not
                                     all of them (a file cut short)
    file WINPATH size N              ... holds N bytes
    reg KEY NAME TYPE DATA           a registry value (KEY starts with HKLM
                                     or HKCU; TYPE sz, expand_sz, dword)
    reg KEY NAME absent              no such value
    reg KEY absent|exists            a key
    reg KEY unchanged                the key and every key below it hold
                                     what they held in the template
    ini WINPATH SECTION KEY VALUE    an .ini entry (absent for none)
    changes-only WINPATH...          files changed on drive C: are the
                                     given ones or lie under them
    pixel SHOT X Y [not] COLOUR      screenshot SHOT's pixel at X,Y is (or is
                                     not) COLOUR: a name (red, lime, blue,
                                     black, white) or #rrggbb, each channel
                                     within PIXEL_TOLERANCE
    colour-seen SHOT,SHOT... X Y COLOUR
                                     at least one of these screenshots shows
                                     COLOUR at X,Y
    colour-in SHOT X0,Y0,X1,Y1 COLOUR
                                     some pixel of screenshot SHOT in the
                                     rectangle (right and bottom excluded)
                                     is COLOUR

A check returns the faults it found; none means it passed. Adding a check
is adding a function and an entry in CHECKS.
"""

from __future__ import annotations

import dataclasses
import difflib
from pathlib import Path
from typing import Callable

from . import image, regfile, session
from .scenario import Line, Scenario, quote


class CheckError(Exception):
    """A check line that cannot be understood."""


@dataclasses.dataclass
class Context:
    scenario: Scenario
    out: Path
    prefix: Path
    template: Path
    content: Callable[[str], Path]  # a file named in a check: content/ or @program
    transcript: bytes
    changes: list[str]
    _registries: dict = dataclasses.field(default_factory=dict)

    def registry(self, which: str = "after") -> regfile.Registry:
        if which not in self._registries:
            root = self.prefix if which == "after" else self.template
            self._registries[which] = regfile.Registry(root)
        return self._registries[which]

    def transcript_lines(self) -> list[str]:
        return self.transcript.decode("latin-1").split("\n")

    def result_line(self) -> str:
        for line in reversed(self.transcript_lines()):
            if line.startswith("result "):
                return line
        return ""


def _argc(args: list[str], least: int, most: int | None = None) -> None:
    most = least if most is None else most
    if not least <= len(args) <= most:
        raise CheckError("wrong number of arguments")


def check_autopilot(ctx: Context, args: list[str]) -> list[str]:
    _argc(args, 1, 2)
    result = ctx.result_line()
    if args[0] == "ok":
        _argc(args, 1)
        return [] if result == "result ok" else [f"autopilot: {result or 'no result line'}"]
    if args[0] == "fail":
        _argc(args, 2)
        if not result.startswith("result fail: "):
            return [f"autopilot should have failed with {quote(args[1])}, got {result!r}"]
        if args[1] not in result:
            return [f"autopilot failed for another reason: {result!r}, expected {quote(args[1])}"]
        return []
    raise CheckError("autopilot ok | autopilot fail TEXT")


def comparable_transcript(data: bytes) -> list[str]:
    """A transcript's lines without those whose presence depends on timing
    (windows noted while passing by)."""
    return [line for line in data.decode("latin-1").split("\n")
            if not line.startswith("passing ")]


def check_transcript(ctx: Context, args: list[str]) -> list[str]:
    _argc(args, 1)
    expected = comparable_transcript((ctx.scenario.path.parent / args[0]).read_bytes())
    got = comparable_transcript(ctx.transcript)
    if expected == got:
        return []
    diff = difflib.unified_diff(expected,
                                got,
                                fromfile=args[0], tofile="transcript.txt", lineterm="")
    # Shown as a person reads code page 1252; the comparison was on bytes.
    shown = "\n".join(diff).encode("latin-1").decode("cp1252", errors="replace")
    return ["transcript differs:\n" + shown]


def _rect(text: str) -> tuple[int, int, int, int]:
    left, top, right, bottom = (int(n) for n in text.split(","))
    return left, top, right, bottom


def check_transcript_has(ctx: Context, args: list[str]) -> list[str]:
    _argc(args, 1)
    return [] if args[0] in ctx.transcript_lines() else [f"no line {quote(args[0])} in the transcript"]


def check_transcript_lacks(ctx: Context, args: list[str]) -> list[str]:
    _argc(args, 1)
    if not args[0]:
        raise CheckError("transcript-lacks needs a text")
    found = [line for line in ctx.transcript_lines() if line.startswith(args[0])]
    return [f"the transcript has {quote(line)}" for line in found]


def backdrop_rect(ctx: Context) -> tuple[int, int, int, int] | None:
    for line in ctx.transcript_lines():
        if line.startswith("backdrop "):
            return _rect(line.rsplit(" rect ", 1)[-1])
    return None


def work_area(ctx: Context) -> tuple[int, int, int, int] | None:
    for line in ctx.transcript_lines():
        if line.startswith("screen ") and " workarea " in line:
            return _rect(line.rsplit(" workarea ", 1)[-1])
    return None


def check_backdrop(ctx: Context, args: list[str]) -> list[str]:
    _argc(args, 1)
    shot = ctx.out / "shots" / f"{args[0]}.png"
    if not shot.exists():
        return [f"no screenshot {args[0]}"]
    rect = backdrop_rect(ctx)
    if rect is None:
        return ["the transcript has no backdrop"]
    faults = []
    if rect != work_area(ctx):
        faults.append(f"the backdrop covers {rect}, the work area is {work_area(ctx)}")
    faults += [f"screenshot {args[0]}: {fault}"
               for fault in image.check_backdrop(image.load(shot), rect)]
    return faults


FONT_SMOOTHING = ("HKCU\\Control Panel\\Desktop", "FontSmoothing")


def check_font_smoothing(ctx: Context, args: list[str]) -> list[str]:
    if args != ["restored"]:
        raise CheckError("font-smoothing restored")
    before = ctx.registry("before").value(*FONT_SMOOTHING)
    after = ctx.registry("after").value(*FONT_SMOOTHING)
    if before != after:
        return [f"font smoothing was {before} before the run and is {after} after it"]
    return []


def check_file(ctx: Context, args: list[str]) -> list[str]:
    _argc(args, 2, 3)
    path = session.windows_path_to_unix(ctx.prefix, args[0])
    what = args[1]
    if what == "exists":
        return [] if path.is_file() else [f"{args[0]} is missing"]
    if what == "absent":
        return [] if not path.exists() and not path.is_symlink() else [f"{args[0]} exists"]
    _argc(args, 3)
    if what == "same":
        expected = ctx.content(args[2]).read_bytes()
    elif what == "bytes":
        expected = args[2].encode("latin-1")
    elif what == "part-of":
        return _check_part_of(path, args[0], ctx.content(args[2]).read_bytes())
    elif what == "size":
        if not args[2].isdigit():
            raise CheckError("file WINPATH size N")
        if not path.is_file():
            return [f"{args[0]} is missing"]
        size = path.stat().st_size
        return [] if size == int(args[2]) else [f"{args[0]} holds {size} bytes, expected {args[2]}"]
    else:
        raise CheckError("file WINPATH exists|absent|same FILE|bytes TEXT|part-of FILE|size N")
    if not path.is_file():
        return [f"{args[0]} is missing"]
    got = path.read_bytes()
    if got != expected:
        return [f"{args[0]} holds {len(got)} bytes {got[:80]!r}..., expected {len(expected)} "
                f"bytes {expected[:80]!r}..."]
    return []


def _check_part_of(path: Path, name: str, whole: bytes) -> list[str]:
    if not path.is_file():
        return [f"{name} is missing"]
    got = path.read_bytes()
    if len(got) >= len(whole):
        return [f"{name} holds {len(got)} bytes, all of the {len(whole)} (not cut short)"]
    if whole[:len(got)] != got:
        at = next(i for i, (a, b) in enumerate(zip(got, whole)) if a != b)
        return [f"{name} ({len(got)} bytes) differs from the start of its content at byte {at}"]
    return []


def _expected_value(type_name: str, data: str) -> regfile.Value:
    if type_name not in regfile.TYPE_NAMES:
        raise CheckError(f"unknown registry type {type_name!r}")
    type_ = regfile.TYPE_NAMES[type_name]
    if type_ == regfile.REG_DWORD:
        return regfile.Value(type_, int(data, 0).to_bytes(4, "little"))
    if type_ in (regfile.REG_SZ, regfile.REG_EXPAND_SZ):
        # Texts are code page 1252 bytes, stored by Windows as UTF-16.
        text = data.encode("latin-1").decode("cp1252")
        return regfile.Value(type_, (text + "\0").encode("utf-16-le"))
    raise CheckError(f"registry type {type_name} cannot be compared yet")


def check_reg(ctx: Context, args: list[str]) -> list[str]:
    _argc(args, 2, 4)
    registry = ctx.registry()
    key = registry.key(args[0])
    if len(args) == 2:
        if args[1] == "absent":
            return [] if key is None else [f"key {args[0]} exists"]
        if args[1] == "exists":
            return [] if key is not None else [f"key {args[0]} is missing"]
        if args[1] == "unchanged":
            return _subtree_changes(ctx, args[0])
        raise CheckError("reg KEY absent|exists|unchanged")
    value = registry.value(args[0], args[1])
    if len(args) == 3:
        if args[2] != "absent":
            raise CheckError("reg KEY NAME absent")
        return [] if value is None else [f"value {args[1]} of {args[0]} exists: {value}"]
    expected = _expected_value(args[2], args[3])
    if value is None:
        return [f"value {args[1]} of {args[0]} is missing"]
    if value != expected:
        return [f"value {args[1]} of {args[0]} is type {value.type} {value.data!r}, expected "
                f"type {expected.type} {expected.data!r}"]
    return []


def _subtree_changes(ctx: Context, path: str) -> list[str]:
    """Keys at or below `path` that the run added, removed or changed."""
    root, _, rest = path.partition("\\")
    rest = rest.lower()

    def subtree(registry: regfile.Registry) -> dict:
        hive = registry.hives.get(root.lower())
        if hive is None:
            raise CheckError(f"unknown root {root!r} (HKLM or HKCU)")
        return {k: v for k, v in hive.items() if k == rest or k.startswith(rest + "\\")}

    before, after = subtree(ctx.registry("before")), subtree(ctx.registry("after"))
    faults = [f"key {root}\\{k} added" for k in sorted(after.keys() - before.keys())]
    # Wine leaves out of its files a key that holds no value but has keys
    # below it: only a key with values can be missed.
    faults += [f"key {root}\\{k} removed" for k in sorted(before.keys() - after.keys()) if before[k]]
    faults += [f"key {root}\\{k} changed" for k in sorted(after.keys() & before.keys()) if after[k] != before[k]]
    return faults


def check_ini(ctx: Context, args: list[str]) -> list[str]:
    _argc(args, 4)
    path = session.windows_path_to_unix(ctx.prefix, args[0])
    sections = regfile.parse_ini(path.read_bytes()) if path.exists() else {}
    got = sections.get(args[1].lower(), {}).get(args[2].lower())
    if args[3] == "absent":
        return [] if got is None else [f"{args[0]} [{args[1]}] {args[2]}={got!r}"]
    if got != args[3]:
        return [f"{args[0]} [{args[1]}] {args[2]} is {got!r}, expected {args[3]!r}"]
    return []


def check_changes_only(ctx: Context, args: list[str]) -> list[str]:
    _argc(args, 1, 100)
    allowed = [a.rstrip("\\").lower() for a in args]
    stray = []
    for line in ctx.changes:
        path = line.split(" ", 1)[1].strip().rsplit(" (", 1)[0].lower()
        if not any(path == a or path.startswith(a + "\\") for a in allowed):
            stray.append(line)
    return [f"changed outside {', '.join(args)}: " + "; ".join(stray)] if stray else []


# Screenshots are compared by colour, not byte for byte: a picture scaled by
# the screen saver and read back from the X server may differ a little.
PIXEL_TOLERANCE = 48
COLOURS = {"red": (255, 0, 0), "lime": (0, 255, 0), "blue": (0, 0, 255), "black": (0, 0, 0),
           "white": (255, 255, 255)}


def parse_colour(text: str) -> tuple[int, int, int]:
    if text in COLOURS:
        return COLOURS[text]
    if len(text) == 7 and text[0] == "#":
        try:
            return int(text[1:3], 16), int(text[3:5], 16), int(text[5:7], 16)
        except ValueError:
            pass
    raise CheckError(f"not a colour: {text!r} (a name among {', '.join(COLOURS)} or #rrggbb)")


def colour_matches(pixel: tuple[int, int, int], colour: tuple[int, int, int]) -> bool:
    return all(abs(a - b) <= PIXEL_TOLERANCE for a, b in zip(pixel, colour))


def _shot_pixel(ctx: Context, shot: str, x: int, y: int) -> tuple[int, int, int]:
    picture = image.load(ctx.out / "shots" / f"{shot}.png")
    if not (0 <= x < picture.width and 0 <= y < picture.height):
        raise CheckError(f"{x},{y} lies outside screenshot {shot} ({picture.width}x{picture.height})")
    return picture.pixel(x, y)


def check_pixel(ctx: Context, args: list[str]) -> list[str]:
    _argc(args, 4, 5)
    negate = len(args) == 5
    if negate and args[3] != "not":
        raise CheckError("pixel SHOT X Y [not] COLOUR")
    shot, x, y, colour = args[0], int(args[1]), int(args[2]), parse_colour(args[-1])
    if not (ctx.out / "shots" / f"{shot}.png").exists():
        return [f"no screenshot {shot}"]
    pixel = _shot_pixel(ctx, shot, x, y)
    if colour_matches(pixel, colour) == negate:
        return [f"screenshot {shot} at {x},{y}: {pixel}, expected {'not ' if negate else ''}{args[-1]}"]
    return []


def check_colour_seen(ctx: Context, args: list[str]) -> list[str]:
    _argc(args, 4)
    shots, x, y, colour = args[0].split(","), int(args[1]), int(args[2]), parse_colour(args[3])
    seen = []
    for shot in shots:
        if not (ctx.out / "shots" / f"{shot}.png").exists():
            seen.append(f"{shot}: none")
            continue
        pixel = _shot_pixel(ctx, shot, x, y)
        if colour_matches(pixel, colour):
            return []
        seen.append(f"{shot}: {pixel}")
    return [f"no screenshot shows {args[3]} at {x},{y} ({'; '.join(seen)})"]


def check_colour_in(ctx: Context, args: list[str]) -> list[str]:
    _argc(args, 3)
    shot, colour = args[0], parse_colour(args[2])
    try:
        x0, y0, x1, y1 = (int(v) for v in args[1].split(","))
    except ValueError:
        raise CheckError("colour-in SHOT X0,Y0,X1,Y1 COLOUR") from None
    if not (ctx.out / "shots" / f"{shot}.png").exists():
        return [f"no screenshot {shot}"]
    picture = image.load(ctx.out / "shots" / f"{shot}.png")
    for y in range(max(y0, 0), min(y1, picture.height)):
        for x in range(max(x0, 0), min(x1, picture.width)):
            if colour_matches(picture.pixel(x, y), colour):
                return []
    return [f"screenshot {shot} shows no {args[2]} in {args[1]}"]


CHECKS: dict[str, Callable[[Context, list[str]], list[str]]] = {
    "autopilot": check_autopilot,
    "transcript": check_transcript,
    "transcript-has": check_transcript_has,
    "transcript-lacks": check_transcript_lacks,
    "backdrop": check_backdrop,
    "font-smoothing": check_font_smoothing,
    "file": check_file,
    "reg": check_reg,
    "ini": check_ini,
    "changes-only": check_changes_only,
    "pixel": check_pixel,
    "colour-seen": check_colour_seen,
    "colour-in": check_colour_in,
}


def validate(scenario: Scenario) -> None:
    """Raises CheckError for a check that does not exist, before any run."""
    for line in scenario.checks:
        if line.words[0] not in CHECKS:
            raise CheckError(f"{scenario.path}:{line.number}: unknown check {line.words[0]!r}")


def run_checks(ctx: Context) -> list[tuple[Line, list[str]]]:
    lines = list(ctx.scenario.checks)
    if not any(line.words[0] == "autopilot" for line in lines):
        lines.insert(0, Line(0, ["autopilot", "ok"]))
    results = []
    for line in lines:
        try:
            faults = CHECKS[line.words[0]](ctx, line.words[1:])
        except CheckError as e:
            faults = [f"bad check: {e}"]
        except (OSError, ValueError, regfile.RegFileError) as e:
            faults = [f"{type(e).__name__}: {e}"]
        results.append((line, faults))
    return results
