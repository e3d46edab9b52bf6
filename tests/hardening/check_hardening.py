#!/usr/bin/env python3
"""Checks that each program named on the command line was built hardened:
checked string and memory calls (_FORTIFY_SOURCE), stack canaries, a
read-only relocation segment, immediate binding where there is a dynamic
section, and branch-target marks at the entry point (-fcf-protection).
Exits 1 and names every missing mark."""
import re
import subprocess
import sys

# The memory routines' checked forms sit in the same objects as the routines
# themselves, so a static link carries them whatever the flags; only another
# checked call shows that our code was compiled with _FORTIFY_SOURCE.
ALWAYS_THERE = re.compile(r"^__(mem\w*|chk_fail|stack_chk\w*)$")
CHECKED = re.compile(r"^__\w+_chk$")


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


def symbols(path, dynamic):
    args = ["nm", "-D", "--undefined-only", path] if dynamic else ["nm", path]
    return {line.split()[-1].split("@")[0] for line in run(*args).splitlines() if line.strip()}


def entry_symbol(path):
    """The extension's request entry point, or the program's main."""
    exported = run("nm", "-D", "--defined-only", path).split()
    return "HttpExtensionProc" if "HttpExtensionProc" in exported else "main"


def faults(path):
    found = []
    dynamic_section = run("readelf", "-dW", path)
    dynamic = "(NEEDED)" in dynamic_section
    names = symbols(path, dynamic)
    checked = {n for n in names if CHECKED.match(n) and not ALWAYS_THERE.match(n)}
    if not checked:
        found.append("no checked call (__*_chk): not built with _FORTIFY_SOURCE")
    if "__stack_chk_fail" not in names:
        found.append("no __stack_chk_fail: not built with a stack protector")
    if "GNU_RELRO" not in run("readelf", "-lW", path):
        found.append("no GNU_RELRO segment")
    if dynamic and "BIND_NOW" not in dynamic_section:
        found.append("no BIND_NOW: not linked with -z now")
    entry = entry_symbol(path)
    listing = run("objdump", "-d", "--no-show-raw-insn", f"--disassemble={entry}", path)
    body = listing.split(f"<{entry}>:", 1)[1].split("\n") if f"<{entry}>:" in listing else []
    first = next((line for line in body if ":" in line), "")
    if "endbr64" not in first:
        found.append(f"{entry} does not start with endbr64: not built with -fcf-protection")
    return found


def main(paths):
    failed = not paths
    for path in paths:
        found = faults(path)
        for fault in found:
            print(f"{path}: {fault}")
        if not found:
            print(f"{path}: hardened")
        failed = failed or bool(found)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
