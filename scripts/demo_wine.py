#!/usr/bin/python3
"""Installs a package under Wine for scripts/demo and shows what it did.

    demo_wine.py PACKAGE --title TITLE --name NAME --autopilot EXE --out DIR
                 --template DIR [--screens DIR] [--saver-shots N --every SECONDS]
                 [--interactive] [--docs DIR]

Without --interactive the install runs on a virtual display (Xvfb), answered
by the autopilot the way a person would (Ok, Accept, Ok, OK); a screenshot
of every step goes to the screens folder (DIR/screens/ unless --screens
names another), each named NAME-<step>.png, and --saver-shots of the screen
saver that the installer starts at the end (one by default), --every
seconds apart. With --interactive the installer runs on $DISPLAY for a
person to click through.

Either way the script then prints what was installed: the files, INSTALL.LOG,
the uninstall entry's values, system.ini's screen saver and the screen-saver
setting. Headless, it then runs the installed uninstaller with "/s", prints
what is left, starts Windows again (wineboot -r), which carries out the
deletions the uninstaller left to the next start, and prints what is left
then. The Wine prefix stays in DIR/prefix.

--docs DIR also writes small copies of a few screenshots into DIR (for the
README), named demo-NAME-<step>.png.

Exit code 0 when the install went as planned, 1 when it did not or Wine
failed, 2 for a wrong use, 3 when this machine cannot run 32-bit programs
(not even through the emulator that scripts/setup registers where it can):
then a paragraph says why and nothing is run.
"""

from __future__ import annotations

import argparse
import os
import shutil
import subprocess
import sys
import textwrap
import time
from pathlib import Path

# No bytecode in the source tree.
sys.dont_write_bytecode = True

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "wine"))

from wineharness import regfile, scenario, session  # noqa: E402

INSTALLER_DIR = "C:\\dist"
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
DESKTOP_KEY = "HKCU\\Control Panel\\Desktop"
# Screenshots copied into the README's folder, by package: the middle of
# the screen, where the dialogs are, at full size; the screen saver scaled
# down.
DIALOG = ["-gravity", "center", "-crop", "640x400+0+0", "+repage"]
SAVER = ["-resize", "512"]
DOC_SHOTS = {"aurora": {"02-confirmation": DIALOG,
                        "03-license": ["-gravity", "center", "-crop", "720x520+0+0", "+repage"],
                        "05-credits": DIALOG, "06-screen-saver": SAVER},
             "lago": {"06-screen-saver": SAVER, "07-screen-saver": SAVER}}
TYPE_NAMES = {regfile.REG_SZ: "REG_SZ", regfile.REG_EXPAND_SZ: "REG_EXPAND_SZ",
              regfile.REG_DWORD: "REG_DWORD"}
# The uninstall entry's values in the order the installer writes them (the
# registry file keeps no order and no letter case).
VALUE_NAMES = ("DisplayName", "UninstallString", "InstallLocation", "DisplayIcon", "Publisher",
               "VersionMajor", "VersionMinor")
SESSION_MANAGER = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager"
CANNOT_RUN = 3
CANNOT_INSTALL = (
    "The package was built, listed and verified, but it cannot be installed on this machine. "
    "The installer is a 32-bit Windows program, which Wine runs as a 32-bit program of this "
    "machine, and Wine cannot start here: {reason}. Once 32-bit programs run here, "
    "scripts/demo installs the sample as usual.")


def steps(title: str, name: str) -> str:
    """The autopilot's answers: those of a person who accepts everything."""
    caption = scenario.quote(title + " Installazione Screen Saver")
    return "\n".join([
        "backdrop",
        f"window {caption}",
        f"shot {name}-02-confirmation",
        "press Ok",
        "window \"License Agreement\"",
        f"shot {name}-03-license",
        "press Accept",
        f"window {caption}",
        f"shot {name}-04-completion",
        "press Ok",
        "window \"Glimmerwick Orvella\"",
        f"shot {name}-05-credits",
        "press OK",
        "end 0",
    ]) + "\n"


def say(text: str) -> None:
    print(f"\n==> {text}", flush=True)


def place_installer(prefix: Path, package: Path, title: str) -> str:
    name = f"{title}.exe"
    target = session.windows_path_to_unix(prefix, f"{INSTALLER_DIR}\\{name}")
    target.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(package, target)
    return f"{INSTALLER_DIR}\\{name}"


def window_named(display: str, title: str) -> bool:
    """Whether a window of that name shows on the X display."""
    listing = subprocess.run(["xwininfo", "-root", "-tree"], env=dict(os.environ, DISPLAY=display),
                             capture_output=True, text=True, timeout=30).stdout
    return f'"{title}"' in listing


def capture_screen_saver(display: str, title: str, shots: Path, names: list[str], every: float) -> bool:
    """Waits for the started screen saver's window and takes its pictures,
    the first after a few frames of its animation, the others `every`
    seconds apart."""
    # A first start through an emulator takes some seconds.
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        if window_named(display, title):
            time.sleep(2)
            for i, name in enumerate(names):
                if i:
                    time.sleep(every)
                session.capture(display, shots / f"{name}.png", tries=0)
            return True
        time.sleep(0.2)
    return False


def show_file(path: Path, winpath: str) -> None:
    print(f"  {winpath}  ({path.stat().st_size} bytes)")


def print_installed(prefix: Path, title: str) -> None:
    saver = session.windows_path_to_unix(prefix, f"C:\\windows\\{title}.scr")
    data = session.windows_path_to_unix(prefix, f"C:\\ProgramData\\Tarnwell\\Glimmerwick\\{title}")
    say("Installed files")
    if saver.exists():
        show_file(saver, f"C:\\windows\\{title}.scr")
    if data.is_dir():
        for f in sorted(data.iterdir()):
            show_file(f, f"C:\\ProgramData\\Tarnwell\\Glimmerwick\\{title}\\{f.name}")
    if not saver.exists() and not data.exists():
        maker = data.parent.parent
        print(f"  (none; C:\\ProgramData\\{maker.name} {'is left' if maker.exists() else 'is gone too'})")
    pending = regfile.Registry(prefix).value(SESSION_MANAGER, "PendingFileRenameOperations")
    if pending is not None:
        # A running program cannot delete itself; Windows does it at its
        # next start.
        names = [p.removeprefix("\\??\\") for p in pending.data.decode("utf-16-le").split("\0") if p]
        print(f"  to be deleted at the next start of Windows: {', '.join(names)}")

    say("INSTALL.LOG")
    log = data / "INSTALL.LOG"
    if log.exists():
        for line in log.read_bytes().decode("cp1252").split("\r\n"):
            if line:
                print(f"  {line}")
    else:
        print("  (no log)")

    say(f"Registry: {UNINSTALL_KEY}{title}")
    registry = regfile.Registry(prefix)
    values = registry.key(UNINSTALL_KEY + title)
    if values is None:
        print("  (no such key)")
    else:
        known = {n.lower(): n for n in VALUE_NAMES}
        order = [n.lower() for n in VALUE_NAMES if n.lower() in values]
        order += sorted(n for n in values if n not in known)
        for key in order:
            name, value = known.get(key, key), values[key]
            kind = TYPE_NAMES.get(value.type, f"type {value.type}")
            shown = value.dword() if value.type == regfile.REG_DWORD else value.text()
            print(f"  {name:16} {kind:14} {shown}")

    say("Screen saver setting")
    ini = session.windows_path_to_unix(prefix, "C:\\windows\\system.ini")
    boot = regfile.parse_ini(ini.read_bytes()).get("boot", {}) if ini.exists() else {}
    print(f"  system.ini [boot] SCRNSAVE.EXE = {boot.get('scrnsave.exe', '(not set)')}")
    active = registry.value(DESKTOP_KEY, "ScreenSaveActive")
    print(f"  {DESKTOP_KEY}\\ScreenSaveActive = {active.text() if active else '(not set)'}")


def write_docs(shots: Path, docs: Path, name: str) -> None:
    docs.mkdir(parents=True, exist_ok=True)
    for step, how in DOC_SHOTS.get(name, {}).items():
        source = shots / f"{name}-{step}.png"
        if source.exists():
            # Pictures keep more colours than dialogs, undithered (a dithered
            # gradient shows specks).
            colours = ["+dither", "-colors", "256"] if how is SAVER else ["-colors", "128"]
            subprocess.run(["convert", str(source), *how, *colours,
                            f"PNG8:{docs / f'demo-{name}-{step}.png'}"], check=True, timeout=60)
    print(f"  screenshots for the README written to {docs}")


def end_wine(env: dict[str, str], prefix: Path, log: Path, grace: float) -> None:
    """Ends the prefix's programs and wineserver, and by process ID anything
    of the prefix still running after that."""
    session.end_wineserver(env, log, grace=grace)
    for left in session.end_leftovers(prefix):
        print(f"  still running after Wine's server ended, ended by process ID: {left}")
    session.remove_server_folder(prefix)


def run_headless(opts, prefix: Path, installer: str) -> int:
    out = Path(opts.out)
    shots = Path(opts.screens) if opts.screens else out / "screens"
    shots.mkdir(parents=True, exist_ok=True)
    for old in shots.glob(f"{opts.name}-*.png"):
        old.unlink()
    script = out / "steps.txt"
    script.write_text(steps(opts.title, opts.name), encoding="latin-1")
    transcript = out / "transcript.txt"
    log = out / "wine.log"
    with session.Xvfb(out / "xvfb.log") as x:
        env = session.wine_environment(prefix, x.display)
        try:
            say("Installing under Wine, answered by the autopilot")
            code, taken = session.run_autopilot(env, Path(opts.autopilot), script, transcript, shots,
                                                installer, [], log, limit=120)
            result = transcript.read_text("latin-1").rstrip().rsplit("\n", 1)[-1]
            print(f"  autopilot: {result}; screenshots: {', '.join(taken)}")
            if code != 0:
                print(f"  the install did not go as planned (see {transcript} and {log})")
                return 1
            names = [f"{opts.name}-{6 + i:02d}-screen-saver" for i in range(opts.saver_shots)]
            if capture_screen_saver(x.display, opts.title, shots, names, opts.every):
                print(f"  the installed screen saver runs: screenshots {', '.join(names)}")
            else:
                print("  the installed screen saver did not show")
        finally:
            # Ends the screen saver too, and writes the registry out.
            end_wine(env, prefix, log, grace=0)
        print_installed(prefix, opts.title)

        say("Uninstalling (UNINSTAL.EXE /s)")
        uninstaller = f"C:\\ProgramData\\Tarnwell\\Glimmerwick\\{opts.title}\\UNINSTAL.EXE"
        try:
            with open(log, "ab") as wine_log:
                done = subprocess.run(["wine", uninstaller, "/s"], env=env, stdout=wine_log,
                                      stderr=wine_log, timeout=120)
            print(f"  exit code {done.returncode}")
        finally:
            end_wine(env, prefix, log, grace=30)
        print_installed(prefix, opts.title)

        say("Starting Windows again (wineboot -r): what the uninstaller left to it goes")
        try:
            with open(log, "ab") as wine_log:
                subprocess.run(["wineboot", "-r"], env=env, stdout=wine_log, stderr=wine_log, timeout=120)
        finally:
            end_wine(env, prefix, log, grace=30)
        print_installed(prefix, opts.title)
    print(f"\n  screenshots: {shots}")
    if opts.docs:
        write_docs(shots, Path(opts.docs), opts.name)
    return 0


def run_interactive(opts, prefix: Path, installer: str) -> int:
    display = os.environ.get("DISPLAY")
    if not display:
        print("demo: --interactive needs a display ($DISPLAY is not set)", file=sys.stderr)
        return 2
    env = session.wine_environment(prefix, display)
    log = Path(opts.out) / "wine.log"
    say(f"Starting {installer} on {display}: click through the install")
    try:
        with open(log, "ab") as wine_log:
            subprocess.run(["wine", installer], env=env, stdout=wine_log, stderr=wine_log)
        print("  the installer has ended; close the screen saver (move the mouse) to go on")
    finally:
        end_wine(env, prefix, log, grace=600)
    print_installed(prefix, opts.title)
    uninstaller = f"C:\\ProgramData\\Tarnwell\\Glimmerwick\\{opts.title}\\UNINSTAL.EXE"
    if session.windows_path_to_unix(prefix, uninstaller).exists():
        print(f"\n  to uninstall: WINEPREFIX={prefix} LANG=it_IT.UTF-8 wine '{uninstaller}'")
    return 0


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("package")
    parser.add_argument("--title", required=True)
    parser.add_argument("--name", required=True)
    parser.add_argument("--screens")
    parser.add_argument("--saver-shots", type=int, default=1)
    parser.add_argument("--every", type=float, default=0.0)
    parser.add_argument("--autopilot", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--template", required=True)
    parser.add_argument("--interactive", action="store_true")
    parser.add_argument("--docs")
    opts = parser.parse_args()
    reason = session.cannot_run_wine()
    if reason:
        say("Why the sample is not installed")
        print(textwrap.fill(CANNOT_INSTALL.format(reason=reason), width=78,
                            initial_indent="  ", subsequent_indent="  "))
        return CANNOT_RUN
    try:
        return install(opts)
    except (RuntimeError, subprocess.SubprocessError, OSError) as e:
        print(f"demo: Wine failed: {e}", file=sys.stderr)
        return 1


def install(opts) -> int:
    out = Path(opts.out).resolve()
    out.mkdir(parents=True, exist_ok=True)
    opts.out = str(out)
    say("Preparing a Wine prefix (Italian, 32-bit)")
    template = session.ensure_template(Path(opts.template), out / "template.log")
    prefix = out / "prefix"
    if prefix.is_dir():
        end_wine(session.wine_environment(prefix, None), prefix, out / "wine.log", grace=0)
    session.copy_prefix(template, prefix)
    installer = place_installer(prefix, Path(opts.package), opts.title)
    print(f"  {prefix}, installer {installer}")
    if opts.interactive:
        return run_interactive(opts, prefix, installer)
    return run_headless(opts, prefix, installer)


if __name__ == "__main__":
    sys.exit(main())
