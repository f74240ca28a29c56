"""A sandbox for the built programs: a sample shared root, a drive C: of its
own (through QZ_DOSDEVICES), and helpers to run the programs and read the
attribute store the way the file server's SMB service reads it."""

import os
import pwd
import shutil
import struct
import subprocess
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

ARCHIVE = 0x20
READ_ONLY = 0x1
HIDDEN = 0x2
SYSTEM = 0x4

# The identity files of the sample installation, relative to the root.
IDENTITY = "QZINST.ID"
PREVIOUS_IDENTITY = "UTILS/PREV.ID"
RIGHTS_MARKER = "UTILS/QZTSTDIR/RIGHTSMARK.CHK"
RIGHTS_SOURCE = "QZRTS.TST"


def user_name():
    return pwd.getpwuid(os.geteuid()).pw_name


def read_attributes(path):
    """The stored DOS attributes of a file (0 when it has none)."""
    try:
        value = os.getxattr(path, "user.DOSATTRIB", follow_symlinks=True)
    except OSError:
        return 0
    if value.startswith(b"0x") and b"\0" not in value.rstrip(b"\0"):
        return int(value.rstrip(b"\0")[2:], 16)
    end = value.index(b"\0") + 1
    offset = end + (end & 1)
    version, = struct.unpack_from("<H", value, offset)
    body = (offset + 4 + 3) & ~3
    if version == 1:
        attrib, = struct.unpack_from("<I", value, body)
    else:
        attrib, = struct.unpack_from("<I", value, body + 4)
    return attrib


def write_attributes(path, attrib, create_time=0):
    """Stores DOS attributes as the SMB service does (version 5)."""
    if os.path.isdir(path):
        attrib |= 0x10
    blob = b"\0\0" + struct.pack("<HH", 5, 5) + b"\0\0" + struct.pack("<IIQ", 0x11, attrib,
                                                                        create_time)
    os.setxattr(path, "user.DOSATTRIB", blob)


class Sandbox:
    def __init__(self, bin_dir, name="qz-e2e-"):
        self.bin = bin_dir
        self.top = tempfile.mkdtemp(prefix=name)
        self.root = os.path.join(self.top, "root")
        self.c = os.path.join(self.top, "c")
        self.dosdevices = os.path.join(self.top, "dosdevices")
        os.makedirs(self.c)
        os.makedirs(os.path.join(self.dosdevices, "unc", "server"))
        os.symlink("../c", os.path.join(self.dosdevices, "c:"))
        os.makedirs(os.path.join(self.top, "share"))
        os.symlink("../../../share", os.path.join(self.dosdevices, "unc", "server", "share"))
        subprocess.run([os.path.join(REPO, "scripts", "make-sample-root"), self.root, bin_dir],
                       check=True)
        self.env = dict(os.environ)
        self.env["QZ_DOSDEVICES"] = self.dosdevices
        self.env.pop("QZ_CMDLINE", None)

    def close(self):
        self.release_applications()
        shutil.rmtree(self.top, ignore_errors=True)

    def path(self, *windows_parts):
        """The host path of a path relative to the root ('AXS\\ADS.INI')."""
        return os.path.join(self.root, *[p.replace("\\", "/") for p in windows_parts])

    def drive_c(self, windows_path):
        """The host path of a path on drive C: ('C:\\_$MERIXA\\x')."""
        assert windows_path[:3].upper() == "C:\\"
        return os.path.join(self.c, windows_path[3:].replace("\\", "/"))

    def log_messages(self):
        """Routes the launcher's messages to LASTMSG.LOG for the running account."""
        with open(self.path("SYSTEM", "LSAUSER.SYS"), "w") as f:
            f.write(user_name())

    def run(self, program, *args, cwd=None, timeout=120):
        # Output goes to files, not pipes: the programs started by the program
        # inherit its standard streams and may outlive it.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run([program, *args], cwd=cwd or self.root, env=self.env,
                                    stdout=out, stderr=err, timeout=timeout)
            out.seek(0)
            err.seek(0)
            result.stdout, result.stderr = out.read(), err.read()
        return result

    def launcher(self, *args, cwd=None, timeout=120):
        """Runs the root's QZSTART.EXE; its exit code must be 0 whatever happened."""
        result = self.run(self.path("QZSTART.EXE"), *args, cwd=cwd, timeout=timeout)
        assert result.returncode == 0, result
        return result

    def last_message(self):
        try:
            with open(self.path("LASTMSG.LOG"), "rb") as f:
                return f.read().decode("latin-1")
        except FileNotFoundError:
            return None

    def start_records(self, count=1, timeout=20.0):
        """The stand-in application's records: (current folder, command-line tail) pairs."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                with open(self.path("PURCHASE.LOG"), "rb") as f:
                    lines = f.read().decode("latin-1").splitlines()
            except FileNotFoundError:
                lines = []
            if len(lines) >= count or time.monotonic() > deadline:
                return [tuple(line.split("\t", 1)) for line in lines]
            time.sleep(0.05)

    def identity(self):
        with open(self.path(IDENTITY), "rb") as f:
            return f.read().decode("latin-1")

    def release_applications(self):
        """Lets every holding stand-in application end."""
        if os.path.isdir(self.root):
            open(self.path("PURCHASE.EXIT"), "w").close()
