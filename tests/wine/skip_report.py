#!/usr/bin/python3
"""Checks what CTest reports on a machine that cannot run Wine's 32-bit
programs, whatever this machine can do.

    skip_report.py --ctest CTEST --tests CTestTestfile.cmake

Runs a copy of the Wine tests' CTest file (the template and every scenario,
as the build defines them) with GLIMMER_WINE_PROBE=fail, as a CTest of its
own in a folder of its own, and checks that CTest reports every one of them
as skipped (not failed, not "Not Run" for a missing fixture), each with one
line of output that says why, and exits 0. Exit code 0 when it does, 1 with
the faults found when it does not.
"""

from __future__ import annotations

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from wineharness import session  # noqa: E402


def faults_of_report(code: int, listing: str, junit: ElementTree.Element) -> list[str]:
    faults = []
    if code != 0:
        faults.append(f"ctest exited {code}, not 0")
    cases = junit.findall("testcase")
    names = {case.get("name") for case in cases}
    if "wine.template" not in names or not any(n != "wine.template" for n in names):
        faults.append(f"the template and the scenarios were not all run: {sorted(names)}")
    for case in cases:
        name = case.get("name")
        output = (case.findtext("system-out") or "").strip().splitlines()
        skipped = case.find("skipped")
        # CTest also lists a test whose fixture failed as "skipped", with
        # another message.
        if skipped is None or not skipped.get("message", "").startswith("SKIP_RETURN_CODE="):
            how = case.get("status") if skipped is None else skipped.get("message")
            faults.append(f"{name}: reported as {how}, not skipped by its own exit code")
        if len(output) != 1 or not output[0].startswith(f"skipped: {session.PROBE_VARIABLE}=fail"):
            faults.append(f"{name}: its output is not one line that says why: {output}")
    for word in ("Not Run", "Failed"):
        if word in listing:
            faults.append(f"ctest's report says {word!r}")
    return faults


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--ctest", required=True)
    parser.add_argument("--tests", required=True, type=Path)
    opts = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="skip-report-") as folder:
        shutil.copyfile(opts.tests, Path(folder, "CTestTestfile.cmake"))
        junit = Path(folder, "junit.xml")
        done = subprocess.run([opts.ctest, "--test-dir", folder, "-L", "^wine$", "--output-junit",
                               str(junit)],
                              env=dict(os.environ, **{session.PROBE_VARIABLE: "fail"}),
                              capture_output=True, text=True, timeout=240)
        print(done.stdout, end="")
        try:
            report = ElementTree.parse(junit).getroot()
        except (OSError, ElementTree.ParseError) as e:
            print(f"skip_report: no JUnit report from ctest: {e}\n{done.stderr}")
            return 1
    faults = faults_of_report(done.returncode, done.stdout, report)
    for fault in faults:
        print(f"FAULT {fault}")
    if not faults:
        print(f"skip_report: {len(report.findall('testcase'))} Wine tests reported as skipped, "
              "each with one line that says why; ctest exit code 0")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
