"""QZSTART.EXE end to end: the built launcher started as a user would start
it, against a sample shared root, with drive C: inside the sandbox.

    python3 launcher_e2e.py BINDIR [unittest options]
"""

import os
import re
import shutil
import sys
import time
import unittest

import qzsandbox
from qzsandbox import Sandbox

BIN = None
LIBRARIES = ["ACE32.DLL", "ADSLOC32.DLL", "AXCWS32.DLL", "libxl.dll", "PURCHASE.EXE", "README.TXT"]


class LauncherCase(unittest.TestCase):
    def setUp(self):
        self.box = Sandbox(BIN)
        self.addCleanup(self.box.close)

    def local_folder(self):
        return "C:\\_$MERIXA\\" + self.box.identity() + "\\"

    def local(self, name):
        return self.box.drive_c(self.local_folder() + name)

    def expect_message(self, text, *args):
        self.box.log_messages()
        self.box.launcher(*args)
        self.assertEqual(self.box.last_message(), text)

    def expect_error(self, what, *args):
        """An "#N - Error while ..." message; gives N."""
        self.box.log_messages()
        self.box.launcher(*args)
        message = self.box.last_message() or ""
        match = re.fullmatch(r"#(-?\d+) - Error while (.*)", message)
        self.assertIsNotNone(match, message)
        self.assertEqual(match.group(2), what)
        return int(match.group(1))


class EverydayStartTest(LauncherCase):
    def test_first_start_prepares_the_folder_and_starts_the_local_program(self):
        self.box.launcher()
        identity = self.box.identity()
        self.assertRegex(identity, r"^\d{8}-\d{6}-\d+-\d+-\d+$")
        folder = self.local_folder()
        for name in ["ACE32.DLL", "ADSLOC32.DLL", "AXCWS32.DLL"]:
            self.assertEqual(os.stat(self.local(name)).st_mtime_ns,
                             os.stat(self.box.path("AXS", name)).st_mtime_ns)
        self.assertEqual(os.stat(self.local("libxl.dll")).st_mtime_ns,
                         os.stat(self.box.path("XLS", "libxl.dll")).st_mtime_ns)
        self.assertEqual(os.stat(self.local("PURCHASE.EXE")).st_mtime_ns,
                         os.stat(self.box.path("PURCHASE.EXE")).st_mtime_ns)
        self.assertTrue(os.access(self.local("PURCHASE.EXE"), os.X_OK))
        self.assertTrue(qzsandbox.read_attributes(self.local("ACE32.DLL")) & qzsandbox.ARCHIVE)
        with open(self.local("ADSLOCAL.CFG"), "rb") as f:
            self.assertEqual(f.read().decode().split("\r\n"), [
                "CONNECTIONS=100", "TABLES=150", "INDEXES=150", "LOCKS=500", "ERROR_LOG_MAX=250",
                "ERROR_ASSERT_LOGS=" + folder, "ANSI_CHAR_SET=Engl(Amer)", "OEM_CHAR_SET=USA",
                "FLUSH_FREQUENCY=0"])
        with open(self.local("ADS.INI"), "rb") as f:
            settings = f.read().decode()
        self.assertIn("MULTITASKING_OFF=1\r\n", settings)
        self.assertIn("ENABLE_BLOCKING=0\r\n", settings)
        self.assertIn("[DATABASES]\r\nPURCHASE=DATA", settings)
        self.assertFalse(os.path.exists(self.local("ADSLOCAL.CPY")))
        records = self.box.start_records()
        self.assertEqual(len(records), 1)
        cwd, tail = records[0]
        self.assertEqual(cwd.replace("\\", "/"), self.box.root)
        self.assertEqual(tail, "QZWINIT " + folder + " ")
        marker = self.box.path(qzsandbox.RIGHTS_MARKER)
        self.assertEqual(qzsandbox.read_attributes(marker) & qzsandbox.ARCHIVE, 0)

    def test_second_start_copies_no_program_or_library(self):
        self.box.launcher()
        self.box.start_records(1)
        before = {name: os.stat(self.local(name)) for name in LIBRARIES}
        # A copy made now would change a file's change time: let the clock move past it.
        newest = max(facts.st_ctime_ns for facts in before.values())
        self.assertTrue(qzsandbox.wait_for(lambda: time.time_ns() > newest + 20_000_000))
        self.box.launcher()
        self.assertEqual(len(self.box.start_records(2)), 2)
        for name in LIBRARIES:
            after = os.stat(self.local(name))
            self.assertEqual((after.st_ino, after.st_ctime_ns),
                             (before[name].st_ino, before[name].st_ctime_ns), name)

    def test_rights_check_renews_the_identity_and_carries_settings_over(self):
        self.box.launcher()
        old_identity = self.box.identity()
        old_folder = self.box.drive_c("C:\\_$MERIXA\\" + old_identity + "\\")
        with open(os.path.join(old_folder, "PURCHASE.INI"), "w", newline="") as f:
            f.write("[USER]\r\nPRINTER=2\r\n")
        qzsandbox.write_attributes(self.box.path(qzsandbox.RIGHTS_MARKER), qzsandbox.ARCHIVE)
        self.box.launcher()
        new_identity = self.box.identity()
        self.assertNotEqual(new_identity, old_identity)
        self.assertEqual(new_identity[:8], old_identity[:8])
        with open(self.box.path(qzsandbox.PREVIOUS_IDENTITY)) as f:
            self.assertEqual(f.read(), old_identity)
        with open(self.local("PURCHASE.INI"), newline="") as f:
            self.assertEqual(f.read(), "[USER]\r\nPRINTER=2\r\n")
        self.assertTrue(os.path.isdir(old_folder))

    def test_monitor_lock_down_request(self):
        self.box.launcher("C:\\_$MERIXA", "ACME,NIGHT,LOCKDOWN,10")
        records = self.box.start_records()
        self.assertEqual(records[0][1], "QZWINIT " + self.local_folder() + " ACME,NIGHT,LOCKDOWN,10")
        self.assertTrue(qzsandbox.wait_for(lambda: os.path.exists(self.box.path("LOCKDOWN.SYS"))))

    def test_start_by_network_path_makes_the_share_current(self):
        share_root = os.path.join(self.box.top, "share", "root")
        os.rename(self.box.root, share_root)
        os.symlink(share_root, self.box.root)  # the sandbox helpers keep working
        program = os.path.join(self.box.dosdevices, "unc", "server", "share", "root",
                               "QZSTART.EXE")
        result = self.box.run(program, cwd=self.box.top)
        self.assertEqual(result.returncode, 0)
        records = self.box.start_records()
        self.assertEqual(records[0][0], "\\\\server\\share\\root")

    def test_exit_code_is_zero_when_the_application_starts(self):
        result = self.box.launcher("C:\\Local\\", "everyday")
        self.assertEqual(result.returncode, 0)
        self.assertEqual(self.box.start_records()[0][1], "QZWINIT C:\\Local\\ everyday")


class WaitForCloseTest(LauncherCase):
    def holding(self):
        return os.path.exists(self.box.path("PURCHASE.HELD"))

    def hold_application(self):
        self.box.launcher("", "HOLD")
        self.assertTrue(qzsandbox.wait_for(self.holding))

    def test_wait_gives_up_while_the_application_keeps_its_library(self):
        self.hold_application()
        started = time.monotonic()
        error = self.expect_error("waiting for Varnolet to close-down", "", "", "WAIT4EXIT")
        self.assertGreaterEqual(time.monotonic() - started, 9.5)
        self.assertEqual(error, 5)

    def test_silent_wait_goes_on(self):
        self.hold_application()
        self.box.log_messages()
        self.box.launcher("", "SILENT", "WAIT4EXIT")
        self.assertIsNone(self.box.last_message())
        self.assertEqual(len(self.box.start_records(2)), 2)
        self.assertTrue(os.path.exists(self.local("ADSLOCAL.CPY")))

    def test_wait_ends_once_the_application_has_closed(self):
        self.hold_application()
        self.box.release_applications()
        self.assertTrue(qzsandbox.wait_for(lambda: not self.holding()))
        self.box.log_messages()
        self.box.launcher("", "", "WAIT4EXIT")
        self.assertIsNone(self.box.last_message())
        self.assertTrue(os.path.exists(self.local("libxl.dll")))

    def test_running_local_program_cannot_be_replaced(self):
        self.hold_application()
        os.utime(self.box.path("PURCHASE.EXE"), (time.time(), time.time() + 120))
        self.assertEqual(self.expect_error("copying PURCHASE.EXE"), 32)


class FailureMessagesTest(LauncherCase):
    def test_outside_the_root(self):
        os.remove(self.box.path("UTILS", "QZTSTDIR", "QZTSTDIR.CHK"))
        self.expect_message("This is not the Varnolet root folder")
        self.assertFalse(os.path.exists(self.box.drive_c("C:\\_$MERIXA")))

    def test_shared_program_missing(self):
        self.box.launcher()
        os.remove(self.box.path("PURCHASE.EXE"))
        self.expect_message("Varnolet is being updated - Please try again in a few minutes...")

    def test_invalid_local_folder(self):
        self.expect_message("Invalid local folder (Local\\)", "Local\\")

    def test_missing_rights(self):
        os.remove(self.box.path(qzsandbox.RIGHTS_SOURCE))
        self.expect_message("Missing create/modify/delete rights")

    def test_identity_file_problems(self):
        self.box.launcher()
        os.remove(self.box.path(qzsandbox.IDENTITY))
        os.symlink("GONE.ID", self.box.path(qzsandbox.IDENTITY))  # listed, but cannot be opened
        self.assertEqual(self.expect_error("opening id file"), 2)
        os.remove(self.box.path(qzsandbox.IDENTITY))
        open(self.box.path(qzsandbox.IDENTITY), "w").close()
        self.expect_error("reading id file")

    def test_previous_identity_problems(self):
        os.makedirs(self.box.path(qzsandbox.PREVIOUS_IDENTITY))
        self.assertEqual(self.expect_error("opening old id file"), 5)
        os.rmdir(self.box.path(qzsandbox.PREVIOUS_IDENTITY))
        open(self.box.path(qzsandbox.PREVIOUS_IDENTITY), "w").close()
        self.expect_error("reading old id file")

    def test_local_folder_cannot_be_created(self):
        with open(self.box.drive_c("C:\\_$MERIXA"), "w") as f:
            f.write("a file in the way")
        self.expect_error("creating local folder")

    def test_database_client_copies(self):
        for name in ["AXCWS32.DLL", "ADSLOC32.DLL", "ACE32.DLL"]:
            shared = self.box.path("AXS", name)
            os.rename(shared, shared + ".SAVED")
            self.assertEqual(self.expect_error("copying " + name), 2)
            os.rename(shared + ".SAVED", shared)
            shutil.rmtree(self.box.drive_c("C:\\_$MERIXA"))  # so that the next start copies again

    def test_settings_copy_failures(self):
        self.box.launcher()
        os.remove(self.box.path("AXS", "ADS.INI"))
        os.symlink("MISSING.INI", self.box.path("AXS", "ADS.INI"))
        self.assertEqual(self.expect_error("copying ADS.INI"), 2)
        os.remove(self.box.path("AXS", "ADS.INI"))
        with open(self.box.path("AXS", "ADS.INI"), "w") as f:
            f.write("[SETTINGS]\r\n")
        qzsandbox.write_attributes(self.local("ADS.INI"), qzsandbox.READ_ONLY)
        self.expect_message("Files marked as READONLY in %s (including sub-folders)"
                            % self.local_folder())

    def test_configuration_cannot_be_created(self):
        self.box.launcher()
        os.remove(self.local("ADSLOCAL.CFG"))
        os.makedirs(self.local("ADSLOCAL.CFG"))
        started = time.monotonic()
        self.assertEqual(self.expect_error("creating ADSLOCAL.CFG"), 5)
        self.assertGreaterEqual(time.monotonic() - started, 2.2)  # nine pauses of 250 ms

    def test_configuration_copy(self):
        self.box.launcher()
        os.makedirs(self.local("ADSLOCAL.CPY"))
        self.expect_error("copying ADSLOCAL.CPY", "", "INSTALL")

    def test_spreadsheet_library_and_message_file(self):
        os.remove(self.box.path("XLS", "libxl.dll"))
        self.assertEqual(self.expect_error("copying libxl.dll"), 2)
        self.box = Sandbox(BIN)
        self.addCleanup(self.box.close)
        os.remove(self.box.path("LOCALMSG.TXT"))
        self.assertEqual(self.expect_error("copying LOCALMSG.TXT"), 2)

    def test_application_that_cannot_run(self):
        with open(self.box.path("PURCHASE.EXE"), "w") as f:
            f.write("not a program")
        self.box.log_messages()
        self.box.launcher()
        self.assertRegex(self.box.last_message(), r"^#\d+ - Unable to run Varnolet$")

    def test_overlong_local_folder(self):
        folder = "C:\\" + "f" * 256
        self.expect_message("Local folder too long (%s)" % folder, folder)


class RelayRequestTest(LauncherCase):
    def setUp(self):
        super().setUp()
        self.box.log_messages()

    def test_messages(self):
        self.box.launcher("", "", "ERR:Backup failed")
        self.assertEqual(self.box.last_message(), "Backup failed")
        self.box.launcher("", "", "Backup starts at 22:00")
        self.assertEqual(self.box.last_message(), "Backup starts at 22:00")
        self.assertEqual(self.box.start_records(0, timeout=0), [])

    def test_message_file(self):
        with open(self.box.path("NOTE.TXT"), "wb") as f:
            f.write(b"Server restart\r\nat noon\r\nignored")
        self.box.launcher("", "note", "22", "NOTE.TXT")
        self.assertEqual(self.box.last_message(), "Server restart\nat noon")
        self.assertFalse(os.path.exists(self.box.path("NOTE.TXT")))

    def test_run_request(self):
        command = "PURCHASE.EXE QZWINIT C:\\Relay\\ relayed"
        with open(self.box.path("RUN.REQ"), "w") as f:
            f.write(command)
        started = time.monotonic()
        self.box.launcher("", "{RUN}", str(len(command)), "RUN.REQ")
        self.assertGreaterEqual(time.monotonic() - started, 1.0)
        with open(self.box.path("RUN.REQ")) as f:
            self.assertEqual(f.read(), "OK")
        self.assertEqual(self.box.start_records()[0][1], "QZWINIT C:\\Relay\\ relayed")

    def test_run_request_without_a_program(self):
        with open(self.box.path("RUN.REQ"), "w") as f:
            f.write("nightly.bat")
        self.box.launcher("", "{RUN}", "11", "RUN.REQ")
        with open(self.box.path("RUN.REQ")) as f:
            self.assertEqual(f.read(), "Could not locate EXE in calling string")

    def test_run_request_file_missing(self):
        self.box.launcher("", "{RUN}", "11", "MISSING.REQ")
        with open(self.box.path("MISSING.REQ")) as f:
            self.assertEqual(f.read(), "2 (fopen)")


if __name__ == "__main__":
    BIN = os.path.abspath(sys.argv.pop(1))
    unittest.main()
