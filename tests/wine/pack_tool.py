#!/usr/bin/python3
"""glimmer-pack.exe under Wine beside the native glimmer-pack.

    pack_tool.py --template DIR --out DIR --exe GLIMMER-PACK.EXE
                 --pack GLIMMER_PACK --programs DIR --sample PACKAGE.toml

In a copy of the template prefix, with no display:

 1. builds the sample package (its package file, with the stub and the
    programs of --programs) with the Windows tool and with the native one,
    from the same arguments: the two packages must be byte-identical;
 2. under a folder named "Ñandú", from a screen saver named "Σελήνη.scr",
    builds a package with the Windows tool, which takes the stub.exe beside
    itself when no stub is named; `list --json` and `verify` of
    both tools must print the same, and `extract` of both must write the
    same files under the same names (a media file without an extension in
    a folder with a dot among them); `extract --overwrite` replaces a name
    hard-linked to another file without writing through it;
 3. from a folder named "Lago Ñ" of pictures (one larger than 3840x2160)
    and music, `new` of both tools writes the same package file, and
    `build` of it with the shipped programs beside a stub the same package:
    the large picture scaled and encoded again alike;
 4. interrupts a build, and an extraction into a folder it makes, with
    Ctrl+C: exit status 130, no file left, nor that folder;
 5. when openssl and osslsigncode are at hand, signs the sample with the
    native tool and a throw-away certificate whose subject holds a comma
    and letters beyond ASCII: `verify` of both tools must name the signer
    alike; the Windows tool's `sign` says that osslsigncode is missing, and
    runs a stand-in osslsigncode.exe found along PATH with the arguments as
    given, then refuses the package it did not sign and leaves nothing.

Exit code 0 when every check passed, 1 when one failed, 2 when the run
could not be made, 77 (one line saying why) when this machine cannot run
Wine's 32-bit programs.
"""

from __future__ import annotations

import argparse
import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from wineharness import session  # noqa: E402

FOLDER = "Ñandú"
SLIDESHOW = "Lago Ñ"
SAVER = "Σελήνη.scr"
SIGNER = "/CN=Città, Ñandú/O=Σελήνη"


def files_of(folder: Path) -> dict[str, bytes]:
    return {p.name: p.read_bytes() for p in sorted(folder.iterdir()) if p.is_file()}


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    for option in ("--template", "--out", "--exe", "--pack", "--programs", "--sample"):
        parser.add_argument(option, required=True, type=Path)
    opts = parser.parse_args()
    for name in ("exe", "pack", "programs", "sample"):
        setattr(opts, name, getattr(opts, name).resolve())
    reason = session.cannot_run_wine()
    if reason:
        print(f"skipped: {reason}")
        return session.SKIPPED

    started = time.monotonic()
    out = session.fresh_output(opts.out)
    prefix = out / "prefix"
    template = session.ensure_template(opts.template, out / "template.log")
    session.copy_prefix(template, prefix)
    env = session.wine_environment(prefix, None)
    # Wine reads the command line in the locale's character set: UTF-8 here
    # whichever locales the machine has generated (C.UTF-8 it always has).
    env["LC_ALL"] = "C.UTF-8"
    log = open(out / "wine.log", "wb")
    checklist = session.Checklist()
    check, faults = checklist.check, checklist.faults

    # The native tool as glimmer-pack.exe runs here: without osslsigncode,
    # which verify uses when it can.
    alone = {**os.environ, "PATH": "/nonexistent"}

    def native(*args: str | Path) -> subprocess.CompletedProcess:
        return subprocess.run([str(opts.pack), *map(str, args)], cwd=out, capture_output=True, timeout=120)

    def native_alone(*args: str | Path) -> subprocess.CompletedProcess:
        return subprocess.run([str(opts.pack), *map(str, args)], cwd=out, env=alone, capture_output=True, timeout=120)

    def windows(*args: str | Path) -> subprocess.CompletedProcess:
        done = subprocess.run(["wine", str(opts.exe), *map(str, args)], cwd=out, env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        log.write(done.stderr)
        return done

    def interrupt(args: list[str | Path], sign: str) -> tuple[list[int], int, bytes]:
        """Runs the Windows tool with `args` and, as soon as a file matching
        `sign` exists (or after a minute), sends it Ctrl+C, which Wine makes
        of SIGINT; returns the processes signalled, the exit code and what
        the tool wrote on its error stream."""
        run = subprocess.Popen(["wine", str(opts.exe), *map(str, args)], cwd=out, env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 60
        while not list(out.glob(sign)) and run.poll() is None and time.monotonic() < deadline:
            time.sleep(0.02)
        tool = [pid for pid, command in session.processes_of(prefix) if "glimmer-pack.exe" in command]
        for pid in tool:
            os.kill(pid, signal.SIGINT)
        interrupted = run.communicate(timeout=60)[1]
        return tool, run.returncode, interrupted

    def same_output(what: str, args: list[str | Path]) -> None:
        mine, theirs = windows(*args), native_alone(*args)
        check(what, mine.returncode == theirs.returncode == 0 and mine.stdout == theirs.stdout,
              f"glimmer-pack.exe ({mine.returncode}): {mine.stdout!r} {mine.stderr!r}\n"
              f"glimmer-pack ({theirs.returncode}): {theirs.stdout!r} {theirs.stderr!r}")

    try:
        programs = opts.programs
        # The sample's own package file, its programs taken from this build;
        # the Windows tool is given Windows paths (drive Z:, backslashes).
        overrides = ["--stub", programs / "stub.exe", "--saver", programs / "aurora.scr",
                     "--uninstaller", programs / "uninstal.exe",
                     "--media", programs / "aurora-chime.wav"]
        as_windows = [session.unix_path_to_windows(a) if isinstance(a, Path) else a for a in overrides]
        built = windows("build", session.unix_path_to_windows(opts.sample), "-o", "windows.exe",
                        *as_windows)
        check("the Windows tool builds the sample", built.returncode == 0, built.stderr.decode(errors="replace"))
        reference = native("build", opts.sample, "-o", "linux.exe", *overrides)
        if reference.returncode != 0:
            raise RuntimeError(f"the native tool failed: {reference.stderr.decode(errors='replace')}")
        check("its package is byte-identical to the native tool's",
              (out / "windows.exe").exists() and (out / "windows.exe").read_bytes() == (out / "linux.exe").read_bytes())

        folder = out / FOLDER
        folder.mkdir()
        shutil.copyfile(programs / "aurora.scr", folder / SAVER)
        (folder / "dati.dat").write_bytes(b"impostazioni\r\n")
        # A media file without an extension in a folder with a dot: its name
        # is split on either separator.
        (folder / "clips.v2").mkdir()
        (folder / "clips.v2" / "intro").write_bytes(b"RIFF intro")
        package = f"{FOLDER}/{FOLDER}.exe"
        # Without --stub: the stub.exe beside glimmer-pack.exe.
        built = windows("build", "-v", "-o", package, "--title", FOLDER,
                        "--saver", f"{FOLDER}\\{SAVER}", "--data", f"{FOLDER}/dati.dat",
                        "--uninstaller", programs / "uninstal.exe", "--license", opts.sample.parent / "license.txt",
                        "--media", f"{FOLDER}\\clips.v2\\intro")
        check(f"the Windows tool builds {package} from {FOLDER}\\{SAVER}", built.returncode == 0,
              built.stderr.decode(errors="replace"))
        beside = f"stub: {session.unix_path_to_windows(opts.exe.parent / 'stub.exe')} ".encode()
        check("it takes the stub beside itself", beside in built.stdout, built.stdout.decode(errors="replace"))
        same_output("list prints the same", ["list", package])
        same_output("list --json prints the same", ["list", package, "--json"])
        same_output("verify prints the same", ["verify", package])
        extracted = windows("extract", package, f"{FOLDER}/fuori")
        reference = native("extract", package, f"{FOLDER}/linux")
        mine, theirs = files_of(folder / "fuori"), files_of(folder / "linux")
        check(f"extract writes {', '.join(sorted(mine))}",
              extracted.returncode == reference.returncode == 0 and mine == theirs and f"{FOLDER}.scr" in mine
              and mine[f"{FOLDER}.scr"] == (folder / SAVER).read_bytes(),
              f"{sorted(mine)} against {sorted(theirs)}; {extracted.stderr!r}")

        # --overwrite over a name hard-linked to another file: the name is
        # replaced (MoveFileExW), the other file keeps its bytes.
        (folder / "collegato").mkdir()
        os.link(folder / "dati.dat", folder / "collegato" / f"{FOLDER}.scr")
        replaced = windows("extract", package, f"{FOLDER}/collegato", "--overwrite")
        check("extract --overwrite replaces a hard-linked name, not the file linked to it",
              replaced.returncode == 0 and (folder / "dati.dat").read_bytes() == b"impostazioni\r\n"
              and (folder / "collegato" / f"{FOLDER}.scr").read_bytes() == (folder / SAVER).read_bytes(),
              repr(replaced.stderr))

        # A slideshow from a folder (ImageMagick makes its pictures), with
        # a copy of the stub and the shipped programs beside it.
        show = out / SLIDESHOW
        show.mkdir()
        for size, fill, name in (("4500x2600", "xc:gray", "2.jpg"), ("300x200", "xc:red", "10.png")):
            subprocess.run(["convert", "-size", size, fill, "+noise", "Random", str(show / name)],
                           check=True, capture_output=True, timeout=120)
        shutil.copyfile(programs / "aurora-chime.wav", show / "canto.wav")
        kit = out / "kit"
        kit.mkdir()
        for name in ("stub.exe", "slideshow.scr", "uninstal.exe"):
            shutil.copyfile(programs / name, kit / name)
        made = windows("new", SLIDESHOW, "-o", "lago.toml")
        written = (out / "lago.toml").read_bytes() if made.returncode == 0 else b""
        (out / "lago.toml").unlink(missing_ok=True)
        reference = native("new", SLIDESHOW, "-o", "lago.toml")
        check(f"new writes the same package file for {SLIDESHOW}",
              made.returncode == reference.returncode == 0 and written == (out / "lago.toml").read_bytes(),
              f"{made.stderr!r} {reference.stderr!r}\n{written!r}")
        built = windows("build", "lago.toml", "--stub", "kit\\stub.exe", "-o", "lago-windows.exe", "-v")
        reference = native("build", "lago.toml", "--stub", "kit/stub.exe", "-o", "lago-linux.exe")
        check("build of it gives the same package, the large picture scaled alike",
              built.returncode == reference.returncode == 0 and b"scaled to 3738x2160" in built.stdout
              and (out / "lago-windows.exe").read_bytes() == (out / "lago-linux.exe").read_bytes(),
              f"{built.stdout!r} {built.stderr!r} {reference.stderr!r}")

        # Ctrl+C, which Wine makes of SIGINT, during a build: the tool ends
        # with 130 and its temporary file goes (an open file, on Windows).
        (out / "grande.bin").write_bytes(os.urandom(24 << 20))
        tool, code, interrupted = interrupt(["build", "-o", "grande.exe", "--stub", programs / "stub.exe",
                                             "--title", "Grande", "--saver", "grande.bin",
                                             "--data", f"{FOLDER}/dati.dat", "--uninstaller", "grande.bin",
                                             "--pack"], "grande.exe.*")
        left = sorted(p.name for p in out.glob("grande.exe*"))
        check("Ctrl+C ends a build with 130 and leaves no temporary file",
              bool(tool) and code == 130 and not left,
              f"signalled {tool}, exit {code}, left {left}, {interrupted!r}")
        (out / "grande.bin").unlink()

        # Ctrl+C during an extraction into a folder it made: 130, and neither
        # a file nor the folder is left. Many files, each put on the disk
        # before the next, keep the extraction going while it is signalled.
        media = out / "molti"
        media.mkdir()
        for i in range(600):
            (media / f"m{i}.bin").write_bytes(os.urandom(16 << 10))
        listed = "".join(f'"molti/m{i}.bin",\n' for i in range(600))
        (out / "molti.toml").write_text(f'[files]\nmedia = [\n{listed}]\n')
        reference = native("build", "molti.toml", "-o", "molti.exe", "--stub", programs / "stub.exe", "--title", "Molti",
                           "--saver", programs / "aurora.scr", "--data", folder / "dati.dat",
                           "--uninstaller", programs / "uninstal.exe", "--store")
        if reference.returncode != 0:
            raise RuntimeError(f"the native tool failed: {reference.stderr.decode(errors='replace')}")
        tool, code, interrupted = interrupt(["extract", "molti.exe", "fuori-molti"],
                                            "fuori-molti/.glimmer-extract-*")
        check("Ctrl+C ends an extraction with 130 and leaves neither files nor the folder it made",
              bool(tool) and code == 130 and not (out / "fuori-molti").exists(),
              f"signalled {tool}, exit {code}, "
              f"left {sorted(p.name for p in (out / 'fuori-molti').glob('*'))[:5]}, {interrupted!r}")
        shutil.rmtree(media)

        if shutil.which("openssl") and shutil.which("osslsigncode"):
            (out / "firma Ñ").mkdir()
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-utf8",
                            "-subj", SIGNER, "-keyout", "firma Ñ/key.pem", "-out", "firma Ñ/cert.pem"],
                           cwd=out, check=True, capture_output=True, timeout=60)
            signing = ["--cert", "firma Ñ/cert.pem", "--key", "firma Ñ/key.pem"]
            signed = native("sign", "-o", "signed.exe", *signing, "linux.exe")
            if signed.returncode != 0:
                raise RuntimeError(f"the native tool did not sign: {signed.stderr.decode(errors='replace')}")
            same_output("verify names the signer alike", ["verify", "signed.exe"])

            # No osslsigncode.exe along Wine's PATH: said plainly.
            missing = windows("sign", "-o", f"{FOLDER}/firmato.exe", *signing, package)
            check("sign says that osslsigncode is missing", missing.returncode == 1 and
                  b"osslsigncode, which signs packages, is not installed" in missing.stderr, repr(missing.stderr))
            # A stand-in that notes its command line and signs nothing: run
            # with the arguments as given, waited for, its result judged, and
            # nothing left behind.
            (out / "bin").mkdir()
            shutil.copyfile(programs / "probe.exe", out / "bin" / "osslsigncode.exe")
            env["WINEPATH"] = session.unix_path_to_windows(out / "bin")
            stood_in = windows("sign", "-o", f"{FOLDER}/firmato.exe", *signing, package)
            del env["WINEPATH"]
            log_file = prefix / "drive_c" / "probe.log"
            ran = log_file.read_bytes() if log_file.exists() else b""
            want = f'sign -certs "firma Ñ/cert.pem" -key "firma Ñ/key.pem" -in {package} -out {FOLDER}/'
            check("sign runs osslsigncode.exe along PATH with its arguments",
                  b"osslsigncode.exe|" in ran and want.encode("cp1252") in ran, repr(ran))
            check("and refuses what it did not sign, leaving nothing",
                  stood_in.returncode == 1 and b"the signed package does not validate" in stood_in.stderr
                  and not any(p.name.startswith((".glimmer-pack-sign", "firmato")) for p in folder.iterdir()),
                  f"{stood_in.returncode} {stood_in.stderr!r} {sorted(p.name for p in folder.iterdir())}")
        else:
            print("(openssl or osslsigncode missing: the signer's name is not compared)")
    except (OSError, RuntimeError, subprocess.SubprocessError) as e:
        print(f"pack_tool: {e}", file=sys.stderr)
        return 2
    finally:
        log.close()
        session.end_wineserver(env, out / "wine.log", grace=15)
        session.end_leftovers(prefix)
        session.remove_server_folder(prefix)

    print(f"{'failed' if faults else 'passed'}: {len(faults)} checks failed "
          f"({time.monotonic() - started:.1f} s)")
    if not faults:
        shutil.rmtree(prefix, ignore_errors=True)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
