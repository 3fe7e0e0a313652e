"""A Wine session for one scenario: its own X display, its own prefix.

Xvfb picks a free display (-displayfd). The prefix is a copy of a template
made once (wineboot -i) and cached; a stamp file says with which Wine and
settings it was made, and a lock keeps two runners from making it at once.
Everything started here is ended here: the autopilot's process group on a
time-out, the prefix's wineserver, Xvfb, and by process ID whatever of the
prefix still runs after its wineserver has gone.

Wine's programs are 32-bit. Where the CPU refuses 32-bit code they run only
through an emulator that scripts/setup registers (qemu-i386, shown by `ps`
under its own name); where even that cannot be had, `cannot_run_wine` says
why and the runner skips its run.
"""

from __future__ import annotations

import ctypes
import fcntl
import os
import re
import shutil
import signal
import subprocess
import time
from pathlib import Path

SCREEN = "1024x768x24"
# Italian Windows, as the installer's users have it: message boxes say
# "Annulla", "S\xec", "No". Wine takes the locale from LANG even where the
# host has no such locale installed.
LOCALE = "it_IT.UTF-8"
TEMPLATE_VERSION = "3"

# Exit code of a run skipped because this machine cannot run Wine's 32-bit
# programs (CTest's SKIP_RETURN_CODE).
SKIPPED = 77
# "fail" makes the harness take this machine as one that cannot run 32-bit
# programs (to try the skip path anywhere); scripts/setup honours it too.
PROBE_VARIABLE = "GLIMMER_WINE_PROBE"

# Settings of the template, as `reg add` arguments. There is no window
# manager on the Xvfb display: Wine manages its windows itself and draws
# their caption bars as Windows does (with managed windows it would also
# wait two seconds for each window to be withdrawn).
TEMPLATE_SETTINGS = [
    ["HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N", "/f"],
]


# The Windows versions a run may claim (runner --windows, scenario key
# `windows`): Wine's "Version" setting (HKCU\\Software\\Wine), the version
# that GetVersionExA then gives, and the common application-data folder of
# that Windows. Wine keeps its own folder layout whatever the version, so for
# XP the run sets XP's folder itself, blanks and all, as the installer meets
# it there. A run that claims no version is Wine's default ("default").
COMMON_APPDATA = "C:\\ProgramData"
WINDOWS = {
    "xp": ("winxp", "5.1", "C:\\Documents and Settings\\All Users\\Application Data"),
    "win7": ("win7", "6.1", COMMON_APPDATA),
    "win10": ("win10", "10.0", COMMON_APPDATA),
}
WINDOWS_ALIASES = {"winxp": "xp", "7": "win7", "10": "win10"}


def windows_version(text: str) -> str:
    """A version as WINDOWS names it ("7" is "win7"); ValueError for none."""
    name = WINDOWS_ALIASES.get(text.lower(), text.lower())
    if name not in WINDOWS:
        raise ValueError(f"unknown Windows version {text!r} (xp, win7 or win10)")
    return name


def localised(text: str, version: str | None) -> str:
    """`text` with Wine's common application-data folder, as written in a
    path and as quoted in a transcript (backslashes doubled), replaced by
    that of the Windows `version` (None: Wine's default)."""
    folder = WINDOWS[version][2] if version else COMMON_APPDATA
    if folder == COMMON_APPDATA:
        return text
    for wine, own in ((COMMON_APPDATA.replace("\\", "\\\\"), folder.replace("\\", "\\\\")),
                      (COMMON_APPDATA, folder)):
        text = re.sub(re.escape(wine), lambda _: own, text, flags=re.IGNORECASE)
    return text


def windows_settings(version: str) -> str:
    """The registry file (regedit's format 5) that makes a prefix claim
    `version`."""
    wine_name, _, folder = WINDOWS[version]
    lines = ["Windows Registry Editor Version 5.00", "",
             "[HKEY_CURRENT_USER\\Software\\Wine]", f'"Version"="{wine_name}"', ""]
    if folder != COMMON_APPDATA:
        data = ",".join(f"{b:02x}" for b in (folder + "\0").encode("utf-16-le"))
        lines += ["[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
                  "User Shell Folders]", f'"Common AppData"=hex(2):{data}', ""]
    return "\r\n".join(lines)


def claim_windows(env: dict[str, str], prefix: Path, version: str, osversion: Path,
                  out: Path) -> list[str]:
    """Makes the prefix claim `version` and asks osversion.exe whether it
    does; returns the faults (none when the version and the folder are the
    ones asked for). What osversion.exe said is kept in out/windows.txt."""
    _, number, folder = WINDOWS[version]
    settings = out / "windows.reg"
    settings.write_text(windows_settings(version), encoding="utf-16")
    windows_path_to_unix(prefix, folder).mkdir(parents=True, exist_ok=True)
    with open(out / "wine.log", "ab") as log:
        subprocess.run(["wine", "reg", "import", unix_path_to_windows(settings)], env=env,
                       stdout=log, stderr=log, timeout=120)
    done = subprocess.run(["wine", str(osversion)], env=env, capture_output=True, timeout=120)
    said = done.stdout.decode("latin-1").strip()
    (out / "windows.txt").write_text(said + "\n", errors="replace")
    m = re.fullmatch(r"version (\d+\.\d+)\.\d+ appdata (.*)", said)
    if not m:
        return [f"osversion.exe said {said!r} (exit code {done.returncode})"]
    faults = []
    if m.group(1) != number:
        faults.append(f"the prefix claims Windows {m.group(1)}, not {number} ({version})")
    if m.group(2).lower() != folder.lower():
        faults.append(f"the common application-data folder is {m.group(2)}, not {folder}")
    return faults


def wine_environment(prefix: Path, display: str | None) -> dict[str, str]:
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("WINE", "LC_")) and k not in ("LANG", "LANGUAGE", "DISPLAY")}
    env.update({
        "WINEPREFIX": str(prefix),
        "WINEARCH": "win32",
        "WINEDEBUG": "-all",
        # No Mono or Gecko installers.
        "WINEDLLOVERRIDES": "mscoree,mshtml=",
        "LANG": LOCALE,
        "LC_ALL": LOCALE,
    })
    if display:
        env["DISPLAY"] = display
    return env


def windows_path_to_unix(prefix: Path, path: str) -> Path:
    """C:\\dist\\X.exe -> PREFIX/drive_c/dist/X.exe (drive C only)."""
    m = re.fullmatch(r"[cC]:\\(.*)", path)
    if not m:
        raise ValueError(f"only paths on drive C: are placed in a prefix: {path!r}")
    parts = [p for p in m.group(1).split("\\") if p]
    return prefix.joinpath("drive_c", *parts)


def unix_path_to_windows(path: Path) -> str:
    """A host path as Wine's drive Z: shows it."""
    return "Z:" + str(path.resolve()).replace("/", "\\")


def _end_with_parent() -> None:
    """In a child before exec: receive SIGTERM when the runner dies, even by
    SIGKILL (a test driver's time-out), so that no X server outlives it. The
    Wine programs of the run then lose their display and end as well."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM, 0, 0, 0)


class Xvfb:
    def __init__(self, log: Path):
        self.log = log
        self.process: subprocess.Popen | None = None
        self.display: str | None = None

    def __enter__(self) -> "Xvfb":
        read_fd, write_fd = os.pipe()
        with open(self.log, "ab") as log:
            self.process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", SCREEN, "-nolisten", "tcp"],
                pass_fds=(write_fd,), stdout=log, stderr=log, stdin=subprocess.DEVNULL,
                preexec_fn=_end_with_parent)
        os.close(write_fd)
        number = b""
        deadline = time.monotonic() + 20
        with os.fdopen(read_fd, "rb", buffering=0) as pipe:
            while not number.endswith(b"\n") and time.monotonic() < deadline:
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip().isdigit():
            self.__exit__(None, None, None)
            raise RuntimeError(f"Xvfb did not start (see {self.log})")
        self.display = ":" + number.strip().decode()
        return self

    def __exit__(self, *exc) -> None:
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def end_wineserver(env: dict[str, str], log: Path, grace: float) -> None:
    """Lets the prefix's programs end by themselves for up to `grace`
    seconds (a started screen saver or uninstaller, for instance), then ends
    whatever is left."""
    with open(log, "ab") as out:
        try:
            subprocess.run(["wineserver", "-w"], env=env, stdout=out, stderr=out, timeout=grace)
        except subprocess.TimeoutExpired:
            pass
        subprocess.run(["wineserver", "-k"], env=env, stdout=out, stderr=out, timeout=30)
        try:
            subprocess.run(["wineserver", "-w"], env=env, stdout=out, stderr=out, timeout=30)
        except subprocess.TimeoutExpired:
            pass


def remove_server_folder(prefix: Path) -> None:
    """Removes the temporary folder that this Wine build names in the
    prefix's "wineserver" file for the server's socket."""
    marker = prefix / "wineserver"
    try:
        name = marker.read_text().strip()
    except OSError:
        return
    if re.fullmatch(r"wine-[A-Za-z0-9]+", name):
        shutil.rmtree(Path("/tmp") / name, ignore_errors=True)


def probe_verdict(status: int, output: str) -> str | None:
    """Why `wine --version`, having ended with `status` and printed
    `output` (in the C locale), shows that this machine cannot start 32-bit
    programs; None when it ran, or failed some other way (a broken Wine, a
    failure; status 126 alone may also be a loader without its execute
    permission)."""
    if status != 0 and "Exec format error" in output:
        return ("this machine's CPU does not run 32-bit programs and no emulator is registered for "
                "them (wine --version: Exec format error); scripts/setup registers qemu-i386 where "
                "binfmt_misc can be mounted and Debian's archive reached")
    return None


def cannot_run_wine() -> str | None:
    """Why Wine's 32-bit programs cannot run on this machine (one line), or
    None when they can."""
    if os.environ.get(PROBE_VARIABLE) == "fail":
        return f"{PROBE_VARIABLE}=fail: this machine taken as one that cannot run 32-bit programs"
    try:
        done = subprocess.run(["wine", "--version"], capture_output=True, text=True, timeout=120,
                              env=dict(os.environ, LC_ALL="C"))
    except (OSError, subprocess.TimeoutExpired):
        return None  # Wine is missing or hangs: the run reports it as a failure
    return probe_verdict(done.returncode, done.stdout + done.stderr)


def processes_of(prefix: Path) -> list[tuple[int, str]]:
    """The processes that run with `prefix` as their WINEPREFIX (Wine's
    programs and wineserver, under an emulator too): process ID and command
    line."""
    want = b"WINEPREFIX=" + os.fsencode(prefix)
    found = []
    for entry in os.scandir("/proc"):
        if not entry.name.isdigit() or int(entry.name) == os.getpid():
            continue
        try:
            environment = Path(entry.path, "environ").read_bytes()
            command = Path(entry.path, "cmdline").read_bytes()
        except OSError:
            continue  # gone, or not ours to read
        if want in environment.split(b"\0"):
            found.append((int(entry.name), command.replace(b"\0", b" ").decode(errors="replace").strip()))
    return found


def end_leftovers(prefix: Path, wait: float = 5.0) -> list[str]:
    """Ends, by process ID, whatever of the prefix still runs `wait` seconds
    after its wineserver was ended; returns those processes ("PID command
    line"), none when all went as it should."""
    deadline = time.monotonic() + wait
    left = processes_of(prefix)
    while left and time.monotonic() < deadline:
        time.sleep(0.2)
        left = processes_of(prefix)
    for pid, _ in left:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    return [f"{pid} {command}" for pid, command in left]


def unmount_below(folder: Path) -> None:
    """Unmounts every file system mounted at or below `folder`, deepest
    first (small disks of this run, or of a run that was killed)."""
    try:
        lines = Path("/proc/mounts").read_text().splitlines()
    except OSError:
        return
    root = str(folder.resolve())
    points = [line.split()[1] for line in lines if len(line.split()) > 1]
    for point in sorted((p for p in points if p == root or p.startswith(root + "/")), reverse=True):
        subprocess.run(["umount", point], capture_output=True)


def fresh_output(out: Path) -> Path:
    """Empties the output folder `out` of a run, whose prefix is
    `out`/prefix: a run that was killed may have left its wineserver, its
    programs or its small disks behind. Returns the folder's full path."""
    out = out.resolve()
    prefix = out / "prefix"
    if prefix.is_dir():
        end_wineserver(wine_environment(prefix, None), Path(os.devnull), grace=0)
        end_leftovers(prefix, wait=0)
        remove_server_folder(prefix)
    unmount_below(out)
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    return out


class Checklist:
    """The checks of a run: each printed as it is made, "pass" or "FAIL"
    with what was seen; `faults` names the ones that failed."""

    def __init__(self) -> None:
        self.faults: list[str] = []

    def check(self, what: str, ok: bool, detail: str = "") -> None:
        print(f"{'pass' if ok else 'FAIL'} {what}")
        if not ok:
            self.faults.append(what)
            if detail:
                print("    " + detail.replace("\n", "\n    "))


def wine_version() -> str:
    return subprocess.run(["wine", "--version"], capture_output=True, text=True,
                          check=True).stdout.strip()


def ensure_template(template_dir: Path, log: Path) -> Path:
    """The template prefix, made when missing or made by another Wine."""
    template_dir = template_dir.resolve()
    template_dir.mkdir(parents=True, exist_ok=True)
    prefix = template_dir / "prefix"
    stamp = template_dir / "stamp"
    want = f"{wine_version()} win32 {LOCALE} {TEMPLATE_VERSION}\n"
    with open(template_dir / "lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if prefix.is_dir() and stamp.exists() and stamp.read_text() == want:
            return prefix
        stamp.unlink(missing_ok=True)
        shutil.rmtree(prefix, ignore_errors=True)
        building = template_dir / "prefix.new"
        shutil.rmtree(building, ignore_errors=True)
        with Xvfb(log) as x:
            env = wine_environment(building, x.display)
            try:
                with open(log, "ab") as out:
                    subprocess.run(["wineboot", "-i"], env=env, stdout=out, stderr=out,
                                   timeout=300, check=True)
                    for setting in TEMPLATE_SETTINGS:
                        subprocess.run(["wine", "reg", "add", *setting], env=env, stdout=out,
                                       stderr=out, timeout=120, check=True)
            finally:
                end_wineserver(env, log, grace=60)
                left = end_leftovers(building)
                remove_server_folder(building)
        if left:
            raise RuntimeError(f"still running after the template's wineserver ended: {'; '.join(left)}")
        # Each copy gets a server folder of its own.
        (building / "wineserver").unlink(missing_ok=True)
        if not (building / "system.reg").exists():
            raise RuntimeError(f"wineboot made no prefix (see {log})")
        building.rename(prefix)
        (template_dir / "shared.manifest").write_text(_shared_manifest(prefix))
        stamp.write_text(want)
        return prefix


# Folders of the prefix that a copy shares with the template through hard
# links: Wine's own DLLs, which neither Wine nor an installer writes to.
# Everything else is copied. A program that changed a shared file in place
# would change the template too; `shared_files_changed` notices that.
SHARED = ("drive_c/windows/system32",)


def copy_prefix(template: Path, target: Path) -> None:
    shutil.rmtree(target, ignore_errors=True)
    shared = {template / s for s in SHARED}
    shutil.copytree(template, target, symlinks=True,
                    ignore=lambda folder, names: [n for n in names if Path(folder, n) in shared])
    for s in SHARED:
        subprocess.run(["cp", "-al", str(template / s), str(target / s)], check=True)


def _shared_manifest(prefix: Path) -> str:
    lines = []
    for s in SHARED:
        for folder, _, names in os.walk(prefix / s):
            for name in names:
                st = os.lstat(os.path.join(folder, name))
                lines.append(f"{os.path.join(folder, name)[len(str(prefix)):]}\t{st.st_size}\t"
                             f"{st.st_mtime_ns}\n")
    return "".join(sorted(lines))


def shared_files_changed(template: Path) -> bool:
    """Whether a file shared with the copies differs from when the template
    was made; the template is then dropped, to be made again."""
    manifest = template.parent / "shared.manifest"
    if manifest.exists() and manifest.read_text() == _shared_manifest(template):
        return False
    (template.parent / "stamp").unlink(missing_ok=True)
    return True


def capture(display: str, target: Path, tries: int = 10) -> None:
    """Takes a picture of the whole screen once two pictures in a row agree
    (Wine shows a window's drawing on the X screen a little later)."""
    env = dict(os.environ, DISPLAY=display)

    def grab() -> bytes:
        return subprocess.run(["import", "-window", "root", "ppm:-"], env=env,
                              capture_output=True, check=True, timeout=60).stdout

    last = grab()
    for _ in range(tries):
        time.sleep(0.1)
        now = grab()
        if now == last:
            break
        last = now
    subprocess.run(["convert", "ppm:-", str(target)], input=last, check=True, timeout=60)


def run_autopilot(env: dict[str, str], autopilot: Path, script: Path, transcript: Path,
                  shots: Path, installer: str, arguments: list[str], log: Path,
                  limit: float) -> tuple[int | None, list[str]]:
    """Runs the autopilot and serves its screenshot requests. Returns its
    exit code (None when it had to be stopped at the time limit) and the
    names of the screenshots taken."""
    shots.mkdir(parents=True, exist_ok=True)
    command = ["wine", str(autopilot), unix_path_to_windows(script),
               unix_path_to_windows(transcript), unix_path_to_windows(shots), installer,
               *arguments]
    taken: list[str] = []
    with open(log, "ab") as out:
        process = subprocess.Popen(command, env=env, stdout=out, stderr=out,
                                   stdin=subprocess.DEVNULL, start_new_session=True)
        deadline = time.monotonic() + limit
        while process.poll() is None:
            if time.monotonic() > deadline:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()
                return None, taken
            for request in sorted(shots.glob("*.req")):
                name = request.stem
                capture(env["DISPLAY"], shots / f"{name}.png")
                taken.append(name)
                request.unlink()
            time.sleep(0.05)
    return process.returncode, taken


def list_changes(template: Path, prefix: Path) -> list[str]:
    """Files under drive_c that the run added, changed or removed, compared
    with the template by size and modification time."""

    def files(root: Path) -> dict[str, tuple[int, int]]:
        found = {}
        base = root / "drive_c"
        for folder, dirs, names in os.walk(base):
            for name in names + [d for d in dirs if os.path.islink(os.path.join(folder, d))]:
                path = os.path.join(folder, name)
                st = os.lstat(path)
                found[os.path.relpath(path, base)] = (st.st_size, st.st_mtime_ns)
        return found

    before, after = files(template), files(prefix)
    lines = []
    for path in sorted(set(before) | set(after)):
        if path not in before:
            lines.append(f"added   C:\\{path.replace('/', chr(92))} ({after[path][0]} bytes)")
        elif path not in after:
            lines.append(f"removed C:\\{path.replace('/', chr(92))}")
        elif before[path] != after[path]:
            lines.append(f"changed C:\\{path.replace('/', chr(92))} ({after[path][0]} bytes)")
    return lines
