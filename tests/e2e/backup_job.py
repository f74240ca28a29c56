#!/usr/bin/env python3
"""The tests' backup job, as `xcopy . TARGET /S /M` does it on Windows: copies
every file of the current folder's tree that carries the archive attribute
to $QZ_BACKUP_TARGET, keeping the folders, and then clears the archive
attribute of every file it took. Hidden and system files, and hidden or
system folders, are left out (xcopy without /H).

With $QZ_BACKUP_SMB set to "//host/share port", the attributes are read and
cleared through an SMB client instead, as a workstation's backup sees them;
the client's recursive listing before the clearing is kept in
$QZ_BACKUP_TARGET.listing. The files taken are listed in $QZ_BACKUP_TARGET.log.
A file named in $QZ_BACKUP_LEAVE (relative, with "/") is not taken, as a file
held open by a user would not be. With $QZ_BACKUP_EXIT set, the job takes
nothing and ends at once with that exit code, as a job that cannot reach its
target does.
"""

import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qzsandbox  # noqa: E402

SKIPPED = qzsandbox.HIDDEN | qzsandbox.SYSTEM


def visible(path, name):
    return not name.startswith(".") and not qzsandbox.read_attributes(path) & SKIPPED


def flagged_files(root):
    for folder, folders, files in os.walk(root):
        folders[:] = sorted(d for d in folders if visible(os.path.join(folder, d), d)
                            and not os.path.islink(os.path.join(folder, d)))
        for name in sorted(files):
            path = os.path.join(folder, name)
            if visible(path, name) and qzsandbox.read_attributes(path) & qzsandbox.ARCHIVE:
                yield os.path.relpath(path, root)


def smb(share, port, commands):
    return subprocess.run(["smbclient", share, "-p", port, "-N", "-s", os.devnull,
                           "-c", commands], check=True, capture_output=True).stdout


def main():
    if "QZ_BACKUP_EXIT" in os.environ:
        sys.exit(int(os.environ["QZ_BACKUP_EXIT"]))
    target = os.environ["QZ_BACKUP_TARGET"]
    smb_share = os.environ.get("QZ_BACKUP_SMB")
    leave = os.environ.get("QZ_BACKUP_LEAVE")
    taken = [r for r in flagged_files(".") if r != leave]
    for relative in taken:
        os.makedirs(os.path.join(target, os.path.dirname(relative)), exist_ok=True)
        shutil.copy2(relative, os.path.join(target, relative))
    if smb_share:
        share, port = smb_share.split()
        with open(target + ".listing", "wb") as f:
            f.write(smb(share, port, "recurse ON; ls"))
        commands = "; ".join('setmode "%s" -a' % r.replace("/", "\\") for r in taken)
        if commands:
            smb(share, port, commands)
    else:
        for relative in taken:
            attrib = qzsandbox.read_attributes(relative)
            qzsandbox.write_attributes(relative, attrib & ~qzsandbox.ARCHIVE)
    with open(target + ".log", "a") as f:
        f.write("".join(r + "\n" for r in taken))


if __name__ == "__main__":
    main()
