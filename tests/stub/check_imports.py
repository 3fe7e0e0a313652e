#!/usr/bin/python3
"""Refuses Windows programs that would not start on Windows XP.

    check_imports.py --cxx I686_G++ --nm I686_NM --crt-lib LIBMSVCR70.A PROGRAM...

A program whose import table names a function that Windows XP lacks does
not start there at all: the loader refuses it before its first instruction,
so no fallback in the program can help. Anything newer must be looked up at
run time (GetProcAddress) instead. For each program this lists its imports
and refuses:

  - a subsystem version above XP's 5.1 in the PE header: XP's loader takes
    such a file for no Windows program at all;
  - a library that Windows XP does not ship (ALLOWED_LIBRARIES), such as
    the api-ms-win-* sets or DWMAPI.DLL;
  - a system function that the mingw-w64 headers declare only for a later
    Windows: the names that the headers give as functions with _WIN32_WINNT
    (and WINVER, _WIN32_IE, NTDDI_VERSION) at Windows 10 but not at XP SP3,
    found by running the preprocessor both ways, plus the later functions
    that the headers declare for XP all the same (LATER_FUNCTIONS, and the
    K32 calls);
  - a C runtime function (MSVCRT.DLL) that XP's runtime lacks: XP's
    MSVCRT.DLL is the Visual C++ 7.0 runtime, so a name that mingw-w64's
    import library for MSVCR70.DLL does not export is a later addition.

Exit code 0 when every program passes, 1 when one is refused, 2 when the
check itself could not be made.
"""

from __future__ import annotations

import argparse
import re
import struct
import subprocess
import sys
from pathlib import Path

# Libraries of every Windows XP, by upper-case name.
ALLOWED_LIBRARIES = {
    "ADVAPI32.DLL", "COMCTL32.DLL", "COMDLG32.DLL", "GDI32.DLL", "GDIPLUS.DLL", "KERNEL32.DLL",
    "MSIMG32.DLL", "MSVCRT.DLL", "NTDLL.DLL", "OLE32.DLL", "OLEAUT32.DLL", "SHELL32.DLL",
    "SHFOLDER.DLL", "SHLWAPI.DLL", "USER32.DLL", "VERSION.DLL", "WINMM.DLL",
}

# Later functions that the headers declare for XP all the same: the library
# search calls of Windows 8 (on Vista and 7 only with an update); calls of
# Vista, 7 or 8 that the headers give to XP because XP's 64-bit edition or
# Server 2003 has them; SHCreateMemStream, which XP's SHLWAPI.DLL exports by
# ordinal only; the K32 process-status calls of Windows 7 (K32_PREFIX); and
# the GDI+ 1.1 calls of Windows Vista (XP's GDIPLUS.DLL is 1.0).
K32_PREFIX = "K32"
LATER_FUNCTIONS = {
    "AddDllDirectory", "RemoveDllDirectory", "SetDefaultDllDirectories",
    "GetCurrentProcessorNumber", "GetSystemTimePreciseAsFileTime", "GetThreadId",
    "InterlockedCompareExchange64", "RegGetValueA", "RegGetValueW", "SetThreadErrorMode",
    "Wow64DisableWow64FsRedirection", "Wow64RevertWow64FsRedirection", "SHCreateMemStream",
    "GdipBitmapApplyEffect", "GdipBitmapConvertFormat", "GdipBitmapCreateApplyEffect",
    "GdipBitmapGetHistogram", "GdipBitmapGetHistogramSize", "GdipConvertToEmfPlus",
    "GdipConvertToEmfPlusToFile", "GdipConvertToEmfPlusToStream", "GdipCreateEffect",
    "GdipDeleteEffect", "GdipDrawImageFX", "GdipFindFirstImageItem", "GdipFindNextImageItem",
    "GdipGetEffectParameterSize", "GdipGetEffectParameters", "GdipGetImageItemData",
    "GdipGraphicsSetAbort", "GdipImageSetAbort", "GdipInitializePalette", "GdipSetEffectParameters",
}

# The headers whose declarations are compared, and the two targets.
HEADERS = ["windows.h", "shlobj.h", "shellapi.h", "shlwapi.h", "mmsystem.h", "commdlg.h",
           "commctrl.h", "objbase.h", "winver.h", "gdiplus.h"]
XP_SP3 = ["_WIN32_WINNT=0x0501", "WINVER=0x0501", "_WIN32_IE=0x0603", "NTDDI_VERSION=0x05010300"]
WINDOWS_10 = ["_WIN32_WINNT=0x0A00", "WINVER=0x0A00", "_WIN32_IE=0x0A00", "NTDDI_VERSION=0x0A000000"]

# The highest subsystem version in a PE header that XP's loader accepts.
XP_SUBSYSTEM = (5, 1)


class CheckError(Exception):
    pass


def declared_functions(cxx: str, definitions: list[str]) -> set[str]:
    """Every name that the preprocessed headers follow with "(": the
    functions they declare (and macros' and types' words that are the same
    either way, which the comparison cancels)."""
    source = "".join(f"#include <{h}>\n" for h in HEADERS)
    command = [cxx, "-std=c++20", "-E", "-P", "-x", "c++", "-U_WIN32_WINNT", "-UWINVER"]
    command += [f"-D{d}" for d in definitions] + ["-"]
    done = subprocess.run(command, input=source, capture_output=True, text=True)
    if done.returncode != 0:
        raise CheckError(f"{cxx} could not preprocess the Windows headers:\n{done.stderr[-2000:]}")
    return set(re.findall(r"\b([A-Za-z_]\w*)\s*\(", done.stdout))


def library_exports(nm: str, library: Path) -> set[str]:
    """The functions that an import library's DLL exports, by the __imp_
    symbols of its members."""
    done = subprocess.run([nm, "-g", "--defined-only", str(library)], capture_output=True, text=True)
    if done.returncode != 0:
        raise CheckError(f"{nm} could not read {library}:\n{done.stderr[-2000:]}")
    names = set()
    for line in done.stdout.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[2].startswith("__imp__"):
            names.add(re.sub(r"@\d+$", "", parts[2][len("__imp__"):]))
    if len(names) < 100:
        raise CheckError(f"{library} exports only {len(names)} functions: not a C runtime's import library")
    return names


# ---- PE import tables -------------------------------------------------------

class Image:
    """A 32-bit PE file: its bytes, data directories and sections."""

    def __init__(self, data: bytes, name: str):
        self.data, self.name = data, name
        if data[:2] != b"MZ" or len(data) < 0x40:
            raise CheckError(f"{name}: not a Windows program")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise CheckError(f"{name}: no PE header")
        sections, optional_size = self.u16(pe + 6), self.u16(pe + 20)
        optional = pe + 24
        if self.u16(optional) != 0x10B:
            raise CheckError(f"{name}: not a 32-bit program")
        self.subsystem_version = (self.u16(optional + 48), self.u16(optional + 50))
        count = self.u32(optional + 92)
        self.directories = [(self.u32(optional + 96 + 8 * i), self.u32(optional + 100 + 8 * i))
                            for i in range(min(count, 16))]
        table = optional + optional_size
        self.sections = []
        for i in range(sections):
            at = table + 40 * i
            virtual_size, address, raw_size, raw_at = struct.unpack_from("<4I", data, at + 8)
            self.sections.append((address, max(virtual_size, raw_size), raw_at, raw_size))

    def u16(self, at: int) -> int:
        return struct.unpack_from("<H", self.data, at)[0]

    def u32(self, at: int) -> int:
        if at < 0 or at + 4 > len(self.data):
            raise CheckError(f"{self.name}: import table reaches beyond the file")
        return struct.unpack_from("<I", self.data, at)[0]

    def offset(self, rva: int) -> int:
        for address, size, raw_at, raw_size in self.sections:
            if address <= rva < address + size and rva - address < raw_size:
                return raw_at + rva - address
        raise CheckError(f"{self.name}: address {rva:#x} lies in no section")

    def text(self, rva: int) -> str:
        at = self.offset(rva)
        end = self.data.index(b"\0", at)
        return self.data[at:end].decode("latin-1")

    def thunks(self, rva: int) -> list[str]:
        """The names (or "#ordinal") of a zero-ended list of 32-bit thunks."""
        names, at = [], self.offset(rva)
        while True:
            value = self.u32(at)
            if value == 0:
                return names
            names.append(f"#{value & 0xFFFF}" if value & 0x80000000 else self.text(value + 2))
            at += 4


def imports(image: Image) -> list[tuple[str, str, str]]:
    """(library, function, how) for every import: "load" for those the
    loader binds before the program starts, "delay" for delay-loaded ones."""
    found = []
    if len(image.directories) > 1 and image.directories[1][0]:
        at = image.offset(image.directories[1][0])
        while True:
            lookup, _, _, name, bound = (image.u32(at + 4 * i) for i in range(5))
            if name == 0:
                break
            library = image.text(name)
            found += [(library, f, "load") for f in image.thunks(lookup or bound)]
            at += 20
    if len(image.directories) > 13 and image.directories[13][0]:
        at = image.offset(image.directories[13][0])
        while True:
            name, names = image.u32(at + 4), image.u32(at + 16)
            if name == 0:
                break
            library = image.text(name)
            found += [(library, f, "delay") for f in image.thunks(names)]
            at += 32
    return found


def refusals(found: list[tuple[str, str, str]], later: set[str], crt: set[str]) -> list[str]:
    """Why each import keeps the program off Windows XP."""
    reasons = []
    for library, function, how in found:
        upper = library.upper()
        where = f"{library}!{function}"
        if upper not in ALLOWED_LIBRARIES:
            reasons.append(f"{where}: {library} is not a library of Windows XP")
        elif upper == "MSVCRT.DLL" and not function.startswith("#") and function not in crt:
            reasons.append(f"{where}: not in the C runtime of Windows XP (MSVCR70.DLL)")
        elif (function in later or function.startswith(K32_PREFIX)):
            # Delay-loaded ones too: their first call fails on XP.
            reasons.append(f"{where}: declared only for Windows later than XP")
    return reasons


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cxx", required=True, help="the i686 mingw-w64 C++ compiler")
    parser.add_argument("--nm", required=True, help="the i686 mingw-w64 nm")
    parser.add_argument("--crt-lib", required=True, type=Path, help="mingw-w64's libmsvcr70.a")
    parser.add_argument("programs", nargs="+", type=Path)
    opts = parser.parse_args()
    try:
        later = (declared_functions(opts.cxx, WINDOWS_10) - declared_functions(opts.cxx, XP_SP3)) | LATER_FUNCTIONS
        if "GetTickCount64" not in later:
            raise CheckError("the headers' comparison missed GetTickCount64: the compiler ignores the target version")
        crt = library_exports(opts.nm, opts.crt_lib)
        failed = False
        for program in opts.programs:
            image = Image(program.read_bytes(), program.name)
            found = imports(image)
            reasons = refusals(found, later, crt)
            if image.subsystem_version > XP_SUBSYSTEM:
                reasons.insert(0, "subsystem version %d.%d: XP starts only programs of 5.1 or less"
                               % image.subsystem_version)
            libraries: dict[str, list[str]] = {}
            for library, function, how in found:
                libraries.setdefault(library, []).append(function + (" (delay-loaded)" if how == "delay" else ""))
            verdict = (f"refused, {len(reasons)} imports newer than Windows XP" if reasons
                       else "none newer than Windows XP")
            print(f"{program.name}: {len(libraries)} libraries, {len(found)} functions, {verdict}")
            for library, functions in libraries.items():
                print(f"  {library}: {' '.join(functions)}")
            for reason in reasons:
                print(f"  refused: {reason}")
            failed = failed or bool(reasons)
        return 1 if failed else 0
    except (CheckError, OSError, ValueError, struct.error) as e:
        print(f"check_imports: {e}", file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main())
