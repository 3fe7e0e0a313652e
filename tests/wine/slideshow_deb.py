#!/usr/bin/python3
"""A slideshow from pictures and music alone, made with glimmer-pack as its
Debian package installs it, installed and uninstalled under Wine.

    slideshow_deb.py --template DIR --out DIR --autopilot EXE --native DIR
                     --programs DIR [--windows xp|win7|win10]

 1. cpack makes the .deb of the native build --native, which is unpacked
    (dpkg -x); its stub, slideshow screen saver and uninstaller must be
    those of this win32 build (--programs);
 2. in a folder holding three pictures of distinct solid colours (PNG,
    GIF, BMP) and one music file, a package file names the title, the
    pictures' folder and the music, nothing else; the unpacked glimmer-pack,
    alone along PATH, builds it: glimmer-pack build slideshow.toml -o Lago.exe
    (it must find the stub, the screen saver and the uninstaller in its own
    share folder);
 3. under Wine, on a virtual display, the autopilot installs the package
    (Ok, Ok, OK); the music passes the installer's media check, so the
    screen saver becomes the system's one; the installer starts it, and a
    screenshot must show the first picture's colour over the whole screen;
 4. UNINSTAL.EXE /s, then the next start of Windows (wineboot -r), which
    carries out the deletions it left to it: nothing the install wrote may
    be left on drive C:, in the registry's uninstall entry or in system.ini.

With --windows the prefix claims that Windows (as the runner's --windows
does, checked by osversion.exe from --programs) before the installer runs.

Exit code 0 when every check passed, 1 when one failed, 2 when the run
could not be made, 77 (one line saying why) when this machine cannot run
Wine's 32-bit programs or lacks cpack, dpkg or ImageMagick.
"""

from __future__ import annotations

import argparse
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from wineharness import generate, image, regfile, scenario, session  # noqa: E402

TITLE = "Lago"
# The pictures, in the order their names give: 4:3 like the virtual screen,
# so that each fills it whole.
PICTURES = [("1-rosso.png", (200, 30, 40)), ("2-verde.gif", (30, 170, 60)), ("3-blu.bmp", (40, 60, 210))]
SHIPPED = ("stub.exe", "slideshow.scr", "uninstal.exe")
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + TITLE


def close(a: tuple[int, int, int], b: tuple[int, int, int]) -> bool:
    return all(abs(x - y) <= 12 for x, y in zip(a, b))


def make_content(folder: Path) -> None:
    pictures = folder / "immagini"
    pictures.mkdir(parents=True)
    for name, (r, g, b) in PICTURES:
        subprocess.run(["convert", "-size", "800x600", f"xc:rgb({r},{g},{b})", str(pictures / name)],
                       check=True, timeout=60)
    (folder / "musica.wav").write_bytes(generate.make(60000, "wav"))
    (folder / "slideshow.toml").write_text(
        f'title = "{TITLE}"\n\n[slideshow]\npictures = ["immagini"]\nmusic = ["musica.wav"]\n', encoding="utf-8")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    for option in ("--template", "--out", "--autopilot", "--native", "--programs"):
        parser.add_argument(option, required=True, type=Path)
    parser.add_argument("--windows", choices=sorted(session.WINDOWS))
    opts = parser.parse_args()
    reason = session.cannot_run_wine()
    for tool in ("cpack", "dpkg", "convert"):
        if not reason and not shutil.which(tool):
            reason = f"{tool} is not installed"
    if not reason and not (opts.native / "CPackConfig.cmake").exists():
        reason = f"{opts.native} is no configured native build (cmake --preset native)"
    if reason:
        print(f"skipped: {reason}")
        return session.SKIPPED

    started = time.monotonic()
    out = session.fresh_output(opts.out)
    prefix = out / "prefix"
    checklist = session.Checklist()
    check, faults = checklist.check, checklist.faults

    env: dict[str, str] = {}
    log = out / "wine.log"
    try:
        # The .deb, unpacked.
        made = subprocess.run(["cpack", "--config", str(opts.native / "CPackConfig.cmake"), "-B", str(out / "deb")],
                              capture_output=True, text=True, timeout=600)
        debs = sorted((out / "deb").glob("glimmer-pack_*.deb"))
        if made.returncode != 0 or len(debs) != 1:
            raise RuntimeError(f"cpack made no .deb: {made.stdout}{made.stderr}")
        root = out / "root"
        subprocess.run(["dpkg", "-x", str(debs[0]), str(root)], check=True, timeout=120)
        share = root / "usr" / "share" / "glimmer-pack"
        for name in SHIPPED:
            ours = opts.programs / name
            check(f"the .deb carries this build's {name}",
                  (share / name).is_file() and (share / name).read_bytes() == ours.read_bytes(),
                  f"reconfigure {opts.native} with this build's programs (GLIMMER_STUB_EXE, "
                  "GLIMMER_SLIDESHOW_SCR, GLIMMER_UNINSTALLER_EXE)")
        if faults:
            return 1

        # The package, from pictures and music alone.
        work = out / "autore"
        make_content(work)
        tool_env = dict(os.environ, PATH=f"{root / 'usr' / 'bin'}:/usr/bin:/bin")
        built = subprocess.run(["glimmer-pack", "build", "slideshow.toml", "-o", f"{TITLE}.exe"], cwd=work,
                               env=tool_env, capture_output=True, text=True, timeout=120)
        check("the installed glimmer-pack builds the package from pictures and music", built.returncode == 0,
              built.stdout + built.stderr)
        if built.returncode != 0:
            return 1
        listed = subprocess.run(["glimmer-pack", "list", f"{TITLE}.exe"], cwd=work, env=tool_env,
                                capture_output=True, text=True, timeout=60).stdout
        print("    " + listed.rstrip().replace("\n", "\n    "))

        template = session.ensure_template(opts.template, out / "template.log")
        session.copy_prefix(template, prefix)
        installer = f"C:\\dist\\{TITLE}.exe"
        target = session.windows_path_to_unix(prefix, installer)
        target.parent.mkdir(parents=True)
        shutil.copyfile(work / f"{TITLE}.exe", target)
        caption = scenario.quote(f"{TITLE} Installazione Screen Saver")
        script = out / "steps.txt"
        script.write_text("\n".join(["backdrop", f"window {caption}", "press Ok", f"window {caption}", "press Ok",
                                     "window \"Glimmerwick Orvella\"", "press OK", "end 0"]) + "\n",
                          encoding="latin-1")
        shots = out / "shots"
        with session.Xvfb(out / "xvfb.log") as x:
            env = session.wine_environment(prefix, x.display)
            try:
                if opts.windows:
                    claimed = session.claim_windows(env, prefix, opts.windows, opts.programs / "osversion.exe", out)
                    check(f"the prefix claims Windows {opts.windows}", not claimed, "\n".join(claimed))
                    if claimed:
                        return 1
                code, _ = session.run_autopilot(env, opts.autopilot, script, out / "transcript.txt", shots,
                                                installer, [], log, limit=120)
                check("the package installs (autopilot)", code == 0, f"see {out / 'transcript.txt'}")
                # The screen saver the installer started: its first picture,
                # once it has faded in.
                screen = None
                deadline = time.monotonic() + 60
                while time.monotonic() < deadline:
                    time.sleep(1)
                    session.capture(x.display, shots / "slideshow.png")
                    screen = image.load(shots / "slideshow.png")
                    points = [(screen.width * i // 8, screen.height * j // 8) for i in (1, 4, 7) for j in (1, 4, 7)]
                    if all(close(screen.pixel(px, py), PICTURES[0][1]) for px, py in points):
                        break
                else:
                    screen = None
                check("the slideshow shows the first picture over the whole screen", screen is not None,
                      f"see {shots / 'slideshow.png'}")
            finally:
                session.end_wineserver(env, log, grace=0)
            registry = regfile.Registry(prefix)
            ini = regfile.parse_ini(session.windows_path_to_unix(prefix, "C:\\windows\\system.ini").read_bytes())
            check("the music passed the media check: the screen saver is the system's one",
                  ini.get("boot", {}).get("scrnsave.exe", "").lower().endswith(".scr"), repr(ini.get("boot")))
            uninstall = registry.value(UNINSTALL_KEY, "UninstallString")
            # The installer quotes the path when it holds blanks (XP's data
            # folder does).
            uninstaller = uninstall.text().strip('"') if uninstall is not None else ""
            check("the uninstall entry names UNINSTAL.EXE", uninstaller.upper().endswith("\\UNINSTAL.EXE"),
                  repr(uninstall.text() if uninstall is not None else None))
            if not uninstaller:
                return 1

            with open(log, "ab") as wine_log:
                done = subprocess.run(["wine", uninstaller, "/s"], env=env, stdout=wine_log, stderr=wine_log,
                                      timeout=120)
            session.end_wineserver(env, log, grace=30)
            check("UNINSTAL.EXE /s ends with 0", done.returncode == 0, f"exit code {done.returncode}")
            with open(log, "ab") as wine_log:
                subprocess.run(["wineboot", "-r"], env=env, stdout=wine_log, stderr=wine_log, timeout=120)
            session.end_wineserver(env, log, grace=30)

        # Nothing left: no file but the installer placed for the run and
        # system.ini, no folder of the maker, no uninstall entry, no
        # screen-saver entry.
        left = [line for line in session.list_changes(template, prefix)
                if "C:\\dist\\" not in line and not line.lower().startswith("changed c:\\windows\\system.ini")]
        check("no installed file is left", not left, "\n".join(left))
        folders = [str(p) for p in (prefix / "drive_c").rglob("Tarnwell")]
        check("no folder of the maker is left", not folders, "\n".join(folders))
        registry = regfile.Registry(prefix)
        check("the uninstall entry is gone", registry.key(UNINSTALL_KEY) is None)
        ini = regfile.parse_ini(session.windows_path_to_unix(prefix, "C:\\windows\\system.ini").read_bytes())
        check("system.ini names no screen saver", "scrnsave.exe" not in ini.get("boot", {}), repr(ini.get("boot")))
        check("Wine's files shared with the template are unchanged", not session.shared_files_changed(template))
    except (OSError, RuntimeError, subprocess.SubprocessError) as e:
        print(f"slideshow_deb: {e}", file=sys.stderr)
        return 2
    finally:
        if env:
            session.end_wineserver(env, log, grace=0)
        session.end_leftovers(prefix)
        session.remove_server_folder(prefix)

    print(f"{'failed' if faults else 'passed'}: {len(faults)} checks failed "
          f"({time.monotonic() - started:.1f} s)")
    if not faults:
        shutil.rmtree(prefix, ignore_errors=True)
        shutil.rmtree(out / "root", ignore_errors=True)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
