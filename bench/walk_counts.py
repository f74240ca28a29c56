#!/usr/bin/env python3
"""The system calls and user-space instructions of one walk of each kind.

    bench/walk_counts.py BUILD/bin/walk_bench [FILES]

Runs `walk_bench --walk_once=KIND/FILES` (FILES: 10000 unless given) once
under `strace -c -f` and once under `valgrind --tool=callgrind` for every
walk, subtracts the same counts of `none` (for the scans) or `clear` (for the
markings, which clear the tree again after their walk), and prints them per
entry (files and 1,000 folders) as a Markdown table: system calls, the calls
that make them up, and user-space instructions. The tree is kept in
$QZ_WALK_TREES, or made in a temporary folder and removed at the end.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

WALKS = ["bare_walk", "statless_walk", "scan", "bare_marking", "statless_marking", "marking"]


def syscalls(command, folder):
    """The calls of each name that `command` made, as strace -c -f counts them."""
    out = os.path.join(folder, "strace.txt")
    subprocess.run(["strace", "-c", "-f", "-o", out] + command, check=True)
    calls = {}
    with open(out) as summary:
        for line in summary:
            fields = line.split()
            if len(fields) >= 5 and fields[0][0].isdigit() and fields[-1] != "total":
                calls[fields[-1]] = int(fields[3])
    return calls


def instructions(command, folder):
    """The instructions that `command` ran in user space, as callgrind counts them."""
    out = os.path.join(folder, "callgrind.out")
    run = subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}"] + command,
                         capture_output=True, text=True, check=True)
    return int(re.search(r"Collected : (\d+)", run.stderr).group(1))


def main():
    bench = sys.argv[1]
    files = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
    entries = files + 1000
    made = None
    if not os.environ.get("QZ_WALK_TREES"):
        made = tempfile.mkdtemp(prefix="qz-walk-counts-")
        os.environ["QZ_WALK_TREES"] = made
    folder = tempfile.mkdtemp(prefix="qz-walk-counts-out-")
    try:
        counts = {}
        for kind in ["none", "clear"] + WALKS:
            command = [bench, f"--walk_once={kind}/{files}"]
            counts[kind] = (syscalls(command, folder), instructions(command, folder))
        print("| walk | system calls per entry | of which | user-space instructions per entry |")
        print("|---|---|---|---|")
        for kind in WALKS:
            calls, ran = counts[kind]
            start_calls, start_ran = counts["clear" if "marking" in kind else "none"]
            made_by_walk = {name: calls.get(name, 0) - start_calls.get(name, 0)
                            for name in set(calls) | set(start_calls)}
            parts = ", ".join(f"{name} {count / entries:.3f}"
                              for name, count in sorted(made_by_walk.items(), key=lambda c: -c[1]) if count)
            total = sum(made_by_walk.values())
            print(f"| {kind} | {total / entries:.3f} | {parts} | {(ran - start_ran) / entries:.0f} |")
    finally:
        shutil.rmtree(folder)
        if made:
            shutil.rmtree(made)


if __name__ == "__main__":
    main()
