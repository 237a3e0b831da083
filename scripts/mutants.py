#!/usr/bin/env python3
"""Plants the faults listed in a mutants file into the sources, one at a time, rebuilds, runs the
suites that should notice each, and prints which faults survived.

    scripts/mutants.py [--list tests/mutants.list] [--build build-mutants] [--only WORD]
                       [--suite NAME]... [--jobs N]

Each entry of the list is a block of lines separated by a blank line:

    # what the fault is, in words (the first comment line names it in the report)
    file: src/engine/example.cpp
    find: the exact text to change (it must occur once in the file)
    replace: what it becomes
    suites: faults archive         (ctest names that should fail)

`find` and `replace` may be given more than once for one fault (all pairs are applied); "\\n" in
them stands for a line break, and leading blanks of the next line follow it as written. A fault
survives when every suite named passes with it planted; a fault whose source does not build is
reported apart (a compiler is not a test). The sources are restored after every fault, also when
the script is interrupted. Exit status: 0 when no fault survived, 1 otherwise, 2 for a bad list.
"""

import argparse
import os
import re
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def unescape(text):
    # "\n" stands for a line break, so that a fault can span lines.
    return text.replace("\\n", "\n")


def parse(list_path):
    faults = []
    block = []
    for number, line in enumerate(list_path.read_text(encoding="utf-8").splitlines() + [""], 1):
        if line.strip():
            block.append((number, line))
            continue
        if not block:
            continue
        if all(text.startswith("#") for _, text in block):  # a comment of the list's own
            block = []
            continue
        fault = {"words": [], "pairs": [], "suites": [], "line": block[0][0]}
        pending_find = None
        for at, text in block:
            if text.startswith("#"):
                fault["words"].append(text.lstrip("#").strip())
            elif text.startswith("file:"):
                fault["file"] = text[5:].strip()
            elif text.startswith("find:"):
                pending_find = unescape(text[5:].strip())
            elif text.startswith("replace:"):
                if pending_find is None:
                    raise SystemExit(f"{list_path}:{at}: replace without find")
                fault["pairs"].append((pending_find, unescape(text[8:].strip())))
                pending_find = None
            elif text.startswith("suites:"):
                fault["suites"] = text[7:].split()
            else:
                raise SystemExit(f"{list_path}:{at}: cannot read {text!r}")
        if not fault.get("file") or not fault["pairs"] or not fault["suites"] or not fault["words"]:
            raise SystemExit(f"{list_path}:{fault['line']}: a fault needs words, file, find/replace and suites")
        faults.append(fault)
        block = []
    return faults


def targets_for(suites):
    # Only what the suites run is rebuilt: a fault in the core library relinks every program.
    targets = {"pikora-cli", "pikora-thumbnailer", "pikora_faultshim"}
    for suite in suites:
        if suite == "install":
            return []  # everything: it installs the whole build
        if suite in ("x11_keyboard", "translations"):
            targets.add("pikora")
        if not suite.startswith(("x11_", "cluster_")):
            targets.add("tst_" + suite)
    return sorted(targets)


def build_command(build, jobs, suites=None):
    targets = targets_for(suites) if suites else []
    return ["cmake", "--build", str(build), "-j", jobs] + (["--target"] + targets if targets else [])


def run(command, cwd, log):
    result = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    log.write(f"$ {' '.join(command)}\n{result.stdout}\n")
    return result.returncode


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--list", default=str(ROOT / "tests" / "mutants.list"))
    parser.add_argument("--build", default=str(ROOT / "build-mutants"))
    parser.add_argument("--only", help="plant only the faults whose words contain this text")
    parser.add_argument("--suite", action="append", default=[],
                        help="plant only the faults that name this suite (may be given more than once)")
    parser.add_argument("--jobs", default=str(os.cpu_count() or 2))
    arguments = parser.parse_args()

    faults = parse(Path(arguments.list))
    if arguments.only:
        faults = [f for f in faults if arguments.only.lower() in " ".join(f["words"]).lower()]
    if arguments.suite:
        faults = [f for f in faults if set(arguments.suite) & set(f["suites"])]
    # Every fault must still fit the code before anything is planted.
    stale = []
    for fault in faults:
        text = (ROOT / fault["file"]).read_text(encoding="utf-8")
        for find, _ in fault["pairs"]:
            if text.count(find) != 1:
                stale.append(f"{fault['file']}: {fault['words'][0]} ({text.count(find)} matches of {find!r})")
    if stale:
        print("faults that no longer fit the code:\n  " + "\n  ".join(stale), file=sys.stderr)
        return 2

    build = Path(arguments.build)
    log_path = build / "mutants.log"
    build.mkdir(parents=True, exist_ok=True)
    with open(log_path, "w", encoding="utf-8") as log:
        if run(["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=RelWithDebInfo"], ROOT, log) != 0:
            print(f"configuring failed; see {log_path}", file=sys.stderr)
            return 2
        if run(["cmake", "--build", str(build), "-j", arguments.jobs], ROOT, log) != 0:
            print(f"the unchanged sources do not build; see {log_path}", file=sys.stderr)
            return 2
        # Suites that fail without any fault would kill every fault: they must pass first.
        suites = sorted({s for f in faults for s in f["suites"]})
        if run(["ctest", "-R", "^(" + "|".join(map(re.escape, suites)) + ")$", "-j", arguments.jobs], build, log) != 0:
            print(f"the suites fail without any fault planted; see {log_path}", file=sys.stderr)
            return 2

        killed, survived, unbuilt = [], [], []
        for number, fault in enumerate(faults, 1):
            path = ROOT / fault["file"]
            original = path.read_text(encoding="utf-8")
            started = time.monotonic()
            try:
                planted = original
                for find, replace in fault["pairs"]:
                    planted = planted.replace(find, replace, 1)
                path.write_text(planted, encoding="utf-8")
                log.write(f"\n=== {number}: {fault['words'][0]}\n")
                if run(build_command(build, arguments.jobs, fault["suites"]), ROOT, log) != 0:
                    outcome, bucket = "did not build", unbuilt
                else:
                    pattern = "^(" + "|".join(map(re.escape, fault["suites"])) + ")$"
                    failed = run(["ctest", "-R", pattern, "-j", arguments.jobs], build, log) != 0
                    outcome, bucket = ("killed", killed) if failed else ("SURVIVED", survived)
            finally:
                path.write_text(original, encoding="utf-8")
            bucket.append(fault)
            print(f"{number:3} {outcome:13} {time.monotonic() - started:5.0f} s  {fault['words'][0]}", flush=True)
        # Back to the real code, so the build folder is not left with the last fault in it.
        run(["cmake", "--build", str(build), "-j", arguments.jobs], ROOT, log)

    print(f"\n{len(killed)} of {len(faults)} faults killed, {len(survived)} survived, "
          f"{len(unbuilt)} did not build (log: {log_path})")
    for fault in survived:
        print(f"  survived: {fault['words'][0]} ({fault['file']}; suites {' '.join(fault['suites'])})")
    return 1 if survived else 0


if __name__ == "__main__":
    sys.exit(main())
