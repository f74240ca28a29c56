"""The Windows task's side of a backup run under 64-bit wine: the exit codes
of the batch file QZTASK.BAT that the task template runs, and the events
that the Windows platform writes to the Application event log.

This host runs no 32-bit code, so the i686 programs cannot run under wine
here; 64-bit wine runs 64-bit programs natively. The test builds two small
64-bit stand-ins with mingw-w64 at run time: a program in QZBACKUP.EXE's
place that leaves QZBACKUP.OK, QZBACKUP.ERR or nothing, and a probe that
writes events through platform/win32/ui.cpp, which wine prints on its
"eventlog" debug channel. Skipped, with the reason, where 64-bit wine or
the cross compilers are missing.

    python3 task_e2e.py BINDIR [unittest options]
"""

import datetime
import fcntl
import os
import re
import shutil
import subprocess
import sys
import unittest

import qzsandbox
from qzsandbox import Sandbox

BIN = None
HERE = os.path.dirname(os.path.abspath(__file__))
DEPLOY = os.path.join(qzsandbox.REPO, "deploy", "windows", "UTILS", "QZBACKUP")
WEEKDAYS = ["MONDAY", "TUESDAY", "WEDNESDAY", "THURSDAY", "FRIDAY", "SATURDAY", "SUNDAY"]
WINE64 = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver64"
CC = "x86_64-w64-mingw32-gcc"
CXX = "x86_64-w64-mingw32-g++"
WORDS = ["XCOPYJOB.BAT", "FULL", "240", "ACME", "NIGHT", "10"]


def missing_tools():
    if not os.access(WINE64, os.X_OK):
        return "64-bit wine (%s) is not installed" % WINE64
    for compiler in (CC, CXX):
        if shutil.which(compiler) is None:
            return "the mingw-w64 cross compiler %s is not installed" % compiler
    return None


def wine_settings():
    """A 64-bit prefix of the build folder's own, made once under a lock (the
    marker is written only when it is whole), without desktop menus or offers
    to install Mono or Gecko."""
    prefix = os.path.join(os.path.dirname(BIN), "wine64prefix")
    settings = {"WINEPREFIX": prefix, "WINEDEBUG": "-all",
                "WINEDLLOVERRIDES": "winemenubuilder.exe=d;mscoree=;mshtml="}
    env = dict(os.environ, **settings)
    env.pop("WINEARCH", None)
    with open(prefix + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(os.path.join(prefix, ".qz-ready")):
            shutil.rmtree(prefix, ignore_errors=True)
            subprocess.run([WINE64, "wineboot", "--init"], env=env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
            subprocess.run([WINESERVER, "--wait"], env=env, check=True)
            open(os.path.join(prefix, ".qz-ready"), "w").close()
    return settings


def windows_path(host_path):
    """The path wine gives a host path: drive Z: is the host root."""
    return "Z:" + os.path.realpath(host_path).replace("/", "\\")


class WineCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        reason = missing_tools()
        if reason:
            raise unittest.SkipTest(reason)
        cls.wine_settings = wine_settings()

    def setUp(self):
        self.box = Sandbox(BIN, name="qz-task-")
        self.addCleanup(self.box.close)
        self.box.env.update(self.wine_settings)
        self.box.env.pop("WINEARCH", None)

    def compile(self, compiler, sources, program, *options):
        result = subprocess.run([compiler, *options, "-o", program, *sources],
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)

    def wine(self, *args):
        """Runs a program under wine from the sandbox's top folder, outside the root."""
        return self.box.run(WINE64, *args, cwd=self.box.top, timeout=300)


class TaskBatchTest(WineCase):
    def setUp(self):
        super().setUp()
        self.compile(CC, [os.path.join(HERE, "win64_qzbackup_standin.c")],
                     self.box.path("UTILS", "QZBACKUP", "QZBACKUP.EXE"), "-Os", "-mwindows")
        shutil.copy(os.path.join(qzsandbox.REPO, "deploy", "windows", "UTILS", "QZBACKUP",
                                 "QZTASK.BAT"), self.box.path("UTILS", "QZBACKUP"))
        # The root as a UNC path, \\<server>\share\root, through wine's unc folder.
        self.server = "qz%d" % os.getpid()
        unc = os.path.join(self.wine_settings["WINEPREFIX"], "dosdevices", "unc", self.server)
        os.makedirs(unc)
        self.addCleanup(shutil.rmtree, unc)
        os.symlink(self.box.top, os.path.join(unc, "share"))

    def task(self, batch, outcome):
        """Runs the batch file as the task does, from another folder; gives its exit code."""
        result = self.wine("cmd", "/c", batch, outcome, *WORDS)
        print("%s %s ... -> exit code %d" % (batch, outcome, result.returncode), file=sys.stderr)
        return result.returncode

    def status_files(self):
        return {name: self.box.read("UTILS", "QZBACKUP", name).decode()
                for name in ("QZBACKUP.OK", "QZBACKUP.ERR")
                if os.path.exists(self.box.path("UTILS", "QZBACKUP", name))}

    def test_exit_code_tells_what_this_run_left(self):
        drive = windows_path(self.box.path("UTILS", "QZBACKUP", "QZTASK.BAT"))
        unc = "\\\\%s\\share\\root\\UTILS\\QZBACKUP\\QZTASK.BAT" % self.server
        for batch in (drive, unc):
            self.assertEqual(self.task(batch, "OK"), 0)
            self.assertEqual(self.status_files(), {"QZBACKUP.OK": " ".join(["OK"] + WORDS)})
            self.assertEqual(self.task(batch, "ERR"), 1)
            self.assertEqual(set(self.status_files()), {"QZBACKUP.ERR"})
            # Files of earlier runs do not count: nothing left is exit code 2.
            for name in ("QZBACKUP.OK", "QZBACKUP.ERR"):
                with open(self.box.path("UTILS", "QZBACKUP", name), "w") as f:
                    f.write("an earlier run's")
            self.assertEqual(self.task(batch, "NONE"), 2)
            self.assertEqual(self.status_files(), {})


class EventLogTest(WineCase):
    def test_events_reach_wines_event_log(self):
        probe = os.path.join(self.box.top, "probe.exe")
        self.compile(CXX, [os.path.join(HERE, "win64_eventlog_probe.cpp"),
                           os.path.join(qzsandbox.REPO, "platform", "win32", "ui.cpp"),
                           os.path.join(qzsandbox.REPO, "platform", "win32", "error.cpp")],
                     probe, "-std=c++20", "-static", "-I" + qzsandbox.REPO, "-luser32",
                     "-ladvapi32")
        root = windows_path(self.box.root)
        events = [("I", 100, "Backup run in %s completed" % root),
                  ("E", 101, "Backup run in %s failed: MISSING COMMAND LINE PARAMETERS" % root),
                  ("E", 102, "Backup run in %s not started: Run from the ROOT of the Varnolet "
                             "folder on the file server" % root)]
        self.box.env["WINEDEBUG"] = "+eventlog"
        result = self.wine(probe, *["%s %d %s" % event for event in events])
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(result.stdout.decode().strip(), "desktop visible 1, written 1 1 1")
        # Wine's advapi32 prints each event's type and ID, then its text on the
        # channel's error (error events) or trace (others) level.
        log = result.stderr.decode("latin-1")
        reported = re.findall(r"ReportEventA \([0-9A-F]+,0x(\d{4}),0x0000,0x([0-9a-f]{8}),", log)
        texts = re.findall(r"(err|trace):eventlog:ReportEventW L\"(.*)\"", log)
        print("\n".join(line for line in log.splitlines() if "ReportEvent" in line),
              file=sys.stderr)
        self.assertEqual(reported, [("0004", "00000064"), ("0001", "00000065"),
                                    ("0001", "00000066")])
        self.assertEqual(texts, [(level, text.replace("\\", "\\\\"))
                                 for level, (_, _, text) in zip(["trace", "err", "err"], events)])


class GenerationTest(WineCase):
    """The example jobs' generations, run as QZBACKUP.EXE starts them with
    what QZTASK.BAT sets, and QZTASK.BAT's choice of the mode."""

    def job(self, job, mode, stamp, target=None):
        """Runs the job, filled in with a budget of one full generation, as
        QZBACKUP.EXE does; gives its exit code."""
        path = self.box.path("UTILS", "QZBACKUP", job)
        shutil.copy(os.path.join(DEPLOY, "GENCOPY.BAT"), os.path.dirname(path))
        with open(os.path.join(DEPLOY, job), "rb") as f:
            text = f.read().replace(b"KEEP_FULL=4", b"KEEP_FULL=1")
        with open(path, "wb") as f:
            f.write(text.replace(b"[[TARGET_FOLDER]]", (target or windows_path(self.target))
                                 .encode()))
        self.box.env.update(QZBACKUP_MODE=mode, QZBACKUP_STAMP=stamp)
        return self.wine("cmd", "/c", windows_path(path)).returncode

    def generations(self):
        return sorted(os.listdir(self.target))

    def files(self, top):
        return sorted(os.path.relpath(os.path.join(folder, name), top)
                      for folder, _, names in os.walk(top) for name in names)

    def test_generations_within_the_budget(self):
        for job, copier in (("XCOPYJOB.BAT", "xcopy"), ("ROBOJOB.BAT", "robocopy")):
            with self.subTest(job):
                self.target = os.path.join(self.box.top, job)
                os.makedirs(os.path.join(self.target, "full-before-upgrade"))  # left alone
                probe = self.wine(copier, windows_path(self.box.path("DOCS")),
                                  windows_path(os.path.join(self.target, "probe")) + "\\")
                if not os.path.exists(os.path.join(self.target, "probe", "INSTALL.TXT")):
                    self.skipTest("wine's %s copies nothing (exit code %d)"
                                  % (copier, probe.returncode))
                shutil.rmtree(os.path.join(self.target, "probe"))
                self.check_generations(job)

    def check_generations(self, job):
        before = self.generations()
        self.assertEqual(self.job(job, "FULL", "20260104-020000", r"\\qznosuchserver\x"), 21)
        # The first generation is a full one, whatever the mode.
        self.assertEqual(self.job(job, "PARTIAL", "20260104-020000"), 0)
        full = os.path.join(self.target, "full-20260104-020000")
        self.assertEqual(self.files(full), self.files(self.box.root))
        changed = self.box.path("DATA", "ORDERS.DBF")
        with open(changed, "w") as f:
            f.write("changed")
        qzsandbox.write_attributes(changed, qzsandbox.ARCHIVE)
        self.assertEqual(self.job(job, "PARTIAL", "20260105-020000"), 0)
        incremental = os.path.join(self.target, "incremental-20260105-020000")
        with open(os.path.join(incremental, "DATA", "ORDERS.DBF")) as f:
            self.assertEqual(f.read(), "changed")
        with self.subTest("an incremental generation holds the changed files alone"):
            shown = self.wine("attrib", windows_path(self.box.path("QZRTS.TST"))).stdout.decode()
            if shown.startswith("A"):
                self.skipTest("wine still shows the archive attribute of a file that %s "
                              "copied: %s" % (job, shown.strip()))
            self.assertEqual(self.files(incremental), [os.path.join("DATA", "ORDERS.DBF")])
        # A clock behind the newest generation is refused.
        self.assertEqual(self.job(job, "PARTIAL", "20260103-020000"), 22)
        # A copy that fails (a folder in the way of a file) keeps the older
        # generations, and leaves its unfinished copy to the next run...
        os.makedirs(os.path.join(self.target, "full.new", "QZRTS.TST"))
        self.assertNotEqual(self.job(job, "FULL", "20260111-020000"), 0)
        self.assertEqual(self.generations(), sorted(before + [
            "full-20260104-020000", "full.new", "incremental-20260105-020000"]))
        # ...which finishes it, a full generation, and removes the older ones.
        os.rmdir(os.path.join(self.target, "full.new", "QZRTS.TST"))
        self.assertEqual(self.job(job, "PARTIAL", "20260112-020000"), 0)
        self.assertEqual(self.generations(), sorted(before + ["full-20260112-020000"]))
        self.assertEqual(self.files(os.path.join(self.target, "full-20260112-020000")),
                         self.files(self.box.root))

    def test_task_chooses_the_mode_by_weekday(self):
        self.compile(CC, [os.path.join(HERE, "win64_qzbackup_standin.c")],
                     self.box.path("UTILS", "QZBACKUP", "QZBACKUP.EXE"), "-Os", "-mwindows")
        shutil.copy(os.path.join(DEPLOY, "QZTASK.BAT"), self.box.path("UTILS", "QZBACKUP"))
        task = windows_path(self.box.path("UTILS", "QZBACKUP", "QZTASK.BAT"))
        def day(offset):
            return WEEKDAYS[(datetime.date.today().weekday() + offset) % 7]
        today = None
        while today != day(0):  # once more if midnight passed meanwhile
            today, modes = day(0), []
            for word in ("FULL-" + today, "FULL-" + day(1), "PARTIAL"):
                self.wine("cmd", "/c", task, "OK", word, "240", "A", "B")
                modes.append(self.box.read("UTILS", "QZBACKUP", "QZBACKUP.OK").split()[1])
        self.assertEqual(modes, [b"FULL", b"PARTIAL", b"PARTIAL"])

if __name__ == "__main__":
    BIN = os.path.abspath(sys.argv.pop(1))
    unittest.main()
