"""Tests of the harness parts the install scenarios rely on (no Wine needed):
generated content, hostile packages made from sound ones, the checks of
files cut short, and the scenario keys that ask for them."""

from __future__ import annotations

import struct
import sys
import tempfile
import types
import unittest
import zlib
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import runner  # noqa: E402
from wineharness import checks, generate, scenario  # noqa: E402


class GeneratedContentTest(unittest.TestCase):
    def test_sizes_are_exact_and_content_repeats_run_after_run(self):
        for kind in generate.KINDS:
            with self.subTest(kind=kind):
                data = generate.make(5000, kind)
                self.assertEqual(len(data), 5000)
                self.assertEqual(data, generate.make(5000, kind))
        self.assertNotEqual(generate.make(5000, "random"), generate.make(5001, "random")[:5000])

    def test_random_content_does_not_shrink_and_zeros_do(self):
        self.assertGreater(len(zlib.compress(generate.make(1 << 16, "random"), 9)), 1 << 16)
        self.assertLess(len(zlib.compress(generate.make(1 << 16, "zero"), 9)), 1000)

    def test_wav_header_describes_the_samples(self):
        data = generate.make(10044, "wav")
        riff, riff_size, wave = struct.unpack_from("<4sI4s", data, 0)
        self.assertEqual((riff, wave, riff_size), (b"RIFF", b"WAVE", len(data) - 8))
        fmt, fmt_size, tag, channels, rate, per_second, align, bits = struct.unpack_from(
            "<4sIHHIIHH", data, 12)
        self.assertEqual((fmt, fmt_size, tag, channels, rate, per_second, align, bits),
                         (b"fmt ", 16, 1, 1, 22050, 22050, 1, 8))
        tag, size = struct.unpack_from("<4sI", data, 36)
        self.assertEqual((tag, size), (b"data", 10000))

    def test_noise_wav_is_a_wav_file_of_samples_that_do_not_shrink(self):
        data = generate.make(44 + (1 << 16), "noisewav")
        self.assertEqual(data[:44], generate.wav_header(1 << 16))
        self.assertGreater(len(zlib.compress(data[44:], 9)), 1 << 16)

    def test_wav_samples_are_a_tone_under_the_noise(self):
        samples = generate.make(44 + 3 * 2205, "wav")[44:]
        # The tone repeats every 2205 samples; only the two noise bits vary.
        self.assertEqual([s & 0xFC for s in samples[:2205]], [s & 0xFC for s in samples[2205:4410]])
        self.assertGreater(len({s & 3 for s in samples}), 1)
        self.assertGreater(max(samples) - min(samples), 150)

    def test_bad_requests_are_refused(self):
        with self.assertRaises(generate.GenerateError):
            generate.make(10, "noise")
        with self.assertRaises(generate.GenerateError):
            generate.make(44, "wav")
        for text in ("", "x", "12Q", "-5", "M"):
            with self.subTest(text=text), self.assertRaises(generate.GenerateError):
                generate.parse_size(text)
        self.assertEqual(generate.parse_size("40M"), 40 * 1024 * 1024)
        self.assertEqual(generate.parse_size("3k"), 3072)
        self.assertEqual(generate.parse_size("17"), 17)


def package(title: bytes, tail: bytes = b"\x01\x00records") -> bytes:
    return b"MZstub" + b"\x00\x00" + generate.title_field(title) + tail


class HostilePackageTest(unittest.TestCase):
    def test_forged_title_replaces_the_field_only(self):
        sound = package(b"Aurora")
        forged = generate.forge_title(sound, b"Aurora", b"..\\..\\Evil")
        self.assertEqual(len(forged), len(sound))
        self.assertEqual(forged[:8], sound[:8])
        self.assertEqual(forged[8:8 + 260], b"..\\..\\Evil" + bytes(250))
        self.assertEqual(forged[268:], sound[268:])

    def test_a_field_that_cannot_be_found_for_sure_is_refused(self):
        with self.assertRaises(generate.GenerateError):
            generate.forge_title(package(b"Aurora"), b"Borealis", b"X")
        twice = package(b"Aurora", tail=generate.title_field(b"Aurora"))
        with self.assertRaises(generate.GenerateError):
            generate.forge_title(twice, b"Aurora", b"X")
        with self.assertRaises(generate.GenerateError):
            generate.forge_title(package(b"Aurora"), b"Aurora", b"x" * 260)

    def test_cut_drops_the_end(self):
        self.assertEqual(generate.cut(b"abcdef", 2), b"abcd")
        for count in (0, 6, 7):
            with self.subTest(count=count), self.assertRaises(generate.GenerateError):
                generate.cut(b"abcdef", count)


SCENARIO = b"""Hostile.
[package]
title Aurora
stub stub-prompts0
generate big.wav 40M wav
generate odd.xyz 3000
forge-title "..\\\\Evil"
cut 100
media big.wav
media odd.xyz
[steps]
end 1
"""


class ScenarioKeysTest(unittest.TestCase):
    def test_new_keys_parse_and_generate_repeats(self):
        sc = scenario.parse(SCENARIO, "s", Path("s.scn"))
        self.assertEqual(sc.value("stub"), "stub-prompts0")
        self.assertEqual(sc.values("generate"), [["big.wav", "40M", "wav"], ["odd.xyz", "3000"]])
        self.assertEqual(sc.value("forge-title"), "..\\Evil")
        self.assertEqual(sc.value("cut"), "100")

    def test_generate_needs_a_name_and_a_size(self):
        with self.assertRaises(scenario.ScenarioError):
            scenario.parse(b"[package]\ntitle A\ngenerate x\n[steps]\nend\n", "s", Path("s.scn"))

    def test_generated_files_are_made_and_found_first(self):
        sc = scenario.parse(b"[package]\ntitle A\ngenerate data.dat 100 zero\n[steps]\nend\n",
                            "s", Path("s.scn"))
        with tempfile.TemporaryDirectory() as d:
            made = runner.generate_files(sc, Path(d))
            self.assertEqual(made["data.dat"].read_bytes(), bytes(100))
            # The generated file stands in for the content file of that name.
            self.assertEqual(runner.content_file("data.dat", Path(d), None, made), made["data.dat"])
            self.assertEqual(runner.content_file("data.dat", Path(d)), runner.CONTENT / "data.dat")

    def test_a_large_program_is_the_program_padded_with_zeros(self):
        sc = scenario.parse(b"[package]\ntitle A\ngenerate big.exe 1K @probe\n"
                            b"generate small.exe 5 @probe\n[steps]\nend\n", "s", Path("s.scn"))
        with tempfile.TemporaryDirectory() as d:
            Path(d, "probe.exe").write_bytes(b"MZprogram")
            with self.assertRaises(runner.SetupError):
                runner.generate_files(sc, Path(d), Path(d))
            sc.package["generate"].pop()
            made = runner.generate_files(sc, Path(d), Path(d))
            self.assertEqual(made["big.exe"].read_bytes(), b"MZprogram" + bytes(1024 - 9))

    def test_generated_names_stay_in_their_folder(self):
        for name in ("../x", "a\\b", "@probe"):
            sc = scenario.parse(b"[package]\ntitle A\ngenerate " + scenario.quote(name).encode() +
                                b" 10\n[steps]\nend\n", "s", Path("s.scn"))
            with self.subTest(name=name), tempfile.TemporaryDirectory() as d, \
                    self.assertRaises(runner.SetupError):
                runner.generate_files(sc, Path(d))

    def test_alter_package_forges_then_cuts(self):
        sc = scenario.parse(SCENARIO, "s", Path("s.scn"))
        with tempfile.TemporaryDirectory() as d:
            path = Path(d, "Aurora.exe")
            sound = package(b"Aurora", tail=bytes(300))
            path.write_bytes(sound)
            runner.alter_package(sc, path)
            altered = path.read_bytes()
            self.assertEqual(len(altered), len(sound) - 100)
            self.assertEqual(altered[8:16], b"..\\Evil\x00")

    def test_stub_key_names_a_harness_program(self):
        sc = scenario.parse(SCENARIO, "s", Path("s.scn"))
        with tempfile.TemporaryDirectory() as d:
            opts = types.SimpleNamespace(pack=str(Path(d, "pack")), stub=None, programs=Path(d),
                                         generated={})
            Path(d, "pack").write_bytes(b"")
            # No stub-prompts0.exe among the programs: the run cannot be made.
            with self.assertRaises(FileNotFoundError):
                runner.build_package(sc, opts, Path(d))


class TranscriptLacksTest(unittest.TestCase):
    def test_lines_beginning_with_the_text_are_faults(self):
        sc = scenario.Scenario("s", Path("s.scn"), "", {}, b"", [])
        ctx = lambda data: checks.Context(sc, Path("."), Path("."), Path("."), Path, data, [])  # noqa: E731
        self.assertEqual(checks.check_transcript_lacks(ctx(b'window 1 "A"\nresult ok\n'),
                                                       ["passing "]), [])
        faults = checks.check_transcript_lacks(ctx(b'passing "A"\npassing ""\nresult ok\n'),
                                               ["passing "])
        self.assertEqual(len(faults), 2)
        # Only the start of a line counts.
        self.assertEqual(checks.check_transcript_lacks(ctx(b'  static "passing "\n'), ["passing "]), [])
        with self.assertRaises(checks.CheckError):
            checks.check_transcript_lacks(ctx(b""), [""])


class CutShortFileTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        root = Path(self.dir.name)
        self.whole = bytes(range(256)) * 40
        (root / "whole.bin").write_bytes(self.whole)
        self.folder = root / "prefix" / "drive_c" / "d"
        self.folder.mkdir(parents=True)
        sc = scenario.Scenario("s", root / "s.scn", "", {}, b"", [])
        self.ctx = checks.Context(sc, root, root / "prefix", root / "prefix",
                                  lambda f: root / f, b"", [])

    def tearDown(self):
        self.dir.cleanup()

    def check(self, data: bytes | None, what: str, arg: str) -> list[str]:
        target = self.folder / "f"
        target.unlink(missing_ok=True)
        if data is not None:
            target.write_bytes(data)
        return checks.check_file(self.ctx, ["C:\\d\\f", what, arg])

    def test_part_of(self):
        self.assertEqual(self.check(self.whole[:2048], "part-of", "whole.bin"), [])
        self.assertEqual(self.check(b"", "part-of", "whole.bin"), [])
        self.assertIn("not cut short", self.check(self.whole, "part-of", "whole.bin")[0])
        self.assertIn("not cut short", self.check(self.whole + b"x", "part-of", "whole.bin")[0])
        damaged = bytearray(self.whole[:4096])
        damaged[3000] ^= 1
        self.assertIn("at byte 3000", self.check(bytes(damaged), "part-of", "whole.bin")[0])
        self.assertIn("missing", self.check(None, "part-of", "whole.bin")[0])

    def test_size(self):
        self.assertEqual(self.check(bytes(2048), "size", "2048"), [])
        self.assertTrue(self.check(bytes(2047), "size", "2048"))
        self.assertTrue(self.check(None, "size", "0"))
        with self.assertRaises(checks.CheckError):
            self.check(bytes(1), "size", "x")


if __name__ == "__main__":
    unittest.main()
