"""The file server's wrapper run-backup and its monitoring, end to end: the
wrapper from deploy/debian/ runs the built QZBACKUP.EXE on a sample root and
reports each run to a dead-man's switch (an HTTP recorder on loopback), the
node exporter's textfile collector (the real prometheus-node-exporter,
scraped over HTTP) and mail (msmtp as the sendmail, talking to an SMTP
recorder on loopback); check_varnolet_backup reads the root as a monitoring
host would.

    python3 watch_e2e.py BINDIR [unittest options]
"""

import http.server
import os
import shutil
import signal
import socket
import socketserver
import subprocess
import sys
import threading
import time
import unittest
import urllib.request

import qzsandbox
from qzsandbox import Sandbox

BIN = None
DEPLOY = os.path.join(qzsandbox.REPO, "deploy", "debian")
JOB = os.path.join(os.path.dirname(os.path.abspath(__file__)), "backup_job.py")
LOCKED = "THE SYSTEM IS ALREADY LOCKED-DOWN - CANNOT CONTINUE"


class PingRecorder(http.server.ThreadingHTTPServer):
    """Records every request as (method, path, body)."""

    def __init__(self):
        self.pings = []

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(handler):
                self.record(handler, b"")

            def do_POST(handler):
                length = int(handler.headers.get("Content-Length", 0))
                self.record(handler, handler.rfile.read(length))

            def log_message(handler, *args):
                pass

        super().__init__(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d/ping/abc" % self.server_address[1]
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def record(self, handler, body):
        self.pings.append((handler.command, handler.path, body.decode("latin-1")))
        handler.send_response(200)
        handler.end_headers()


class SmtpRecorder(socketserver.ThreadingTCPServer):
    """Just enough SMTP to take mail: records each message's data."""
    daemon_threads = True

    def __init__(self):
        self.messages = []
        recorder = self

        class Handler(socketserver.StreamRequestHandler):
            def handle(self):
                self.wfile.write(b"220 recorder ESMTP\r\n")
                for line in self.rfile:
                    command = line.strip().upper()
                    if command == b"DATA":
                        self.wfile.write(b"354 go on\r\n")
                        data = b"".join(iter(self.rfile.readline, b".\r\n"))
                        recorder.messages.append(data.decode("utf-8", "replace"))
                    elif command == b"QUIT":
                        self.wfile.write(b"221 bye\r\n")
                        return
                    elif command.startswith(b"EHLO"):
                        self.wfile.write(b"250 recorder\r\n")
                        continue
                    self.wfile.write(b"250 ok\r\n")

        super().__init__(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.serve_forever, daemon=True).start()


class NodeExporter:
    """The real node exporter with only its textfile collector, on loopback."""

    def __init__(self, folder):
        self.port = qzsandbox.free_port()
        self.process = subprocess.Popen(
            ["prometheus-node-exporter", "--web.listen-address=127.0.0.1:%d" % self.port,
             "--collector.disable-defaults", "--collector.textfile",
             "--collector.textfile.directory=" + folder],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 20
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                if time.monotonic() > deadline or self.process.poll() is not None:
                    raise
                time.sleep(0.1)

    def scrape(self):
        with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % self.port) as page:
            return page.read().decode()

    def stop(self):
        self.process.terminate()
        self.process.wait()


class WrapperCase(unittest.TestCase):
    """The wrapper, its shared run-log reader and the check plugin copied
    beside the built monitor, as the package installs them."""

    def setUp(self):
        self.box = Sandbox(BIN, name="qz-watch-")
        self.addCleanup(self.box.close)
        self.programs = os.path.join(self.box.top, "lib")
        os.makedirs(self.programs)
        for name in ["run-backup", "runlog.awk", "check_varnolet_backup"]:
            shutil.copy(os.path.join(DEPLOY, name), self.programs)
        os.symlink(os.path.join(BIN, "QZBACKUP.EXE"), os.path.join(self.programs, "QZBACKUP.EXE"))
        self.configs = os.path.join(self.box.top, "etc")
        os.makedirs(self.configs)
        self.box.env["VARNOLET_CONFIG_DIR"] = self.configs
        # The wine prefix's stand-in: its dosdevices are the sandbox's, drive C: is there.
        self.prefix = os.path.join(self.box.top, "prefix")
        os.makedirs(self.prefix)
        os.symlink("../dosdevices", os.path.join(self.prefix, "dosdevices"))
        self.metrics = os.path.join(self.box.top, "metrics")
        # The tests' job writes its copy and its list of files in a folder of the run's.
        self.target = os.path.join(self.box.top, "backup", "target")
        qzsandbox.run_as_account(self.box.env, self.box.top, self.box.root, self.box.c,
                                 self.prefix, self.metrics, os.path.dirname(self.target))

    def configure(self, **settings):
        values = dict(ROOT=self.box.root, BACKUP_COMMAND=JOB, MODE="FULL", BACKUP_MINUTES="5",
                      LOCKDOWN_ITEM1="ACME", LOCKDOWN_ITEM2="NIGHT", LOCKDOWN_MINUTES="1",
                      LOCAL_FOLDER="'C:\\_$MERIXA'", WINEPREFIX=self.prefix,
                      QZ_BACKUP_TARGET=self.target, **settings)
        with open(os.path.join(self.configs, "night.conf"), "w") as f:
            f.write("".join("%s=%s\n" % item for item in values.items()))
        # run-backup trusts only a configuration that no one else may change.
        os.chmod(os.path.join(self.configs, "night.conf"), 0o644)

    def run_backup(self):
        result = self.box.run(os.path.join(self.programs, "run-backup"), "night",
                              cwd=self.box.top, timeout=600)
        result.stdout, result.stderr = result.stdout.decode(), result.stderr.decode()
        return result

    def check(self, *args):
        result = subprocess.run([os.path.join(self.programs, "check_varnolet_backup"),
                                 "-r", self.box.root, *args], capture_output=True, text=True)
        return result.returncode, result.stdout

    def lock_down(self):
        with open(self.box.path("LOCKDOWN.SYS"), "w") as f:
            f.write("left behind")


class ChannelsCase(WrapperCase):
    """Every channel set, each with a recorder."""

    def setUp(self):
        super().setUp()
        self.pings = PingRecorder()
        self.addCleanup(self.pings.server_close)
        self.addCleanup(self.pings.shutdown)
        self.smtp = SmtpRecorder()
        self.addCleanup(self.smtp.server_close)
        self.addCleanup(self.smtp.shutdown)
        self.exporter = NodeExporter(self.metrics)
        self.addCleanup(self.exporter.stop)
        # msmtp as the system's sendmail, sending to the recorder.
        tools = os.path.join(self.box.top, "tools")
        os.makedirs(tools)
        rc = os.path.join(tools, "msmtprc")
        with open(rc, "w") as f:
            f.write("account default\nhost 127.0.0.1\nport %d\nfrom backup@server.test\n"
                    "auth off\ntls off\n" % self.smtp.server_address[1])
        with open(os.path.join(tools, "sendmail"), "w") as f:
            f.write('#!/bin/sh\nexec msmtp -C %s "$@"\n' % rc)
        os.chmod(os.path.join(tools, "sendmail"), 0o755)
        os.chmod(rc, 0o600)
        qzsandbox.run_as_account(self.box.env, self.box.top, tools)
        self.box.env.update(PATH=tools + ":" + self.box.env["PATH"])
        self.configure_channels(MAIL_ON="always")

    def configure_channels(self, **settings):
        self.configure(PING_URL=self.pings.url, METRICS_DIR=self.metrics,
                       MAIL_TO="admin@office.test", **settings)

    def metrics_file(self):
        with open(os.path.join(self.metrics, "varnolet-backup-night.prom")) as f:
            text = f.read()
        check = subprocess.run(["promtool", "check", "metrics"], input=text, text=True,
                               capture_output=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        return dict(line.rsplit(" ", 1) for line in text.splitlines() if line[0] != "#")



class ChannelsTest(ChannelsCase):
    def test_a_failed_and_a_completed_run_reach_every_channel(self):
        self.lock_down()
        failed = self.run_backup()
        self.assertEqual(failed.returncode, 1, failed)
        self.assertEqual([(method, path) for method, path, _ in self.pings.pings],
                         [("GET", "/ping/abc/start"), ("POST", "/ping/abc/fail")])
        # The failure ping carries the run's log lines and the outcome.
        body = self.pings.pings[1][2]
        self.assertRegex(body, r"QZBACKUP\.LOG:\n\d\d/\d\d/\d\d \d\d:\d\d:\d\d Backup run started")
        self.assertRegex(body, "Run failed: " + LOCKED + "\n")
        self.assertTrue(body.endswith("QZBACKUP.ERR:\n" + LOCKED + "\n"), body)
        values = self.metrics_file()
        label = '{config="night"}'
        self.assertEqual(values["varnolet_backup_last_run_success" + label], "0")
        self.assertEqual(values["varnolet_backup_last_success_timestamp_seconds" + label], "0")
        self.assertEqual(values["varnolet_backup_lockdown_left_behind" + label], "1")
        scraped = self.exporter.scrape()
        self.assertIn("varnolet_backup_lockdown_left_behind" + label + " 1\n", scraped)
        self.assertIn("node_textfile_scrape_error 0\n", scraped)
        self.assertEqual(len(self.smtp.messages), 1)
        self.assertIn("Subject: Varnolet backup night on ", self.smtp.messages[0])
        self.assertIn(": FAILED\r\n", self.smtp.messages[0])
        code, line = self.check()
        self.assertEqual(code, 2, line)
        self.assertRegex(line, r"^VARNOLET BACKUP CRITICAL - the last run failed: " + LOCKED +
                         "; LOCKDOWN.SYS is left behind by the run of .*, which has ended")

        os.remove(self.box.path("LOCKDOWN.SYS"))
        started = time.time()
        completed = self.run_backup()
        self.assertEqual(completed.returncode, 0, completed)
        self.assertEqual([(method, path) for method, path, _ in self.pings.pings[2:]],
                         [("GET", "/ping/abc/start"), ("POST", "/ping/abc")])
        self.assertRegex(self.pings.pings[3][2], r"Marking: \d+ files marked.*\n(.*\n)*.* Run completed\n")
        values = self.metrics_file()
        self.assertEqual(values["varnolet_backup_last_run_success" + label], "1")
        self.assertEqual(values["varnolet_backup_lockdown_left_behind" + label], "0")
        self.assertGreaterEqual(int(values["varnolet_backup_last_success_timestamp_seconds" + label]),
                                int(started))
        for phase in ["lockdown", "marking", "backup"]:
            self.assertIn('varnolet_backup_phase_seconds{config="night",phase="%s"}' % phase, values)
        self.assertGreater(int(values['varnolet_backup_marking_files{config="night",result="marked"}']), 10)
        scraped = self.exporter.scrape()
        self.assertIn("varnolet_backup_last_run_success" + label + " 1\n", scraped)
        self.assertIn("node_textfile_scrape_error 0\n", scraped)
        self.assertIn(": completed\r\n", self.smtp.messages[1])
        code, line = self.check()
        self.assertEqual(code, 0, line)
        self.assertRegex(line, r"^VARNOLET BACKUP OK - the last run completed 0\.0 hours ago \| "
                         r"age=\d+s;104400;108000;0 lockdown=\d+s marking=\d+s backup=\d+s\n$")


    def test_without_mail_on_a_failed_run_alone_mails_and_the_last_success_stays(self):
        self.configure_channels()
        completed = self.run_backup()
        self.assertEqual(completed.returncode, 0, completed)
        self.assertEqual(self.smtp.messages, [])
        last_success = "varnolet_backup_last_success_timestamp_seconds{config=\"night\"}"
        success = self.metrics_file()[last_success]
        self.lock_down()
        failed = self.run_backup()
        self.assertEqual(failed.returncode, 1, failed)
        self.assertEqual(len(self.smtp.messages), 1)
        self.assertIn(": FAILED\r\n", self.smtp.messages[0])
        values = self.metrics_file()
        self.assertEqual(values['varnolet_backup_last_run_success{config="night"}'], "0")
        self.assertEqual(values[last_success], success)


class StopReportTest(ChannelsCase):
    def test_a_run_stopped_in_the_backup_wait_frees_the_users_and_reports_the_stop(self):
        # A file that the job leaves keeps the backup wait going.
        self.configure_channels(QZ_BACKUP_LEAVE="DATA/ORDERS.DBF")
        with open(os.path.join(self.box.top, "wrapper.out"), "wb") as out:
            wrapper = subprocess.Popen([os.path.join(self.programs, "run-backup"), "night"],
                                       cwd=self.box.top, env=self.box.env, stdout=out,
                                       stderr=subprocess.STDOUT)
        self.addCleanup(wrapper.kill)
        waiting = qzsandbox.wait_for(lambda: wrapper.poll() is not None or any(
            event.startswith("Backup running for") for event in self.run_log_events()), 300)
        self.assertTrue(waiting)
        self.assertIsNone(wrapper.poll())
        wrapper.send_signal(signal.SIGTERM)
        self.assertEqual(wrapper.wait(timeout=120), 1)
        stopped = "BACKUP RUN STOPPED BY SIGTERM"
        self.assertFalse(os.path.exists(self.box.path("LOCKDOWN.SYS")))
        self.assertEqual(self.box.error_files(), [b"\r\n" + stopped.encode() + b"\x1a"] * 2)
        self.assertEqual(self.run_log_events()[-1], "Run failed: " + stopped)
        self.assertEqual([(method, path) for method, path, _ in self.pings.pings],
                         [("GET", "/ping/abc/start"), ("POST", "/ping/abc/fail")])
        self.assertIn("Run failed: " + stopped + "\n", self.pings.pings[1][2])
        self.assertIn("run-backup: the run was stopped by SIGTERM", self.pings.pings[1][2])
        self.assertEqual(self.metrics_file()['varnolet_backup_last_run_success{config="night"}'], "0")
        self.assertIn(": FAILED\r\n", self.smtp.messages[0])

    def run_log_events(self):
        try:
            return self.box.run_log() or []
        except FileNotFoundError:
            return []


class UnansweredPingTest(WrapperCase):
    def test_a_ping_url_that_never_answers_costs_only_seconds(self):
        # A listener that takes connections and never answers them.
        silent = socket.socket()
        silent.bind(("127.0.0.1", 0))
        silent.listen(16)
        self.addCleanup(silent.close)
        self.configure(PING_URL="http://127.0.0.1:%d/ping" % silent.getsockname()[1])
        self.lock_down()
        started = time.monotonic()
        result = self.run_backup()
        self.assertLess(time.monotonic() - started, 45)
        self.assertEqual(result.returncode, 1, result)
        self.assertIn("run-backup: the ping to http://127.0.0.1:%d/ping/fail failed"
                      % silent.getsockname()[1], result.stderr)
        self.assertTrue(result.stdout.endswith(LOCKED + "\n"), result.stdout)


class CheckPluginTest(WrapperCase):
    """The plugin's state for each state of a root, from the files a run leaves."""

    def status_file(self, name, text, hours_ago):
        path = self.box.path("UTILS", "QZBACKUP", name)
        with open(path, "w") as f:
            f.write("\r\n" + text + "\x1a")
        then = time.time() - hours_ago * 3600
        os.utime(path, (then, then))

    def append_run_log(self, *events):
        """Appends (hours ago, text) events to the run log, dated in local time."""
        with open(self.box.path("UTILS", "QZBACKUP", "QZBACKUP.LOG"), "a") as f:
            for hours_ago, text in events:
                stamp = time.strftime("%m/%d/%y %H:%M:%S", time.localtime(time.time() - hours_ago * 3600))
                f.write("%s %s\r\n" % (stamp, text))

    def start_run(self, hours_ago):
        self.append_run_log((hours_ago, "Backup run started in /srv/root: JOB FULL 5 A B"),
                            (hours_ago, "Mode FULL, backup command JOB, backup minutes 5, lock-down "
                                        "minutes 1, local folder C:\\_$MERIXA"),
                            (hours_ago, "Lock-down in force after 15 s"))

    def test_each_state_of_a_root(self):
        self.status_file("QZBACKUP.OK", "COMPLETED ON 12/08/26 @ 02:03:00", 31)
        self.assertEqual(self.check()[0], 2)
        self.assertRegex(self.check()[1], r"^VARNOLET BACKUP CRITICAL - the last completed run "
                         r"ended 31\.0 hours ago \(critical: 30\) \| age=11160\ds;")
        self.assertEqual(self.check("-c", "32")[0], 1)
        self.assertRegex(self.check("--critical=32")[1], r"^VARNOLET BACKUP WARNING - the last "
                         r"completed run ended 31\.0 hours ago \(warning: 29\) \|")
        self.assertEqual(self.check("-w", "32", "-c", "33")[0], 0)
        # A run in progress, which erased QZBACKUP.OK when it started and
        # holds the lock-down: the state is the last completed run's, whose
        # end the run log gives.
        self.start_run(31.1)
        self.append_run_log((31, "Run completed"))
        os.remove(self.box.path("UTILS", "QZBACKUP", "QZBACKUP.OK"))
        self.start_run(0.01)
        self.lock_down()
        code, line = self.check("-w", "32", "-c", "33")
        self.assertEqual(code, 0, line)
        self.assertRegex(line, r"^VARNOLET BACKUP OK - a run is in progress since \S+ \S+; the last "
                         r"completed run ended 31\.0 hours ago \| age=11160\ds;115200;118800;0 "
                         r"lockdown=15s\n$")
        self.assertEqual(self.check()[0], 2)
        # It fails; the failure text, which a user may have written, keeps
        # to one line before the performance data.
        self.append_run_log((0, "Run failed: ERROR WHILE LOCKING DOWN SYSTEM"))
        os.remove(self.box.path("LOCKDOWN.SYS"))
        self.status_file("QZBACKUP.ERR", "ERROR WHILE LOCKING DOWN SYSTEM\r\n\r\nUsers in | ACME", 0)
        code, line = self.check("-w", "32", "-c", "33")
        self.assertEqual(code, 2)
        self.assertRegex(line, r"^VARNOLET BACKUP CRITICAL - the last run failed: ERROR WHILE "
                         r"LOCKING DOWN SYSTEM Users in / ACME; the last completed run ended "
                         r"31\.0 hours ago \| age=11160\ds;115200;118800;0 lockdown=15s\n$")
        # A run cut off past its limits, its lock-down left behind.
        os.remove(self.box.path("UTILS", "QZBACKUP", "QZBACKUP.ERR"))
        self.lock_down()
        os.utime(self.box.path("LOCKDOWN.SYS"), (time.time() - 3 * 3600,) * 2)
        self.start_run(3)
        code, line = self.check("-w", "32", "-c", "33")
        self.assertEqual(code, 2, line)
        self.assertRegex(line, r"^VARNOLET BACKUP CRITICAL - the last run, started \S+ \S+, did not "
                         r"finish; LOCKDOWN.SYS is left behind by the run of .*: the users are "
                         r"locked out; the last completed run ended 31\.0 hours ago \|")
        # A status file dated in the future tells nothing.
        self.status_file("QZBACKUP.OK", "COMPLETED ON 12/08/40 @ 02:03:00", -24)
        self.assertRegex(self.check()[1], r"^VARNOLET BACKUP UNKNOWN - .*QZBACKUP.OK is dated in "
                         r"the future")
        self.assertEqual(self.check()[0], 3)
        self.assertEqual(self.check("-r", os.path.join(self.box.top, "nowhere"))[0], 3)
        code, line = self.check("-r", self.box.top)
        self.assertEqual((code, line), (3, "VARNOLET BACKUP UNKNOWN - %s is not a Varnolet shared "
                                           "root (no UTILS/QZTSTDIR/QZTSTDIR.CHK)\n" % self.box.top))
        self.assertEqual(self.check("-w")[0], 3)

    def test_thresholds_are_decimal_hours_and_checked(self):
        self.status_file("QZBACKUP.OK", "COMPLETED ON 12/08/26 @ 02:03:00", 9)
        code, line = self.check("-w", "08", "-c", "010")
        self.assertEqual(code, 1, line)
        self.assertIn("(warning: 8) | age=324", line)
        for wrong in (["-w", "30", "-c", "20"], ["-w", "0"], ["-c", "99999"], ["-w", "1e3"]):
            code, line = self.check(*wrong)
            self.assertEqual(code, 3, wrong)
            self.assertRegex(line, r"^VARNOLET BACKUP UNKNOWN - .*; usage: check_varnolet_backup ")
        version = subprocess.run([os.path.join(self.programs, "check_varnolet_backup"), "-V"],
                                 capture_output=True, text=True)
        self.assertEqual(version.returncode, 3)
        self.assertRegex(version.stdout, r"^check_varnolet_backup \S")


if __name__ == "__main__":
    BIN = os.path.abspath(sys.argv.pop(1))
    unittest.main()
