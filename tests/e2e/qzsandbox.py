"""A sandbox for the built programs: a sample shared root, a drive C: of its
own (through QZ_DOSDEVICES), and helpers to run the programs and read the
attribute store the way the file server's SMB service reads it."""

import os
import pwd
import re
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


def read_dosattrib(path):
    """The stored DOS attributes of a file and its creation time ((0, 0) when it has none)."""
    try:
        value = os.getxattr(path, "user.DOSATTRIB", follow_symlinks=True)
    except OSError:
        return 0, 0
    if value.startswith(b"0x") and b"\0" not in value.rstrip(b"\0"):
        return int(value.rstrip(b"\0")[2:], 16), 0
    end = value.index(b"\0") + 1
    offset = end + (end & 1)
    version, = struct.unpack_from("<H", value, offset)
    body = (offset + 4 + 3) & ~3
    if version == 1:
        return struct.unpack_from("<I", value, body)[0], 0
    flags, attrib = struct.unpack_from("<II", value, body)
    create = struct.unpack_from("<Q", value, body + 8)[0] if version == 5 else 0
    return attrib if flags & 1 else 0, create


def read_attributes(path):
    """The stored DOS attributes of a file (0 when it has none)."""
    return read_dosattrib(path)[0]


def write_attributes(path, attrib, create_time=None):
    """Stores DOS attributes as the SMB service does (version 5)."""
    if create_time is None:
        create_time = read_dosattrib(path)[1]
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

    def read(self, *windows_parts):
        with open(self.path(*windows_parts), "rb") as f:
            return f.read()

    def error_files(self):
        """The monitor's two error status files: in the root and in UTILS\\QZBACKUP."""
        return [self.read("QZBACKUP.ERR"), self.read("UTILS", "QZBACKUP", "QZBACKUP.ERR")]

    def run_log(self):
        """The events of the monitor's run log, each line's text after its date
        and time; None when a line is not one dated, CR LF ended line."""
        log = self.read("UTILS", "QZBACKUP", "QZBACKUP.LOG").decode("latin-1")
        lines = log[:-2].split("\r\n") if log.endswith("\r\n") else [log]
        if not all(re.match(r"\d\d/\d\d/\d\d \d\d:\d\d:\d\d ", line) for line in lines):
            return None
        return [line[len("mm/dd/yy hh:mm:ss "):] for line in lines]

    def identity(self):
        with open(self.path(IDENTITY), "rb") as f:
            return f.read().decode("latin-1")

    def release_applications(self):
        """Lets every holding stand-in application end."""
        if os.path.isdir(self.root):
            open(self.path("PURCHASE.EXIT"), "w").close()


def wait_for(condition, timeout=60.0):
    """Polls `condition` until it holds; gives its last value (falsy after `timeout` seconds)."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(0.05)


# The account that run-backup, started as root, becomes in the tests: one
# without privileges that every Debian system has.
RUN_ACCOUNT = "nobody"


def run_as_account(env, top, *folders):
    """As root, sets up a run of run-backup as it goes on a server: it
    becomes RUN_ACCOUNT, which may enter the test's folder `top` and owns
    the `folders` that the run writes (the shared root, drive C:, the
    archives); what is left of `top` stays root's, as the configuration's
    folders must. Without root, run-backup runs as the running account."""
    for folder in folders:
        os.makedirs(folder, exist_ok=True)
    if os.geteuid() != 0:
        return
    env["VARNOLET_ACCOUNT"] = RUN_ACCOUNT
    os.chmod(top, 0o755)
    give(RUN_ACCOUNT, *folders)


def give(account, *folders):
    """Gives the trees of `folders` to an account and its group."""
    entry = pwd.getpwnam(account)
    for folder in folders:
        for at, subfolders, names in os.walk(folder):
            for name in [at] + [os.path.join(at, n) for n in subfolders + names]:
                os.lchown(name, entry.pw_uid, entry.pw_gid)


def free_port():
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class SambaServer:
    """A real SMB server, started on a loopback port, serving one folder as
    the share "root" to guests, whom it serves as `account` (the running
    one by default; Samba takes its guest account for the anonymous user,
    which may not change attributes); stopped by its process id."""

    def __init__(self, top, folder, account=None):
        account = account or user_name()
        self.top = os.path.join(top, "samba")
        self.port = free_port()
        for sub in ["state", "lock", "cache", "pid", "private", "log"]:
            os.makedirs(os.path.join(self.top, sub))
        self.conf = os.path.join(self.top, "smb.conf")
        settings = {
            "server role": "standalone server", "smb ports": str(self.port),
            "interfaces": "127.0.0.1", "bind interfaces only": "yes", "disable netbios": "yes",
            "pid directory": self.sub("pid"), "lock directory": self.sub("lock"),
            "state directory": self.sub("state"), "cache directory": self.sub("cache"),
            "private dir": self.sub("private"), "ncalrpc dir": self.sub("state/ncalrpc"),
            "log file": self.sub("log/log.%m"),
            "passdb backend": "tdbsam:" + self.sub("private/passdb.tdb"),
            "map to guest": "Bad User", "guest account": user_name(),
            "load printers": "no", "printing": "bsd", "printcap name": "/dev/null",
            "disable spoolss": "yes",
        }
        with open(self.conf, "w") as f:
            f.write("[global]\n" + "".join("  %s = %s\n" % kv for kv in settings.items()))
            f.write("[root]\n  path = %s\n  read only = no\n  guest ok = yes\n"
                    "  force user = %s\n" % (folder, account))
        self.log = open(self.sub("log/smbd.out"), "wb")
        self.process = subprocess.Popen(
            ["smbd", "--foreground", "--no-process-group", "--debug-stdout", "-d", "1",
             "-s", self.conf], stdout=self.log, stderr=subprocess.STDOUT,
            # smbd signals its whole process group when it stops: a group of its own.
            start_new_session=True)
        self.share = "//127.0.0.1/root"
        self.wait_until_listening()

    def sub(self, name):
        return os.path.join(self.top, name)

    def wait_until_listening(self):
        import socket
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError("smbd ended at once; see " + self.sub("log/smbd.out"))
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.1)
        raise RuntimeError("smbd does not listen on port %d" % self.port)

    def client(self, commands):
        return subprocess.run(["smbclient", self.share, "-p", str(self.port), "-N",
                               "-s", os.devnull, "-c", commands],
                              capture_output=True, check=True).stdout.decode("latin-1")

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.log.close()
