"""QZBACKUP.EXE end to end: whole backup runs in real time, started as a
scheduler would start them in the sample shared root, with the real
launcher, the stand-in application and the tests' backup job.

    python3 monitor_e2e.py BINDIR [unittest options]
"""

import os
import re
import shutil
import subprocess
import sys
import time
import unittest

import qzsandbox
from qzsandbox import Sandbox

BIN = None
JOB = os.path.join(os.path.dirname(os.path.abspath(__file__)), "backup_job.py")
COMPLETED = re.compile(r"\r\nCOMPLETED ON \d\d/\d\d/\d\d @ \d\d:\d\d:\d\d\x1a")


class MonitorCase(unittest.TestCase):
    def setUp(self):
        self.box = Sandbox(BIN)
        self.addCleanup(self.box.close)
        self.target = os.path.join(self.box.top, "target")
        self.box.env["QZ_BACKUP_TARGET"] = self.target
        # Files the backup must leave out, and data it must take.
        with open(self.box.path("DATA", "HIDDEN.DBF"), "w") as f:
            f.write("hidden")
        qzsandbox.write_attributes(self.box.path("DATA", "HIDDEN.DBF"), qzsandbox.HIDDEN)
        with open(self.box.path("PAGEFILE.SYS"), "w") as f:
            f.write("system")
        qzsandbox.write_attributes(self.box.path("PAGEFILE.SYS"), qzsandbox.SYSTEM)

    def monitor(self, *args, timeout=600):
        result = self.box.run(self.box.path("UTILS", "QZBACKUP", "QZBACKUP.EXE"), *args,
                              timeout=timeout)
        self.assertEqual(result.returncode, 0, result)
        return result

    def expect_failure(self, text):
        expected = b"\r\n" + text.encode("latin-1") + b"\x1a"
        self.assertEqual(self.box.error_files(), [expected, expected])

    def expect_log(self, *events):
        """The run log holds one run, hidden, whose events match `events` in
        order: each a pattern for one line's text after its date and time."""
        path = self.box.path("UTILS", "QZBACKUP", "QZBACKUP.LOG")
        self.assertTrue(qzsandbox.read_attributes(path) & qzsandbox.HIDDEN, "the log is visible")
        texts = self.box.run_log()
        self.assertIsNotNone(texts, self.box.read("UTILS", "QZBACKUP", "QZBACKUP.LOG"))
        match = re.fullmatch("\n".join(events), "\n".join(texts))
        self.assertTrue(match, "the log reads:\n" + "\n".join(texts))
        return match

    def visible_files(self):
        """Every file of the root that is neither hidden nor system, relative."""
        found = set()
        for folder, folders, files in os.walk(self.box.root):
            folders[:] = [d for d in folders if not d.startswith(".")]
            for name in files:
                path = os.path.join(folder, name)
                hidden = qzsandbox.read_attributes(path) & (qzsandbox.HIDDEN | qzsandbox.SYSTEM)
                if not name.startswith(".") and not hidden:
                    found.add(os.path.relpath(path, self.box.root))
        return found

    def backed_up(self):
        return {os.path.relpath(os.path.join(folder, name), self.target)
                for folder, _, files in os.walk(self.target) for name in files}

    def expect_completed(self):
        self.assertRegex(self.box.read("UTILS", "QZBACKUP", "QZBACKUP.OK").decode(), COMPLETED)
        self.assertEqual(self.box.read("UTILS", "QZBACKUP", "QZBACKUP.TST"), b"\x1a")
        self.assertFalse(os.path.exists(self.box.path("LOCKDOWN.SYS")))
        self.assertFalse(os.path.exists(self.box.path("QZBACKUP.ERR")))


class FullRunTest(MonitorCase):
    def test_full_run_takes_every_file(self):
        started = time.monotonic()
        self.monitor(JOB, "FULL", "5", "ACME", "NIGHT", "1")
        self.assertGreaterEqual(time.monotonic() - started, 90)  # a scan pause and the settle time
        self.expect_completed()
        records = self.box.start_records()
        self.assertRegex(records[0][1], r"^QZWINIT C:\\_\$MERIXA\\[^ ]+\\ ACME,NIGHT,LOCKDOWN,1$")
        missing = self.visible_files() - self.backed_up() - {"UTILS/QZBACKUP/QZBACKUP.OK"}
        self.assertEqual(missing, set())
        self.assertNotIn("PAGEFILE.SYS", self.backed_up())
        self.assertNotIn("DATA/HIDDEN.DBF", self.backed_up())
        self.assertIn("UTILS/QZBACKUP/QZBACKUP.TST", self.backed_up())
        with open(self.target + "/DATA/ORDERS.DBF", "rb") as f:
            self.assertEqual(f.read(), self.box.read("DATA", "ORDERS.DBF"))
        # The log, written during the wait, is hidden: the job leaves it, and the wait ends.
        self.assertNotIn("UTILS/QZBACKUP/QZBACKUP.LOG", self.backed_up())
        job = re.escape(JOB)
        log = self.expect_log(
            r"Backup run started in .*: %s FULL 5 ACME NIGHT 1" % job,
            r"Mode FULL, backup command %s, backup minutes 5, lock-down minutes 1, "
            r"local folder C:\\_\$MERIXA" % job,
            r'Lock-down request started: QZSTART\.EXE C:\\_\$MERIXA "ACME,NIGHT,LOCKDOWN,1" '
            r"\(result \d+\)",
            r"Lock-down in force after (\d+) s",
            r"Marking: (\d+) files marked, (\d+) already flagged, 0 failed, \d+ s",
            r"Backup job started: %s \(result \d+\)" % job,
            r"(?:Backup running for \d+ s, first flagged file \S.*\n)*"
            r"Backup done after (\d+) s: no file carries the archive attribute",
            r"Run completed")
        self.assertLessEqual(int(log.group(1)), 30)
        # Every visible file was marked or flagged: those of the end but the two status
        # files made after the marking, and LOCKDOWN.SYS, erased at the end.
        self.assertEqual(int(log.group(2)) + int(log.group(3)), len(self.visible_files()) - 2 + 1)
        self.assertGreaterEqual(int(log.group(4)), 60)


class PartialRunTest(MonitorCase):
    def test_partial_run_takes_only_what_was_flagged(self):
        qzsandbox.write_attributes(self.box.path("DATA", "ORDERS.DBF"), qzsandbox.ARCHIVE)
        qzsandbox.write_attributes(self.box.path("REPORTS", "MONTHLY.FRX"),
                                   qzsandbox.ARCHIVE | qzsandbox.READ_ONLY)
        self.monitor(JOB, "PARTIAL", "5", "ACME", "NIGHT", "1")
        self.expect_completed()
        taken = self.backed_up()
        self.assertIn("DATA/ORDERS.DBF", taken)
        self.assertIn("REPORTS/MONTHLY.FRX", taken)
        self.assertNotIn("DATA/SUPPLIERS.DBF", taken)
        self.assertNotIn("REPORTS/SUPPLIER.FRX", taken)
        self.assertEqual(qzsandbox.read_attributes(self.box.path("REPORTS", "MONTHLY.FRX")),
                         qzsandbox.READ_ONLY)


class BackupTimeoutTest(MonitorCase):
    def test_file_the_job_leaves_flagged_holds_the_wait_until_its_limit(self):
        for flagged in [("DATA", "ORDERS.DBF"), ("DATA", "INDEX", "ORDERS.CDX")]:
            qzsandbox.write_attributes(self.box.path(*flagged), qzsandbox.ARCHIVE)
        self.box.env["QZ_BACKUP_LEAVE"] = "DATA/INDEX/ORDERS.CDX"
        self.monitor(JOB, "PARTIAL", "1", "ACME", "NIGHT", "1")
        self.expect_failure("TIMEOUT WAITING FOR BACKUP TO COMPLETE")
        self.assertIn("DATA/ORDERS.DBF", self.backed_up())
        left = re.escape("DATA\\INDEX\\ORDERS.CDX")
        self.expect_log(
            r"Backup run started in .*",
            r"Mode PARTIAL, .*",
            r"Lock-down request started: .*",
            r"Lock-down in force after \d+ s",
            r"Backup job started: .*",
            r"Backup running for \d s, first flagged file \S.*",
            r"Backup timed out after 6\d s, first flagged file " + left,
            r"Run failed: TIMEOUT WAITING FOR BACKUP TO COMPLETE")


class FileServerRunTest(MonitorCase):
    """The monitor on the file server, the backup through a real SMB server:
    the attributes the monitor writes are the ones SMB clients see."""

    def test_full_run_with_the_attributes_cleared_through_smb(self):
        # Samba is on scripts/install-deps' list for this tier: missing, it fails the tier.
        if shutil.which("smbd") is None or shutil.which("smbclient") is None:
            self.fail("Samba (smbd, smbclient) is not installed: run scripts/install-deps test")
        server = qzsandbox.SambaServer(self.box.top, os.path.realpath(self.box.root))
        self.addCleanup(server.stop)
        self.box.env["QZ_BACKUP_SMB"] = "%s %d" % (server.share, server.port)
        self.monitor(JOB, "FULL", "5", "ACME", "NIGHT", "1")
        self.expect_completed()
        # The client's listing, made after the marking and before the clearing.
        with open(self.target + ".listing", "rb") as f:
            listing = f.read().decode("latin-1")
        rows = re.findall(r"^  (\S.*?)\s+([A-Z]+)\s+\d+\s+\w{3} \w{3} ", listing, re.M)
        files = {name: letters for name, letters in rows if "D" not in letters}
        self.assertIn("ORDERS.DBF", files)
        for name, letters in files.items():
            if name in ("PAGEFILE.SYS", "HIDDEN.DBF"):
                continue
            self.assertIn("A", letters, name)
        self.assertIn("H", files["HIDDEN.DBF"])
        self.assertIn("S", files["PAGEFILE.SYS"])
        # And the clearing through the server is what the monitor saw.
        after = server.client("ls DATA\\ORDERS.DBF")
        self.assertRegex(after, r"ORDERS\.DBF\s+N\s")


class LockDownFailureTest(MonitorCase):
    def test_application_refuses_the_lock_down(self):
        self.monitor(JOB, "FULL", "5", "AUTORUNERR", "NIGHT", "1")
        self.expect_failure("ERROR WHILE LOCKING DOWN SYSTEM\r\n\r\n"
                            "Lock-down refused: NIGHT still has users logged in")
        self.assertFalse(os.path.exists(self.box.path("LOCKDOWN.SYS")))
        self.assertFalse(os.path.exists(self.target))
        self.expect_log(
            r"Backup run started in .*: %s FULL 5 AUTORUNERR NIGHT 1" % re.escape(JOB),
            r"Mode FULL, .*",
            r"Lock-down request started: .*",
            r"Lock-down refused after \d+ s: Lock-down refused: NIGHT still has users logged in",
            r"Run failed: ERROR WHILE LOCKING DOWN SYSTEM")

    def test_backup_program_that_does_not_exist(self):
        self.monitor("NOSUCHJOB.EXE", "PARTIAL", "5", "ACME", "NIGHT", "1")
        self.expect_failure("#2 - WINEXEC() FAILED TO LAUNCH NOSUCHJOB.EXE")
        self.assertFalse(os.path.exists(self.box.path("LOCKDOWN.SYS")))


class InterruptedRunTest(MonitorCase):
    def test_next_run_names_a_run_killed_in_its_lock_down_wait(self):
        # A restart ends the run while it waits: LOCKDOWN.SYS stays behind.
        killed = subprocess.Popen([self.box.path("UTILS", "QZBACKUP", "QZBACKUP.EXE"), JOB, "FULL",
                                   "5", "ACME", "NIGHT", "1"], cwd=self.box.root, env=self.box.env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 60
        while not os.path.exists(self.box.path("LOCKDOWN.SYS")) and time.monotonic() < deadline:
            time.sleep(0.05)
        killed.kill()
        killed.wait()
        started = self.box.read("UTILS", "QZBACKUP", "QZBACKUP.LOG")[:17].decode()
        self.monitor(JOB, "FULL", "5", "ACME", "NIGHT", "1")
        self.expect_failure("THE SYSTEM IS ALREADY LOCKED-DOWN - CANNOT CONTINUE")
        self.expect_log(
            r"Backup run started in .*: %s FULL 5 ACME NIGHT 1" % re.escape(JOB),
            r"Mode FULL, .*",
            r"Lock-down request started: .*",
            r"Run did not finish: started " + re.escape(started),
            r"Backup run started in .*",
            r"Run failed: THE SYSTEM IS ALREADY LOCKED-DOWN - CANNOT CONTINUE")


class PreCheckTest(MonitorCase):
    def test_system_already_locked_down(self):
        with open(self.box.path("LOCKDOWN.SYS"), "w") as f:
            f.write("someone else's")
        self.monitor(JOB, "FULL", "5", "ACME", "NIGHT")
        self.expect_failure("THE SYSTEM IS ALREADY LOCKED-DOWN - CANNOT CONTINUE")
        self.assertEqual(self.box.read("LOCKDOWN.SYS"), b"someone else's")
        self.assertEqual(self.box.start_records(0, timeout=0), [])

    def test_status_folder_missing(self):
        shutil.rmtree(self.box.path("UTILS", "QZBACKUP", ""), ignore_errors=True)
        shutil.copy(os.path.join(BIN, "QZBACKUP.EXE"), self.box.path("QZBACKUP.EXE"))
        result = self.box.run(self.box.path("QZBACKUP.EXE"), JOB, "PARTIAL", "5", "ACME",
                              "NIGHT", "1", timeout=600)
        self.assertEqual(result.returncode, 0)
        report = self.box.read("QZBACKUP.ERR").decode("latin-1")
        self.assertRegex(report, r"^\r\nRUNTIME ERROR\r\n\r\nCalled from: __EVAL\(\d+\) SET\(0\) "
                                 r"MAIN\(\d+\) \r\nMain system: 20 - Create error\r\n"
                                 r"Sub-System: 2013 - TERM\r\nO/S code: 3\r\n"
                                 r"Operation: UTILS\\QZBACKUP\\QZBACKUP\.TST\x1a$")
        self.assertFalse(os.path.exists(self.box.path("LOCKDOWN.SYS")))

    def test_usage_and_root_messages_write_nothing(self):
        result = self.monitor(JOB, "FULL", "5", "ACME")
        self.assertEqual(result.stderr.decode(),
                         "Varnolet - Backup monitor: Please see UTILS\\QZBACKUP\\README.TXT for "
                         "details\r\n\r\nNote: This is NOT backup software\n")
        result = self.box.run(self.box.path("UTILS", "QZBACKUP", "QZBACKUP.EXE"), JOB, "FULL",
                              "5", "ACME", "NIGHT", cwd=self.box.path("DATA"))
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stderr.decode(), "Varnolet - Backup monitor: Run from the ROOT of "
                                                 "the Varnolet folder on the file server\n")
        self.assertFalse(os.path.exists(self.box.path("QZBACKUP.ERR")))
        self.assertFalse(os.path.exists(self.box.path("UTILS", "QZBACKUP", "QZBACKUP.ERR")))


if __name__ == "__main__":
    BIN = os.path.abspath(sys.argv.pop(1))
    unittest.main()
