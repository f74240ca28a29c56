"""Prints what QZSTART.EXE does on an everyday start (see scripts/demo)."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import qzsandbox  # noqa: E402


def local_files(folder):
    return {name: os.stat(os.path.join(folder, name)) for name in sorted(os.listdir(folder))}


def start(box, number, *args):
    print("\n--- Start %d: QZSTART.EXE %s" % (number, " ".join(args) or "(no arguments)"))
    box.launcher(*args)
    identity = box.identity()
    folder = "C:\\_$MERIXA\\" + identity + "\\"
    host = box.drive_c(folder)
    records = box.start_records(number)
    return identity, folder, host, records[number - 1] if len(records) >= number else None


def backup_run(box):
    """A whole FULL backup run of the sample root, and the run log it left."""
    print("\n--- Backup run: UTILS\\QZBACKUP\\QZBACKUP.EXE <job> FULL 5 ACME NIGHT 1")
    job = os.path.join(os.path.dirname(os.path.realpath(qzsandbox.__file__)), "backup_job.py")
    target = os.path.join(box.top, "backup")
    box.env["QZ_BACKUP_TARGET"] = target
    box.run(box.path("UTILS", "QZBACKUP", "QZBACKUP.EXE"), job, "FULL", "5", "ACME", "NIGHT", "1",
            timeout=600)
    print("The run log, UTILS\\QZBACKUP\\QZBACKUP.LOG (hidden):")
    with open(box.path("UTILS", "QZBACKUP", "QZBACKUP.LOG"), "rb") as f:
        for line in f.read().decode("latin-1").splitlines():
            print("  " + line)
    with open(target + ".log") as f:
        print("Files the backup job took: %d" % len(f.read().split()))
    for name in ["QZBACKUP.OK", "QZBACKUP.TST", "QZBACKUP.ERR"]:
        path = box.path("UTILS", "QZBACKUP", name)
        if os.path.exists(path):
            with open(path, "rb") as f:
                print("UTILS\\QZBACKUP\\%s: %r" % (name, f.read()))
    print("LOCKDOWN.SYS still there: %s" % os.path.exists(box.path("LOCKDOWN.SYS")))


def main():
    box = qzsandbox.Sandbox(os.path.abspath(sys.argv[1]), name="qz-demo-")
    try:
        print("Sample shared root: %s" % box.root)
        print("Drive C: of the workstation: %s" % box.c)

        identity, folder, host, record = start(box, 1)
        print("Installation identity: %s" % identity)
        print("Local folder: %s" % folder)
        first = local_files(host)
        print("Files copied or written:")
        for name, st in first.items():
            print("  %-14s %6d bytes" % (name, st.st_size))
        with open(os.path.join(host, "ADSLOCAL.CFG"), "rb") as f:
            print("ADSLOCAL.CFG:\n  " + f.read().decode().replace("\r\n", "\n  "))
        print("The application recorded: current folder %s" % record[0])
        print("                           command line   %s" % record[1])

        identity, folder, host, record = start(box, 2)
        second = local_files(host)
        changed = [n for n, st in second.items()
                   if n not in first or st.st_ctime_ns != first[n].st_ctime_ns]
        copied = [n for n in changed if n not in ("ADS.INI", "ADSLOCAL.CFG")]
        print("Files rewritten: %s" % ", ".join(changed))
        print("Program and library files copied: %s" % (", ".join(copied) or "none"))
        print("The application recorded: command line   %s" % record[1])

        if "--no-backup" not in sys.argv:
            backup_run(box)
    finally:
        box.close()


if __name__ == "__main__":
    main()
