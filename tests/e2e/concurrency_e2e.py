"""Eight launchers at once against one shared root and one workstation, many
times over: every start ends with a started application or one of the
launcher's own messages, and afterwards the installation has one
well-formed identity and the local copies match the shared files.

    python3 concurrency_e2e.py BINDIR [unittest options]
"""

import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

import qzsandbox
from qzsandbox import Sandbox

BIN = None
LAUNCHERS = 8
ROUNDS = 25

KNOWN_MESSAGES = re.compile(
    r"Varnolet: (#-?\d+ - Error while (copying (ACE32\.DLL|ADSLOC32\.DLL|AXCWS32\.DLL|ADS\.INI|"
    r"libxl\.dll|LOCALMSG\.TXT|PURCHASE\.EXE|ADSLOCAL\.CPY)|creating ADSLOCAL\.CFG|"
    r"opening id file|reading id file|opening old id file|reading old id file|creating id file|"
    r"creating local folder)|Missing create/modify/delete rights|Unable to set file attributes|"
    r"Files marked as READONLY in .* \(including sub-folders\)|#-?\d+ - Unable to run Varnolet)\n")
IDENTITY = re.compile(r"\d{8}-\d{6}-\d+-\d+-\d+")
COPIES = [("AXS/ACE32.DLL", "ACE32.DLL"), ("AXS/ADSLOC32.DLL", "ADSLOC32.DLL"),
          ("AXS/AXCWS32.DLL", "AXCWS32.DLL"), ("XLS/libxl.dll", "libxl.dll"),
          ("PURCHASE.EXE", "PURCHASE.EXE"), ("LOCALMSG.TXT", "README.TXT")]


class ConcurrentStartTest(unittest.TestCase):
    def setUp(self):
        self.box = Sandbox(BIN)
        self.addCleanup(self.box.close)

    def start_at_once(self):
        """Starts the launchers together; gives what each wrote to standard error."""
        outputs = [tempfile.TemporaryFile() for _ in range(LAUNCHERS)]
        processes = [subprocess.Popen([self.box.path("QZSTART.EXE")], cwd=self.box.root,
                                      env=self.box.env, stdout=subprocess.DEVNULL, stderr=out)
                     for out in outputs]
        for process in processes:
            self.assertEqual(process.wait(timeout=120), 0)
        texts = []
        for out in outputs:
            out.seek(0)
            texts.append(out.read().decode("latin-1"))
            out.close()
        return texts

    def change_shared_files(self, round_number):
        """Gives the shared copies new stamps, and now and then asks for a rights check."""
        stamp = time.time() + 120 * (round_number + 1)
        for shared, _ in COPIES:
            os.utime(self.box.path(shared), (stamp, stamp))
        if round_number % 4 == 3:
            qzsandbox.write_attributes(self.box.path(qzsandbox.RIGHTS_MARKER), qzsandbox.ARCHIVE)

    def expect_local_copies_match(self, folder):
        for shared, local in COPIES:
            with open(self.box.path(shared), "rb") as a, open(os.path.join(folder, local), "rb") as b:
                self.assertEqual(a.read(), b.read(), local)
            self.assertEqual(int(os.stat(self.box.path(shared)).st_mtime) // 60,
                             int(os.stat(os.path.join(folder, local)).st_mtime) // 60, local)

    def test_eight_launchers_at_once(self):
        started = messages = 0
        seen = {}
        for round_number in range(ROUNDS):
            if round_number:
                self.change_shared_files(round_number)
            for text in self.start_at_once():
                if text:
                    self.assertRegex(text, KNOWN_MESSAGES)
                    messages += 1
                    seen[text] = seen.get(text, 0) + 1
                else:
                    started += 1
            records = self.box.start_records(started, timeout=30)
            self.assertEqual(len(records), started)
        print("\n%d starts: %d applications started, %d messages" %
              (ROUNDS * LAUNCHERS, started, messages), file=sys.stderr)
        for text, count in sorted(seen.items()):
            print("  %3d x %s" % (count, text.strip()), file=sys.stderr)
        self.assertGreater(started, 0)

        # One identity, and a start after the storm finds everything in place.
        identity = self.box.identity()
        self.assertRegex(identity, "^" + IDENTITY.pattern + "$")
        result = self.box.launcher()
        self.assertEqual(result.stderr, b"")
        self.assertEqual(self.box.identity(), identity)
        self.expect_local_copies_match(self.box.drive_c("C:\\_$MERIXA\\" + identity + "\\"))
        for _, tail in self.box.start_records(started + 1):
            self.assertRegex(tail, r"^QZWINIT C:\\_\$MERIXA\\" + IDENTITY.pattern + r"\\ $")


if __name__ == "__main__":
    BIN = os.path.abspath(sys.argv.pop(1))
    unittest.main()
