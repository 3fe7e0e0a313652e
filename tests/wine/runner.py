#!/usr/bin/python3
"""Runs one end-to-end scenario of the installer under Wine.

    runner.py run SCENARIO --out DIR --template DIR --programs DIR
              --autopilot EXE [--stub EXE --pack GLIMMER_PACK]
              [--show-maker MAKE_SHOW_DATA] [--keep-prefix]
              [--windows xp|win7|win10]
    runner.py template --template DIR
    runner.py probe

A scenario (format in wineharness/scenario.py and README.md) says which
package to build, how the autopilot answers the installer and what to check
afterwards. One run:

 1. makes the template prefix if the cache under --template lacks it;
 2. starts Xvfb on a free display;
 3. copies the template into DIR/prefix;
 4. builds the package with glimmer-pack and places it in the prefix as
    C:\\dist\\<title>.exe (or places a harness program from --programs);
 5. with --windows (or the scenario's key `windows`), makes the prefix claim
    that Windows and has osversion.exe confirm it (check `windows`); runs
    the autopilot on the installer, taking the screenshots it asks for;
 6. lets programs the installer started end, then ends the wineserver and
    Xvfb, whatever happened, and checks that nothing of the prefix still
    runs (what does is ended by process ID and fails the run);
 7. runs the checks and writes DIR/summary.txt.

DIR keeps summary.txt, transcript.txt, shots/*.png, steps.txt, wine.log,
changes.txt (files added or changed on drive C:), the registry and
system.ini as the run left them (after/), and the prefix itself when a
check failed. README.md beside this file describes it all.
Exit code 0 when every check passed, 1 when one failed, 2 when the run
could not be made, 77 when this machine cannot run Wine's 32-bit programs
(no emulator either, or GLIMMER_WINE_PROBE=fail): then one line says why and
nothing is made. `probe` tells only that: exit code 0 when Wine runs, 77
with the reason when it cannot.
"""

from __future__ import annotations

import argparse
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from wineharness import checks, generate, scenario, session  # noqa: E402

HERE = Path(__file__).resolve().parent
CONTENT = HERE / "content"
DEFAULT_INSTALLER_DIR = "C:\\dist"
DEFAULT_LIMIT = 90


class SetupError(Exception):
    pass


# Harness programs placed in packages are padded with zero bytes to this
# size (Windows ignores bytes after a program's last section), so that a
# package's sizes, and the texts that show them, stay the same whatever
# the compiler made of the program.
PROGRAM_SIZE = 32768


def content_file(name: str, programs: Path, padded: Path | None = None,
                 generated: dict[str, Path] | None = None) -> Path:
    """A package file: "@NAME" is the harness program NAME.exe (padded to
    PROGRAM_SIZE in the folder `padded` when given), a name in `generated`
    a file made for the run, anything else a file in content/."""
    if generated and name in generated:
        return generated[name]
    # "@NAME.EXT" (a program with an extension of its own, such as the
    # slideshow's .scr) is taken as it is: a real program whose size is its
    # own, not padded.
    built = name.startswith("@") and "." in name
    path = (programs / name[1:] if built else programs / f"{name[1:]}.exe") if name.startswith("@") \
        else CONTENT / name
    if not path.is_file():
        raise FileNotFoundError(f"no such file: {path}")
    if name.startswith("@") and padded is not None and not built:
        data = path.read_bytes()
        if len(data) > PROGRAM_SIZE:
            raise SetupError(f"{path} is larger than {PROGRAM_SIZE} bytes")
        path = padded / path.name
        padded.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data + bytes(PROGRAM_SIZE - len(data)))
    return path


def windows_name(text: str) -> str:
    """A name given as code page 1252 bytes (one character per byte) as the
    file system shows it."""
    return text.encode("latin-1").decode("cp1252", errors="replace")


def generate_files(sc: scenario.Scenario, out: Path, programs: Path | None = None) -> dict[str, Path]:
    """Makes the scenario's generated files; returns them by name. A kind
    "@NAME" is harness program NAME.exe padded with zero bytes to the size
    (a large program that still runs)."""
    made: dict[str, Path] = {}
    for words in sc.values("generate"):
        name, size = words[0], words[1]
        kind = words[2] if len(words) > 2 else "random"
        if "/" in name or "\\" in name or name.startswith("@") or name in made:
            raise SetupError(f"generate: bad or repeated file name {name!r}")
        try:
            if kind.startswith("@") and programs is not None:
                program = content_file(kind, programs).read_bytes()
                if len(program) > generate.parse_size(size):
                    raise generate.GenerateError(f"{kind} is larger than {size}")
                data = program + bytes(generate.parse_size(size) - len(program))
            else:
                data = generate.make(generate.parse_size(size), kind)
        except generate.GenerateError as e:
            raise SetupError(f"generate {name}: {e}") from None
        path = out / "generated" / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        made[name] = path
    return made


def _new_name(key: str, name: str, made: dict[str, Path]) -> None:
    if "/" in name or "\\" in name or name.startswith("@") or name in made:
        raise SetupError(f"{key}: bad or repeated file name {name!r}")


def make_picture(words: list[str], opts, out: Path, made: dict[str, Path]) -> None:
    """A picture of one colour (`picture NAME SIZE COLOUR`, e.g. `picture
    red.png 320x240 red`) made with ImageMagick, in the format of the name's
    extension."""
    name, size, colour = words
    _new_name("picture", name, made)
    path = out / "generated" / name
    path.parent.mkdir(parents=True, exist_ok=True)
    try:
        subprocess.run(["convert", "-size", size, f"xc:{colour}", str(path)], check=True,
                       capture_output=True, timeout=60)
    except (OSError, subprocess.SubprocessError) as e:
        raise SetupError(f"picture {name}: ImageMagick failed: {e}") from None
    made[name] = path


def make_show_data(words: list[str], opts, out: Path, made: dict[str, Path]) -> None:
    """A slideshow data file (`show-data NAME TITLE SECONDS PICTURE...`)
    made with make-show-data, the data file's own writer; a picture is a
    file made for the run or one of content/."""
    name, title, seconds, pictures = words[0], words[1], words[2], words[3:]
    _new_name("show-data", name, made)
    maker = Path(opts.show_maker or Path(opts.pack or ".").parent / "make-show-data")
    if not maker.is_file():
        raise SetupError(f"make-show-data not found at {maker} (build the native preset)")
    path = out / "generated" / name
    path.parent.mkdir(parents=True, exist_ok=True)
    command = [bytes(maker), bytes(path), b"--title", title.encode("latin-1"), b"--seconds", seconds.encode()]
    command += [bytes(content_file(p, opts.programs, generated=made)) for p in pictures]
    done = subprocess.run(command, capture_output=True, timeout=60)
    if done.returncode != 0:
        raise SetupError(f"show-data {name}: {done.stderr.decode(errors='replace').strip()}")
    made[name] = path


def make_head(words: list[str], opts, out: Path, made: dict[str, Path]) -> None:
    """A file cut short (`head NAME SOURCE BYTES`)."""
    name, source, size = words
    _new_name("head", name, made)
    data = content_file(source, opts.programs, generated=made).read_bytes()
    path = out / "generated" / name
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data[:generate.parse_size(size)])
    made[name] = path


MAKERS = {"picture": make_picture, "show-data": make_show_data, "head": make_head}


def make_files(sc: scenario.Scenario, opts, out: Path, made: dict[str, Path]) -> None:
    """Makes the pictures, data files and cut files the scenario names, in
    the order of its lines, so that each may use the ones before it."""
    lines = sorted((line for key in MAKERS for line in sc.package.get(key, [])), key=lambda line: line.number)
    for line in lines:
        MAKERS[line.words[0]](line.words[1:], opts, out, made)


def set_user_values(sc: scenario.Scenario, env: dict[str, str], log: Path) -> None:
    """Writes the scenario's `reg-dword KEY NAME VALUE` values (KEY under
    HKCU) before the run, as a user's earlier choices."""
    for key, name, value in sc.values("reg-dword"):
        if not key.upper().startswith("HKCU\\"):
            raise SetupError(f"reg-dword: only HKCU keys are set, not {key!r}")
        with open(log, "ab") as out:
            done = subprocess.run(["wine", "reg", "add", windows_name(key), "/v", name, "/t", "REG_DWORD",
                                   "/d", str(int(value, 0)), "/f"], env=env, stdout=out, stderr=out,
                                  timeout=120)
        if done.returncode != 0:
            raise SetupError(f"reg-dword {key} {name}: wine reg add failed (see {log})")


def alter_package(sc: scenario.Scenario, package: Path) -> None:
    """Makes a built package hostile as the scenario asks (forge-title, cut)."""
    forged, count = sc.value("forge-title"), sc.value("cut")
    if forged is None and count is None:
        return
    data = package.read_bytes()
    try:
        if forged is not None:
            data = generate.forge_title(data, sc.value("title").encode("latin-1"),
                                        forged.encode("latin-1"))
        if count is not None:
            data = generate.cut(data, generate.parse_size(count))
    except generate.GenerateError as e:
        raise SetupError(str(e)) from None
    package.write_bytes(data)


def sign_options(out: Path) -> list[bytes]:
    """A throw-away self-signed code-signing certificate for the run, made
    with openssl; glimmer-pack's options that sign with it."""
    folder = out / "signing"
    folder.mkdir(parents=True, exist_ok=True)
    cert, key = folder / "cert.pem", folder / "key.pem"
    try:
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=Glimmer Wine Test", "-addext", "extendedKeyUsage=codeSigning",
                        "-keyout", str(key), "-out", str(cert)],
                       check=True, capture_output=True, timeout=60)
    except (OSError, subprocess.CalledProcessError) as e:
        raise SetupError(f"cannot make a signing certificate with openssl: {e}") from None
    return [b"--sign-cert", bytes(cert), b"--sign-key", bytes(key)]


def build_package(sc: scenario.Scenario, opts, out: Path) -> tuple[Path, str]:
    """Builds the scenario's package; returns it and its file name."""
    if not opts.pack or not Path(opts.pack).is_file():
        raise SetupError(f"glimmer-pack not found at {opts.pack} (build the native preset)")
    if sc.value("stub"):
        opts.stub = str(content_file("@" + sc.value("stub"), opts.programs))
    if not opts.stub or not Path(opts.stub).is_file():
        raise SetupError(f"stub not found at {opts.stub} (build the win32 preset)")
    title = sc.value("title")
    name = sc.value("installer-name", title + ".exe")
    package = out / "package" / windows_name(name)
    package.parent.mkdir(parents=True, exist_ok=True)
    raw = lambda text: text.encode("latin-1")  # noqa: E731
    padded = out / "content"
    file = lambda name: bytes(content_file(name, opts.programs, padded, opts.generated))  # noqa: E731
    command = [raw(opts.pack), b"build", b"-o", bytes(package), b"--stub", raw(opts.stub),
               b"--title", raw(title),
               b"--saver", file(sc.value("saver", "@probe")),
               b"--data", file(sc.value("data", "data.dat")),
               b"--uninstaller", file(sc.value("uninstaller", "@probe"))]
    for (media,) in sc.values("media"):
        command += [b"--media", file(media)]
    if sc.value("license"):
        command += [b"--license", file(sc.value("license"))]
    encoding = sc.value("encoding", "pack")
    if encoding not in ("store", "pack"):
        raise SetupError(f"encoding must be store or pack, not {encoding!r}")
    command.append(b"--" + encoding.encode())
    if "sign" in sc.package:
        command += sign_options(out)
    with open(out / "pack.log", "wb") as log:
        done = subprocess.run(command, stdout=log, stderr=log, timeout=60)
        if done.returncode == 0 and "sign" in sc.package:
            done = subprocess.run([raw(opts.pack), b"verify", bytes(package)], capture_output=True, timeout=60)
            log.write(done.stdout + done.stderr)
            if b"signed (Authenticode)" not in done.stdout:
                raise SetupError(f"the package is not signed (see {out / 'pack.log'})")
    if done.returncode != 0:
        raise SetupError(f"glimmer-pack failed (see {out / 'pack.log'})")
    alter_package(sc, package)
    return package, name


def prepare_installer(sc: scenario.Scenario, opts, out: Path) -> tuple[Path, str, list[str]]:
    """The installer to run: its file, its name and its arguments."""
    if sc.value("program"):
        words = sc.values("program")[0]
        source = content_file("@" + words[0], opts.programs)
        return source, sc.value("installer-name", words[0] + ".exe"), words[1:]
    package, name = build_package(sc, opts, out)
    return package, name, []


def place_files(sc: scenario.Scenario, opts, prefix: Path, installer: Path, name: str) -> str:
    """Puts the installer and the scenario's other files into the prefix;
    returns the installer's Windows path."""
    folder = sc.value("installer-dir", DEFAULT_INSTALLER_DIR).rstrip("\\")
    target = session.windows_path_to_unix(prefix, f"{folder}\\{windows_name(name)}")
    target.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(installer, target)
    for winpath, file in sc.values("put"):
        where = session.windows_path_to_unix(prefix, windows_name(winpath))
        where.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(content_file(file, opts.programs, prefix.parent / "content", opts.generated),
                        where)
    for winpath, wintarget in sc.values("link"):
        # A symbolic link to a file of drive C: (one put there above), or to
        # a folder, made when missing. Wine shows a link to a folder as a
        # reparse point, as Windows shows a junction; a link to a file it
        # shows as the file.
        where = session.windows_path_to_unix(prefix, windows_name(winpath))
        goal = session.windows_path_to_unix(prefix, windows_name(wintarget))
        if not goal.is_file():
            goal.mkdir(parents=True, exist_ok=True)
        where.parent.mkdir(parents=True, exist_ok=True)
        where.symlink_to(goal, target_is_directory=goal.is_dir())
    return f"{folder}\\{name}"


def mount_small_disks(sc: scenario.Scenario, prefix: Path) -> list[Path]:
    """Makes each "small-disk" folder a file system of its own of the given
    size, so that the installer meets a full disk for real; returns the
    mount points."""
    mounts = []
    for winpath, size in sc.values("small-disk"):
        where = session.windows_path_to_unix(prefix, windows_name(winpath))
        where.mkdir(parents=True, exist_ok=True)
        try:
            bytes_ = generate.parse_size(size)
        except generate.GenerateError as e:
            raise SetupError(f"small-disk {winpath}: {e}") from None
        done = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={bytes_},mode=0755", "tmpfs", str(where)],
                              capture_output=True, text=True)
        if done.returncode != 0:
            raise SetupError(f"small-disk {winpath}: cannot mount a tmpfs (root needed): {done.stderr.strip()}")
        mounts.append(where)
    return mounts


def keep_after(prefix: Path, out: Path) -> None:
    after = out / "after"
    after.mkdir(exist_ok=True)
    for name, source in (("system.reg", prefix / "system.reg"), ("user.reg", prefix / "user.reg"),
                         ("system.ini", prefix / "drive_c" / "windows" / "system.ini")):
        if source.exists():
            shutil.copyfile(source, after / name)


class Phases:
    """How long each part of a run took, for timing.txt."""

    def __init__(self):
        self.last = time.monotonic()
        self.lines: list[str] = []

    def done(self, what: str) -> None:
        now = time.monotonic()
        self.lines.append(f"{now - self.last:7.2f} s  {what}")
        self.last = now


def windows_asked(sc: scenario.Scenario, opts) -> str | None:
    """The Windows version the run claims: --windows or the scenario's
    `windows`, which must then agree; None for Wine's default."""
    try:
        asked = {session.windows_version(v) for v in (opts.windows, sc.value("windows")) if v}
    except ValueError as e:
        raise SetupError(str(e)) from None
    if len(asked) > 1:
        raise SetupError(f"--windows {opts.windows} and the scenario's windows {sc.value('windows')} differ")
    return asked.pop() if asked else None


def run(opts) -> int:
    started = time.monotonic()
    phases = Phases()
    sc = scenario.load(Path(opts.scenario))
    checks.validate(sc)
    version = windows_asked(sc, opts)
    # Files, links and disks placed in the data folder go to the one of the
    # Windows the run claims.
    for key in ("put", "link", "small-disk"):
        for line in sc.package.get(key, []):
            line.words = [line.words[0]] + [session.localised(w, version) for w in line.words[1:]]
    out = session.fresh_output(Path(opts.out))
    template = session.ensure_template(Path(opts.template), out / "template.log")
    phases.done("template")

    script = out / "steps.txt"
    script.write_bytes(sc.steps)
    transcript = out / "transcript.txt"
    opts.generated = generate_files(sc, out, opts.programs)
    make_files(sc, opts, out, opts.generated)
    source, name, arguments = prepare_installer(sc, opts, out)
    phases.done("package")
    prefix = out / "prefix"
    session.copy_prefix(template, prefix)
    installer = place_files(sc, opts, prefix, source, name)
    mount_small_disks(sc, prefix)
    phases.done("prefix copy")
    limit = float(sc.value("limit", str(DEFAULT_LIMIT)))
    claimed: list[str] = []

    with session.Xvfb(out / "xvfb.log") as x:
        phases.done("Xvfb start")
        env = session.wine_environment(prefix, x.display)
        native = [name for words in sc.values("native-dlls") for name in words]
        if native:
            env["WINEDLLOVERRIDES"] += ";" + ",".join(native) + "=n,b"
        try:
            if version:
                claimed = session.claim_windows(env, prefix, version,
                                                content_file("@osversion", opts.programs), out)
                phases.done(f"Windows {version} claimed")
            set_user_values(sc, env, out / "wine.log")
            code, shots = session.run_autopilot(
                env, Path(opts.autopilot), script, transcript, out / "shots",
                windows_name(installer), arguments, out / "wine.log", limit)
            phases.done("autopilot run")
        finally:
            session.end_wineserver(env, out / "wine.log", grace=15)
            left = session.end_leftovers(prefix)
            session.remove_server_folder(prefix)
            phases.done("wineserver end")
    ran = time.monotonic() - started

    data = transcript.read_bytes() if transcript.exists() else b""
    if code is None:
        data += f"result fail: the run took longer than {limit:g} s\n".encode()
    changes = session.list_changes(template, prefix)
    if session.shared_files_changed(template):
        changes.append("changed shared Wine files in place (template dropped)")
    (out / "changes.txt").write_text("".join(line + "\n" for line in changes))
    keep_after(prefix, out)
    ctx = checks.Context(sc, out, prefix, template,
                         lambda f: content_file(f, opts.programs, out / "content", opts.generated),
                         data, changes, windows=version)
    results = checks.run_checks(ctx)
    if version:
        results.insert(0, (scenario.Line(0, ["windows", version]), claimed))
    results.append((scenario.Line(0, ["nothing-left-running"]),
                    [f"still running after the wineserver ended (ended by process ID): {p}"
                     for p in left]))
    session.unmount_below(prefix)
    phases.done("checks")
    (out / "timing.txt").write_text("".join(line + "\n" for line in phases.lines))

    failed = [r for r in results if r[1]]
    report = [f"scenario {sc.name}: {sc.description}"]
    for line, faults in results:
        what = " ".join(scenario.quote(w) if " " in w or not w.isprintable() else w
                        for w in line.words)
        report.append(f"{'FAIL' if faults else 'pass'} {what}")
        report += ["    " + f.replace("\n", "\n    ") for f in faults]
    report.append(f"{len(results) - len(failed)} passed, {len(failed)} failed "
                  f"({ran:.1f} s to run, {time.monotonic() - started:.1f} s in all)")
    report.append(f"transcript: {transcript}")
    if shots:
        report.append(f"screenshots: {', '.join(str(out / 'shots' / (s + '.png')) for s in shots)}")
    text = "\n".join(report) + "\n"
    (out / "summary.txt").write_text(text, errors="replace")
    sys.stdout.write(text)
    if not failed and not opts.keep_prefix:
        shutil.rmtree(prefix, ignore_errors=True)
        # Generated files can be made again; large ones need not stay.
        shutil.rmtree(out / "generated", ignore_errors=True)
    elif failed:
        print(f"prefix kept for inspection: {prefix}")
    return 1 if failed else 0


def main() -> int:
    # A termination request ends the run through its clean-up code.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(3))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    r = sub.add_parser("run")
    r.add_argument("scenario")
    r.add_argument("--out", required=True)
    r.add_argument("--template", required=True)
    r.add_argument("--programs", required=True, type=Path)
    r.add_argument("--autopilot", required=True)
    r.add_argument("--stub")
    r.add_argument("--pack")
    r.add_argument("--show-maker", help="make-show-data (default: beside --pack)")
    r.add_argument("--keep-prefix", action="store_true")
    r.add_argument("--windows", help="the Windows version the prefix claims: xp, win7 or win10")
    t = sub.add_parser("template")
    t.add_argument("--template", required=True)
    sub.add_parser("probe")
    opts = parser.parse_args()
    reason = session.cannot_run_wine()
    if reason:
        print(f"skipped: {reason}")
        return session.SKIPPED
    try:
        if opts.command == "probe":
            print(f"Wine runs: {session.wine_version()}")
            return 0
        if opts.command == "template":
            prefix = session.ensure_template(Path(opts.template), Path(opts.template) / "make.log")
            print(f"template prefix: {prefix}")
            return 0
        return run(opts)
    except (SetupError, scenario.ScenarioError, checks.CheckError, RuntimeError,
            subprocess.SubprocessError, OSError) as e:
        print(f"runner: {e}", file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main())
