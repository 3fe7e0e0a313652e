"""Tests of the Wine harness's own logic (no Wine needed): quoting,
scenario files, registry and .ini files, the backdrop's geometry and the
checks, each fed faults it must find."""

from __future__ import annotations

import os
import re
import signal
import subprocess
import sys
import tempfile
import unittest
import unittest.mock
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import runner  # noqa: E402
from wineharness import checks, image, regfile, scenario, session  # noqa: E402


class QuotingTest(unittest.TestCase):
    def test_quoted_words_undo_escapes(self):
        self.assertEqual(scenario.split_line(r'window "A \"b\" \x92\\" x'),
                         ["window", 'A "b" \x92\\', "x"])
        self.assertEqual(scenario.split_line("  press   Ok  "), ["press", "Ok"])
        self.assertEqual(scenario.split_line('file "" x'), ["file", "", "x"])

    def test_every_byte_survives_quote_and_split(self):
        text = "".join(chr(i) for i in range(256))
        self.assertEqual(scenario.split_line("w " + scenario.quote(text)), ["w", text])

    def test_quote_keeps_code_page_bytes_and_escapes_controls(self):
        self.assertEqual(scenario.quote("l\x92e\xe8\r\n\x01\"\\"),
                         '"l\x92e\xe8\\r\\n\\x01\\"\\\\"')

    def test_bad_quoting_is_refused(self):
        for line in ['w "open', r'w "\q"', r'w "\x9"', 'w "a"b']:
            with self.subTest(line=line), self.assertRaises(scenario.ScenarioError):
                scenario.split_line(line)


SCENARIO = b"""# First line of the description,
# second line.
[package]
title "Aurora   "
license license-it.txt
media a.mp3
media b.mp3

[steps]
backdrop
# a comment the autopilot skips
window "X"
[checks]
file C:\\windows\\Aurora.scr absent
"""


class ScenarioTest(unittest.TestCase):
    def parse(self, text: bytes) -> scenario.Scenario:
        return scenario.parse(text, "s", Path("s.scn"))

    def test_sections_are_read(self):
        sc = self.parse(SCENARIO)
        self.assertEqual(sc.description, "First line of the description, second line.")
        self.assertEqual(sc.value("title"), "Aurora   ")
        self.assertEqual(sc.values("media"), [["a.mp3"], ["b.mp3"]])
        self.assertIsNone(sc.value("saver"))
        self.assertEqual([c.words for c in sc.checks],
                         [["file", "C:\\windows\\Aurora.scr", "absent"]])

    def test_steps_keep_the_line_numbers_of_the_file(self):
        sc = self.parse(SCENARIO)
        file_lines = SCENARIO.split(b"\n")
        step_lines = sc.steps.split(b"\n")
        for number in (10, 11, 12):
            self.assertEqual(step_lines[number - 1], file_lines[number - 1])
        self.assertNotIn(b"[checks]", sc.steps)
        self.assertNotIn(b"title", sc.steps)

    def test_faults_are_named(self):
        cases = {
            b"[package]\ntitel A\n[steps]\nend\n": "unknown package key",
            b"[package]\ntitle A\ntitle B\n[steps]\nend\n": "given twice",
            b"[package]\nlicense x\n[steps]\nend\n": "needs a title or a program",
            b"[package]\ntitle A\nprogram selftest\n[steps]\nend\n": "both",
            b"[package]\ntitle A\n[steps]\n# nothing\n": "no [steps]",
            b"[package]\ntitle A\n[stepz]\nend\n": "unknown section",
            b"[package]\ntitle A\n[steps]\nend\n[steps]\nend\n": "given twice",
            b"[package]\ntitle\n[steps]\nend\n": "wrong number of arguments",
        }
        for text, reason in cases.items():
            with self.subTest(text=text), \
                    self.assertRaisesRegex(scenario.ScenarioError, re.escape(reason)):
                self.parse(text)

    def test_unknown_checks_are_refused_before_a_run(self):
        sc = self.parse(b"[package]\ntitle A\n[steps]\nend\n[checks]\nfiel C:\\x absent\n")
        with self.assertRaisesRegex(checks.CheckError, "unknown check 'fiel'"):
            checks.validate(sc)

    def test_every_shipped_scenario_parses(self):
        for path in sorted((Path(__file__).parent / "scenarios").glob("*.scn")):
            with self.subTest(scenario=path.name):
                sc = scenario.load(path)
                checks.validate(sc)
                for line in sc.checks:
                    if line.words[0] == "transcript":
                        self.assertTrue((path.parent / line.words[1]).is_file())


REG = r'''WINE REGISTRY Version 2
;; All keys relative to \\Machine

#arch=win32

[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Aurora] 1796617968
#time=1dd8604031b0a3c
"DisplayName"="Aurora Screen Saver"
"InstallLocation"=str(2):"C:\\ProgramData\\Tarnwell"
"Quoted"="say \"s\xec\" \x00e8a l\x2019e"
"VersionMajor"=dword:00000007
"Blob"=hex:01,02,\
  03,04
"NoZero"=hex(1):41,00
"Multi"=str(7):"a\0b\0"
@="default"

[Software\\Other] 1
"x"="y"
'''


class RegistryTest(unittest.TestCase):
    def setUp(self):
        self.keys = regfile.parse(REG)
        self.key = self.keys["software\\microsoft\\windows\\currentversion\\uninstall\\aurora"]

    def test_types_and_data(self):
        self.assertEqual(self.key["displayname"].type, regfile.REG_SZ)
        self.assertEqual(self.key["displayname"].text(), "Aurora Screen Saver")
        self.assertEqual(self.key["displayname"].data, "Aurora Screen Saver\0".encode("utf-16-le"))
        self.assertEqual(self.key["installlocation"].type, regfile.REG_EXPAND_SZ)
        self.assertEqual(self.key["installlocation"].text(), "C:\\ProgramData\\Tarnwell")
        self.assertEqual(self.key["versionmajor"].dword(), 7)
        self.assertEqual(self.key["blob"], regfile.Value(regfile.REG_BINARY, b"\x01\x02\x03\x04"))
        self.assertEqual(self.key["multi"].type, regfile.REG_MULTI_SZ)
        self.assertEqual(self.key[""].text(), "default")

    def test_text_escapes(self):
        # \x takes up to four hex digits; Wine pads to four when a hex digit
        # follows, so "\x00e8a" is e-grave then "a".
        self.assertEqual(self.key["quoted"].text(), 'say "s\xec" \xe8a l\u2019e')

    def test_string_without_zero_is_not_a_plain_string(self):
        self.assertEqual(self.key["nozero"], regfile.Value(regfile.REG_SZ, b"A\x00"))
        self.assertNotEqual(self.key["nozero"], regfile.Value(regfile.REG_SZ, b"A\x00\x00\x00"))

    def test_registry_by_root(self):
        with tempfile.TemporaryDirectory() as d:
            Path(d, "system.reg").write_text(REG)
            Path(d, "user.reg").write_text('[Control Panel\\\\Desktop] 1\n"FontSmoothing"="2"\n')
            registry = regfile.Registry(Path(d))
            self.assertEqual(registry.value(r"HKCU\Control Panel\Desktop", "fontsmoothing").text(), "2")
            self.assertIsNotNone(registry.key(r"hklm\SOFTWARE\other"))
            self.assertIsNone(registry.key(r"HKLM\Software\Microsoft"))
            self.assertIsNone(registry.value(r"HKLM\Software\Other", "z"))
            with self.assertRaises(regfile.RegFileError):
                registry.key(r"HKCR\x")

    def test_ini(self):
        ini = regfile.parse_ini(b"[boot]\r\nSCRNSAVE.EXE = C:\\windows\\A.scr\r\n"
                                b"scrnsave.exe=second\r\n;x=y\r\n[Other]\r\nk=v\r\n")
        self.assertEqual(ini["boot"]["scrnsave.exe"], "C:\\windows\\A.scr")
        self.assertEqual(ini["other"], {"k": "v"})


def band_edges(height: int) -> list[int]:
    """Band k's first row, straight from the rule floor((k-1)H/256)."""
    return [((k - 1) * height) // 256 for k in range(1, 257)]


class BandTest(unittest.TestCase):
    def brute_row_blue(self, y: int, height: int) -> int:
        for k in range(1, 257):
            if ((k - 1) * height) // 256 <= y < (k * height) // 256:
                return image.band_blue(k)
        raise AssertionError(f"row {y} in no band")

    def test_band_colours(self):
        self.assertEqual([image.band_blue(k) for k in (1, 2, 3, 256)], [255, 255, 254, 1])

    def test_every_row_lies_in_its_band(self):
        for height in (100, 740, 768, 1024, 255, 257):
            for y in range(height):
                self.assertEqual(image.row_blue(y, height), self.brute_row_blue(y, height),
                                 f"H={height} y={y}")

    def test_heights(self):
        self.assertEqual({image.row_blue(y, 768) for y in range(0, 3)}, {255})
        self.assertEqual(image.row_blue(767, 768), 1)
        edges = band_edges(740)
        self.assertEqual(image.row_blue(edges[100], 740), image.band_blue(101))
        self.assertEqual(image.row_blue(edges[100] - 1, 740), image.band_blue(100))


def backdrop_picture(w=320, h=256, shadow=(2, 2), smooth=False, frame=True,
                     text_at=(33, 34), band_shift=0, frame_rows=None) -> image.Image:
    """A synthetic backdrop: bands, frame, and a 'title' made of blocks,
    black first and white over it, as the installer paints it."""
    rows = []
    for y in range(h):
        blue = image.row_blue(min(h - 1, max(0, y + band_shift)), h)
        rows.append([(0, 0, blue)] * w)
    if frame:
        for x in range(w):
            for y in (0, 1, h - 2, h - 1) if frame_rows is None else frame_rows:
                rows[y][x] = image.WHITE
        for y in range(h):
            for x in (0, 1, w - 2, w - 1):
                rows[y][x] = image.WHITE
    letters = [(0, 0, 12, 46), (20, 10, 12, 36), (40, 0, 30, 8), (40, 38, 30, 8)]

    def blocks(dx, dy, colour):
        for lx, ly, lw, lh in letters:
            for y in range(ly, ly + lh):
                for x in range(lx, lx + lw):
                    rows[text_at[1] + dy + y][text_at[0] + dx + x] = colour
            if smooth:  # a half-covered column right of each letter
                for y in range(ly, ly + lh):
                    x, yy = text_at[0] + dx + lx + lw, text_at[1] + dy + y
                    r, g, b = rows[yy][x]
                    rows[yy][x] = ((r + colour[0]) // 2, (g + colour[1]) // 2,
                                   (b + colour[2]) // 2)

    blocks(0, 0, (0, 0, 0))
    blocks(-shadow[0], -shadow[1], image.WHITE)
    return image.Image(w, h, b"".join(bytes(p) for row in rows for p in row))


class BackdropCheckTest(unittest.TestCase):
    RECT = (0, 0, 320, 256)

    def faults(self, picture: image.Image, rect=RECT) -> list[str]:
        return image.check_backdrop(picture, rect, clear_width=8)

    def test_a_sound_backdrop_passes(self):
        self.assertEqual(self.faults(backdrop_picture()), [])
        self.assertEqual(self.faults(backdrop_picture(smooth=True)), [])

    def test_a_backdrop_off_the_origin_is_found_at_its_place(self):
        inner = backdrop_picture()
        w, h = inner.width + 10, inner.height + 6
        rgb = bytearray(bytes([9, 9, 9]) * (w * h))
        for y in range(inner.height):
            start = ((y + 6) * w + 10) * 3
            rgb[start:start + inner.width * 3] = inner.rgb[y * inner.width * 3:(y + 1) * inner.width * 3]
        self.assertEqual(self.faults(image.Image(w, h, bytes(rgb)), (10, 6, w, h)), [])

    def test_faults_are_found(self):
        cases = {
            "bands": backdrop_picture(band_shift=1),
            "frame": backdrop_picture(frame=False),
            "frame ": backdrop_picture(frame_rows=(0, 1, 254)),  # last row not white
            "shadow": backdrop_picture(shadow=(-2, -2)),
            "black text ends": backdrop_picture(shadow=(3, 3)),
            "starts at": backdrop_picture(text_at=(60, 34)),
        }
        for what, picture in cases.items():
            with self.subTest(fault=what):
                faults = self.faults(picture)
                self.assertTrue(any(what.strip() in f for f in faults), faults)

    def test_a_missing_title_and_a_tinted_title_are_found(self):
        plain = backdrop_picture()
        data = bytearray(plain.rgb)
        for y in range(30, 90):
            for x in range(28, 120):
                i = (y * plain.width + x) * 3
                data[i:i + 3] = bytes((0, 0, image.row_blue(y, plain.height)))
        self.assertIn("title: 0 white", " ".join(self.faults(image.Image(plain.width, plain.height, bytes(data)))))
        data = bytearray(plain.rgb)
        i = (40 * plain.width + 36) * 3
        data[i:i + 3] = bytes((255, 200, 255))
        self.assertIn("another colour", " ".join(self.faults(image.Image(plain.width, plain.height, bytes(data)))))

    def test_too_small_a_font_is_found(self):
        picture = backdrop_picture()
        # Cut every letter to 20 rows: far short of a 64-pixel font's capitals.
        data = bytearray(picture.rgb)
        for y in range(30 + 20 - 6, 100):
            for x in range(2, picture.width - 2):
                i = (y * picture.width + x) * 3
                data[i:i + 3] = bytes((0, 0, image.row_blue(y, picture.height)))
        faults = self.faults(image.Image(picture.width, picture.height, bytes(data)))
        self.assertTrue(any("pixels tall" in f for f in faults), faults)

    def test_ppm(self):
        picture = image.parse_ppm(b"P6\n# made by hand\n2 1\n255\n" + bytes([1, 2, 3, 4, 5, 6]))
        self.assertEqual((picture.width, picture.pixel(1, 0)), (2, (4, 5, 6)))
        with self.assertRaises(ValueError):
            image.parse_ppm(b"P6\n2 1\n255\n" + bytes(5))


class ChecksTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        root = Path(self.dir.name)
        (root / "s.transcript").write_bytes(b'window 1 "A"\npassing "B"\nresult ok\n')
        self.sc = scenario.Scenario("s", root / "s.scn", "", {}, b"", [])
        self.prefix = root / "prefix"
        (self.prefix / "drive_c" / "windows").mkdir(parents=True)
        (self.prefix / "drive_c" / "windows" / "system.ini").write_bytes(b"[boot]\r\nSCRNSAVE.EXE=C:\\A.scr\r\n")
        (self.prefix / "system.reg").write_text(REG)
        (self.prefix / "user.reg").write_text("")

    def tearDown(self):
        self.dir.cleanup()

    def ctx(self, transcript: bytes, changes=()) -> checks.Context:
        return checks.Context(self.sc, Path(self.dir.name), self.prefix, self.prefix,
                              lambda f: Path(self.dir.name) / f, transcript, list(changes))

    def test_transcript_comparison_leaves_out_passing_windows_only(self):
        ctx = self.ctx(b'window 1 "A"\nresult ok\n')
        self.assertEqual(checks.check_transcript(ctx, ["s.transcript"]), [])
        ctx = self.ctx(b'window 1 "A"\npassing "C"\npassing "D"\nresult ok\n')
        self.assertEqual(checks.check_transcript(ctx, ["s.transcript"]), [])
        faults = checks.check_transcript(self.ctx(b'window 1 "a"\nresult ok\n'), ["s.transcript"])
        self.assertEqual(len(faults), 1)
        self.assertIn('+window 1 "a"', faults[0])

    def test_transcript_has_whole_lines(self):
        ctx = self.ctx(b'window 1 "A"\npassing "B"\nresult ok\n')
        self.assertEqual(checks.check_transcript_has(ctx, ['passing "B"']), [])
        self.assertTrue(checks.check_transcript_has(ctx, ['passing "']))
        self.assertTrue(checks.check_transcript_has(ctx, ['passing "C"']))

    def test_autopilot_result(self):
        ok, failed = self.ctx(b"x\nresult ok\n"), self.ctx(b"result fail: line 3: no window\n")
        self.assertEqual(checks.check_autopilot(ok, ["ok"]), [])
        self.assertTrue(checks.check_autopilot(failed, ["ok"]))
        self.assertEqual(checks.check_autopilot(failed, ["fail", "no window"]), [])
        self.assertTrue(checks.check_autopilot(failed, ["fail", "unexpected"]))
        self.assertTrue(checks.check_autopilot(ok, ["fail", "no window"]))
        self.assertTrue(checks.check_autopilot(self.ctx(b""), ["ok"]))

    def test_registry_values_and_types(self):
        key = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Aurora"
        ctx = self.ctx(b"")
        self.assertEqual(checks.check_reg(ctx, [key, "DisplayName", "sz", "Aurora Screen Saver"]), [])
        self.assertTrue(checks.check_reg(ctx, [key, "DisplayName", "sz", "Aurora"]))
        # The right text in the wrong type is a fault.
        self.assertTrue(checks.check_reg(ctx, [key, "InstallLocation", "sz", "C:\\ProgramData\\Tarnwell"]))
        self.assertEqual(checks.check_reg(ctx, [key, "InstallLocation", "expand_sz",
                                                "C:\\ProgramData\\Tarnwell"]), [])
        self.assertEqual(checks.check_reg(ctx, [key, "VersionMajor", "dword", "7"]), [])
        self.assertTrue(checks.check_reg(ctx, [key, "VersionMajor", "dword", "0"]))
        self.assertTrue(checks.check_reg(ctx, [key, "Missing", "dword", "0"]))
        self.assertEqual(checks.check_reg(ctx, [key, "Missing", "absent"]), [])
        self.assertTrue(checks.check_reg(ctx, [key, "absent"]))
        self.assertEqual(checks.check_reg(ctx, [key + "X", "absent"]), [])

    def test_registry_subtree_unchanged(self):
        uninstall = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
        template = Path(self.dir.name) / "template"
        template.mkdir()
        (template / "user.reg").write_text("")

        def faults(before: str) -> list[str]:
            (template / "system.reg").write_text(before)
            ctx = checks.Context(self.sc, Path(self.dir.name), self.prefix, template,
                                 lambda f: Path(self.dir.name) / f, b"", [])
            return checks.check_reg(ctx, [uninstall, "unchanged"])

        self.assertEqual(faults(REG), [])
        # A key the run added below it, and one whose value it changed.
        without = REG.split(r"[Software\\Microsoft")[0] + r"[Software\\Other] 1" + '\n"x"="y"\n'
        self.assertEqual(len(faults(without)), 1)
        self.assertIn("aurora added", faults(without)[0])
        self.assertIn("aurora changed", faults(REG.replace("Aurora Screen Saver", "Other"))[0])
        # Keys outside it do not count.
        self.assertEqual(faults(REG.replace('"x"="y"', '"x"="z"')), [])
        # A key with values that the run removed does.
        gone = r"[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Gone] 1" + '\n"a"="b"\n'
        self.assertIn("gone removed", faults(REG + "\n" + gone)[0])

    def test_ini_and_files(self):
        ctx = self.ctx(b"")
        self.assertEqual(checks.check_ini(ctx, ["C:\\windows\\system.ini", "BOOT", "scrnsave.exe", "C:\\A.scr"]), [])
        self.assertTrue(checks.check_ini(ctx, ["C:\\windows\\system.ini", "boot", "SCRNSAVE.EXE", "C:\\B.scr"]))
        self.assertTrue(checks.check_ini(ctx, ["C:\\windows\\system.ini", "boot", "SCRNSAVE.EXE", "absent"]))
        self.assertEqual(checks.check_file(ctx, ["C:\\windows\\system.ini", "exists"]), [])
        self.assertTrue(checks.check_file(ctx, ["C:\\windows\\other.ini", "exists"]))
        self.assertEqual(checks.check_file(ctx, ["C:\\windows\\system.ini", "bytes",
                                                 "[boot]\r\nSCRNSAVE.EXE=C:\\A.scr\r\n"]), [])
        self.assertTrue(checks.check_file(ctx, ["C:\\windows\\system.ini", "bytes", "[boot]"]))

    def test_changes_only_allows_named_files_and_folders(self):
        changes = ["added   C:\\dist\\Aurora.exe (10 bytes)", "changed C:\\windows\\system.ini (5 bytes)"]
        self.assertEqual(checks.check_changes_only(self.ctx(b"", changes),
                                                   ["C:\\dist", "C:\\windows\\system.ini"]), [])
        faults = checks.check_changes_only(self.ctx(b"", changes), ["C:\\dist"])
        self.assertIn("system.ini", " ".join(faults))
        # A folder's name is not a prefix of another name.
        faults = checks.check_changes_only(self.ctx(b"", ["added   C:\\distant\\x (1 bytes)"]), ["C:\\dist"])
        self.assertTrue(faults)

    def test_screenshot_colours_at_points(self):
        shots = Path(self.dir.name) / "shots"
        shots.mkdir()
        # 4x2: red, lime, blue, black on the first row; a blend of red and
        # lime beyond the tolerance, then near-red, near-white, white.
        row0 = bytes([255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0])
        row1 = bytes([128, 128, 0, 215, 40, 30, 250, 250, 250, 255, 255, 255])
        for name in ("a", "b"):
            (shots / f"{name}.png").write_bytes(b"P6\n4 2\n255\n" + row0 + row1)
        ctx = self.ctx(b"")
        self.assertEqual(checks.check_pixel(ctx, ["a", "0", "0", "red"]), [])
        self.assertEqual(checks.check_pixel(ctx, ["a", "1", "1", "#ff0000"]), [])
        self.assertTrue(checks.check_pixel(ctx, ["a", "0", "1", "red"]))
        self.assertTrue(checks.check_pixel(ctx, ["a", "0", "1", "lime"]))
        self.assertEqual(checks.check_pixel(ctx, ["a", "2", "0", "not", "red"]), [])
        self.assertTrue(checks.check_pixel(ctx, ["a", "1", "0", "not", "lime"]))
        self.assertTrue(checks.check_pixel(ctx, ["missing", "0", "0", "red"]))
        with self.assertRaises(checks.CheckError):
            checks.check_pixel(ctx, ["a", "9", "0", "red"])
        with self.assertRaises(checks.CheckError):
            checks.check_pixel(ctx, ["a", "0", "0", "mauve"])
        self.assertEqual(checks.check_colour_seen(ctx, ["missing,b", "1", "0", "lime"]), [])
        self.assertTrue(checks.check_colour_seen(ctx, ["a,b", "0", "1", "lime"]))
        self.assertEqual(checks.check_colour_in(ctx, ["a", "1,1,4,2", "white"]), [])
        self.assertTrue(checks.check_colour_in(ctx, ["a", "0,0,2,2", "white"]))  # column 2 is the right edge, left out

    def test_backdrop_must_cover_the_work_area(self):
        shots = Path(self.dir.name) / "shots"
        shots.mkdir()
        picture = backdrop_picture()
        ppm = b"P6\n%d %d\n255\n" % (picture.width, picture.height) + picture.rgb
        (shots / "b.ppm").write_bytes(ppm)
        (shots / "b.png").write_bytes(ppm)  # ImageMagick reads by content
        ok = b"screen 320x256 workarea 0,0,320,256\nbackdrop \"A\" rect 0,0,320,256\n"
        short = b"screen 320x256 workarea 0,0,320,256\nbackdrop \"A\" rect 0,0,320,250\n"
        image_check = image.check_backdrop
        try:
            image.check_backdrop = lambda im, rect: []  # the pixels are tested above
            self.assertEqual(checks.check_backdrop(self.ctx(ok), ["b"]), [])
            self.assertIn("work area", " ".join(checks.check_backdrop(self.ctx(short), ["b"])))
            self.assertTrue(checks.check_backdrop(self.ctx(ok), ["missing"]))
        finally:
            image.check_backdrop = image_check


class RunnerTest(unittest.TestCase):
    def test_programs_in_packages_are_padded_to_one_size(self):
        with tempfile.TemporaryDirectory() as d:
            programs, padded = Path(d, "bin"), Path(d, "padded")
            programs.mkdir()
            (programs / "probe.exe").write_bytes(b"MZ" + bytes(100))
            path = runner.content_file("@probe", programs, padded)
            self.assertEqual(path.read_bytes(), b"MZ" + bytes(runner.PROGRAM_SIZE - 2))
            self.assertEqual(runner.content_file("@probe", programs), programs / "probe.exe")
            (programs / "big.exe").write_bytes(bytes(runner.PROGRAM_SIZE + 1))
            with self.assertRaises(runner.SetupError):
                runner.content_file("@big", programs, padded)
            with self.assertRaises(FileNotFoundError):
                runner.content_file("@none", programs, padded)

    def test_windows_paths(self):
        prefix = Path("/p")
        self.assertEqual(session.windows_path_to_unix(prefix, "C:\\dist\\A b.exe"),
                         Path("/p/drive_c/dist/A b.exe"))
        self.assertEqual(session.windows_path_to_unix(prefix, "c:\\"), Path("/p/drive_c"))
        with self.assertRaises(ValueError):
            session.windows_path_to_unix(prefix, "D:\\x")
        self.assertEqual(session.unix_path_to_windows(Path("/tmp/a b")), "Z:\\tmp\\a b")
        self.assertEqual(runner.windows_name("Citt\xe0\x92"), "Citt\u00e0\u2019")


class MachineTest(unittest.TestCase):
    def test_only_a_refused_32_bit_program_means_wine_cannot_run_here(self):
        for status, output, refused in [
                (126, "/usr/bin/wine: 44: exec: /usr/lib/wine/wine: Exec format error\n", True),
                (2, "/usr/bin/wine: 44: exec: /usr/lib/wine/wine: Exec format error\n", True),
                (126, "/usr/bin/wine: 44: exec: /usr/lib/wine/wine: Permission denied\n", False),
                (0, "wine-8.0 (Debian 8.0~repack-4)\n", False),
                # A broken Wine on a machine that runs 32-bit code stays a failure.
                (1, "wine: could not load kernel32.dll, status c0000135\n", False),
                (127, "sh: 1: wine: not found\n", False),
                (139, "Segmentation fault\n", False)]:
            with self.subTest(status=status, output=output):
                reason = session.probe_verdict(status, output)
                self.assertEqual(reason is not None, refused)
                if refused:
                    self.assertIn("Exec format error", reason)
                    self.assertNotIn("\n", reason)

    def test_the_probe_can_be_made_to_fail(self):
        with unittest.mock.patch.dict(os.environ, {session.PROBE_VARIABLE: "fail"}), \
                unittest.mock.patch.object(subprocess, "run") as run:
            self.assertIn(f"{session.PROBE_VARIABLE}=fail", session.cannot_run_wine())
            run.assert_not_called()

    def test_what_runs_in_the_prefix_after_the_run_is_found_and_ended(self):
        with tempfile.TemporaryDirectory() as d:
            prefix = Path(d, "prefix")
            ours = subprocess.Popen(["sleep", "60"], env=dict(os.environ, WINEPREFIX=str(prefix)))
            # A prefix whose name starts with ours is another prefix.
            other = subprocess.Popen(["sleep", "60"], env=dict(os.environ, WINEPREFIX=f"{prefix}2"))
            try:
                self.assertEqual(session.processes_of(prefix), [(ours.pid, "sleep 60")])
                self.assertEqual(session.end_leftovers(prefix, wait=0), [f"{ours.pid} sleep 60"])
                self.assertEqual(ours.wait(10), -signal.SIGKILL)
                self.assertIsNone(other.poll())
                self.assertEqual(session.end_leftovers(prefix, wait=0), [])
            finally:
                for process in (ours, other):
                    process.kill()
                    process.wait()


if __name__ == "__main__":
    unittest.main()
