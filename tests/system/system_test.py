#!/usr/bin/env python3
"""The system tier: the release's file-server package on a booted Debian.

    python3 system_test.py BUILDDIR GROUP [unittest options]

ReleaseTest reuses the release tier's copy of dist/ (BUILDDIR/release-first)
when no file of the package has changed since it was made, and else makes it
as that tier does. DebianRootTest makes a Debian root once (debootstrap, then
the packages that the runs need) and keeps it in $VARNOLET_SYSTEM_CACHE, by
default /var/cache/varnolet-system, outside the source tree; later runs find
it ready. BootedServerTest boots it with systemd-nspawn, a real systemd as
PID 1, on an overlay that keeps the cached root as it is; installs the
release's .deb with apt; serves a sample root with Samba; and then runs the
units as an administrator would, in order. What it saw (the journals of a
completed and a failed run, the failure's pings, the restore's comparison,
the sandbox's rating) is kept in BUILDDIR/system-report. The last two need
root.
"""

import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(os.path.dirname(HERE), "e2e"), os.path.join(os.path.dirname(HERE), "release")]
import qzsandbox  # noqa: E402
import release_test  # noqa: E402

BUILD = None
SUITE = "bookworm"
CACHE = os.environ.get("VARNOLET_SYSTEM_CACHE") or "/var/cache/varnolet-system"
ROOT = os.path.join(CACHE, SUITE)
HOST_ARCHIVES = "/var/cache/apt/archives"
# Installed once into the root, so that a run needs no network: the
# package's recommendations (wine, xvfb with xauth for xvfb-run, smbclient),
# the libraries its programs link, Samba to serve the sample root, curl for
# run-backup's pings, python3 for the ping recorder and postfix for its mail.
PACKAGES = ["wine", "wine64", "xvfb", "xauth", "smbclient", "samba", "curl", "python3",
            "postfix", "libffi8", "libstdc++6"]
# Samba's other daemons: NetBIOS has no network to announce itself on in the
# container, and the domain controller is not wanted.
MASKED = ["nmbd.service", "samba-ad-dc.service"]

NAME = "night"
UNIT = "varnolet-backup@%s.service" % NAME
TIMER = "varnolet-backup@%s.timer" % NAME
SHARE = "/srv/varnolet"
ARCHIVES = "/var/lib/varnolet/%s/archives" % NAME
EXCHANGE = "/mnt/exchange"
PING_PORT = 8089
# The share's group, which the runs' account joins.
SHARE_GROUP = "purchasing"
# The share's Samba configuration, as the server guide gives it (guests stand for
# its users here): every file and folder stays the share group's to change.
SMB_CONF = """[global]
  server role = standalone server
  map to guest = Bad User
  disable netbios = yes
  load printers = no
  printing = bsd
  printcap name = /dev/null
[varnolet]
  path = %s
  read only = no
  guest ok = yes
  force group = %s
  create mask = 0660
  force create mode = 0660
  directory mask = 2770
  force directory mode = 2770
  wide links = no
""" % (SHARE, SHARE_GROUP)
# The server guide's steps that give the share's files to its group, and the
# account to the group; and the account to postfix's group for its mail.
SHARE_SETUP = """groupadd {group}
usermod -aG {group} varnolet
chgrp -R {group} {share}
chmod -R g+rwX,o-rwx {share}
find {share} -type d -exec chmod g+s {{}} +
usermod -aG postdrop varnolet
""".format(group=SHARE_GROUP, share=SHARE)
# A folder outside the share that the share's group has no rights to.
PRIVATE = "install -d -m 0770 /srv/private && echo secret >/srv/private/secret.txt"
# The restore that the server guide gives: the last full archive, then each
# incremental archive written after it, in order, into an empty folder.
RESTORE = """cd %s
full=$(ls full-*.tar | tail -n 1)
tar -C /srv/restored -xf "$full"
for incremental in incremental-*.tar; do
  [[ ${incremental#incremental-} > ${full#full-} ]] && tar -C /srv/restored -xf "$incremental"
done
true
""" % ARCHIVES
# The guide's restore of one file: the newest archive that holds it, put
# back through the share (as a guest here).
RESTORE_ONE = """cd %s
file=./DATA/ORDERS.DBF
newest=$(ls full-*.tar incremental-*.tar | sort -t- -k2 -r |
         while read -r archive; do
           tar -tf "$archive" "$file" >/dev/null 2>&1 && { echo "$archive"; break; }
         done)
echo "$newest"
tar -xOf "$newest" "$file" >/tmp/ORDERS.DBF
smbclient //localhost/varnolet -N -c 'cd DATA; put /tmp/ORDERS.DBF ORDERS.DBF'
""" % ARCHIVES
# The weekly plan of the example configuration: one job that follows the
# mode, FULL on one weekday. The runs here choose the weekday.
TODAY = time.strftime("%A").upper()
OTHER_DAY = time.strftime("%A", time.localtime(time.time() + 86400)).upper()


def report(name, text):
    """Keeps what the tier saw, for whoever reads its results."""
    folder = os.path.join(BUILD, "system-report")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "w") as f:
        f.write(text)


def host_mirror():
    """The host's own mirror of the suite's main component, as apt knows it;
    none (debootstrap's default) when the host has none."""
    listed = subprocess.run(["apt-get", "indextargets", "--format",
                             "$(RELEASE) $(COMPONENT) $(IDENTIFIER) $(REPO_URI)"],
                            capture_output=True, text=True).stdout
    for line in listed.splitlines():
        release, component, identifier, uri = (line.split(" ") + ["", "", "", ""])[:4]
        if (release, component, identifier) == (SUITE, "main", "Packages"):
            return [uri]
    return []


def run_quietly(command):
    """Runs a command whose output matters only when it fails."""
    result = subprocess.run(command, capture_output=True, text=True, stdin=subprocess.DEVNULL)
    assert result.returncode == 0, (command, result.stdout[-3000:], result.stderr[-3000:])


def make_root():
    """Makes the Debian root, unless it is ready with today's packages; the
    host's downloaded packages are used where they fit. True when made."""
    stamp = ROOT + ".ready"
    wanted = " ".join(PACKAGES + ["masked:"] + MASKED) + "\n"
    if os.path.isdir(ROOT) and os.path.isfile(stamp):
        with open(stamp) as f:
            if f.read() == wanted:
                return False
    made = ROOT + ".new"
    for folder in (ROOT, made):
        shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(CACHE, exist_ok=True)
    archives = os.path.isdir(HOST_ARCHIVES)
    run_quietly(["debootstrap", "--variant=minbase", "--include=systemd,systemd-sysv,dbus",
                 *(["--cache-dir=" + HOST_ARCHIVES] if archives else []), SUITE, made,
                 *host_mirror()])
    # debootstrap's copies of the packages are not needed in the root.
    for name in os.listdir(os.path.join(made, "var/cache/apt/archives")):
        if name.endswith(".deb"):
            os.remove(os.path.join(made, "var/cache/apt/archives", name))
    install = ("apt-get install -y -q --no-install-recommends -o APT::Sandbox::User=root "
               + " ".join(PACKAGES) + " && systemctl disable smbd.service && systemctl mask "
               + " ".join(MASKED))
    run_quietly(["systemd-nspawn", "--quiet", "--register=no", "--keep-unit",
                 "--directory=" + made, "--setenv=DEBIAN_FRONTEND=noninteractive",
                 *(["--bind=" + HOST_ARCHIVES] if archives else []), "sh", "-c", install])
    os.rename(made, ROOT)
    with open(stamp, "w") as f:
        f.write(wanted)
    return True


class Container:
    """The root booted with systemd-nspawn: an overlay in memory takes its
    changes (so the cached root stays as it is), it has a network of its own
    with a loopback alone, and the host folders of `binds` are bound into it.
    Commands run inside it through nsenter."""

    def __init__(self, binds, log):
        self.log = open(log, "wb")
        self.leader = None
        self.nspawn = subprocess.Popen(
            ["systemd-nspawn", "--quiet", "--directory=" + ROOT, "--boot", "--register=no",
             "--keep-unit", "--volatile=overlay", "--private-network", "--console=read-only",
             *["--bind=%s:%s" % bind for bind in binds]],
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT)
        try:
            self.leader = self.find_leader()
            deadline = time.monotonic() + 300
            while True:  # until its systemd answers, then until it has booted
                state = self.run("systemctl", "is-system-running", "--wait", check=False,
                                 timeout=300)
                if state.stdout.strip() not in ("", "offline") or time.monotonic() > deadline:
                    break
                time.sleep(0.2)
            assert state.stdout.strip() == "running", (
                state, self.run("systemctl", "--failed", check=False).stdout)
        except BaseException:
            self.stop()
            raise

    def find_leader(self):
        """The container's systemd: the child of systemd-nspawn that runs it
        (an earlier child only prepares the container)."""
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            assert self.nspawn.poll() is None, "systemd-nspawn ended; see its log"
            for pid in filter(str.isdigit, os.listdir("/proc")):
                try:
                    with open("/proc/%s/stat" % pid) as f:
                        name, fields = f.read().split(" (", 1)[1].rsplit(") ", 1)
                except (OSError, ValueError):
                    continue
                if name == "systemd" and int(fields.split()[1]) == self.nspawn.pid:
                    return int(pid)
            time.sleep(0.1)
        raise AssertionError("the container's systemd did not start")

    def run(self, *command, check=True, input=None, timeout=120):
        result = subprocess.run(
            ["nsenter", "--target", str(self.leader), "--all", "env", "-i",
             "PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LANG=C.UTF-8", "SYSTEMD_COLORS=0", *command],
            capture_output=True, text=True, input=input, timeout=timeout)
        if check:
            assert result.returncode == 0, (command, result.stdout, result.stderr)
        return result

    def stop(self):
        """Powers the container off (its systemd's SIGRTMIN+4) and waits for it."""
        if self.nspawn.poll() is None:
            try:
                os.kill(self.leader, signal.SIGRTMIN + 4)
                self.nspawn.wait(timeout=120)
            except (subprocess.TimeoutExpired, TypeError, ProcessLookupError):
                self.nspawn.kill()  # its container dies with it
                self.nspawn.wait()
        self.log.close()


def release_is_current():
    """True when BUILD/release-first, the release tier's copy of dist/, was
    made after the last change of every file that goes into a release
    (everything but the tests and the notes)."""
    folder = os.path.join(BUILD, "release-first")
    if not os.path.isdir(folder):
        return False
    made = os.stat(folder).st_mtime
    listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                            cwd=qzsandbox.REPO, capture_output=True, check=True).stdout
    for name in listed.decode().split("\0"):
        path = os.path.join(qzsandbox.REPO, name)
        if (name and not name.startswith("tests/") and not name.endswith(".md")
                and os.path.lexists(path) and os.lstat(path).st_mtime > made):
            return False
    return True


class ReleaseTest(unittest.TestCase):
    def test_release_is_current(self):
        if release_is_current():
            print("The release in %s is current" % os.path.join(BUILD, "release-first"))
            return
        release = "test_release_writes_the_four_files_and_their_sums"
        getattr(release_test.FirstReleaseTest(release), release)()


class DebianRootTest(unittest.TestCase):
    def test_root_is_ready(self):
        started = time.monotonic()
        made = make_root()
        print("Debian root %s in %s: %.0f s" % ("made" if made else "kept from an earlier run",
                                                  ROOT, time.monotonic() - started))
        for program in ("sbin/init", "usr/bin/wine", "usr/bin/xvfb-run", "usr/sbin/smbd"):
            self.assertTrue(os.path.exists(os.path.join(ROOT, program)), program)


def visible_files(folder, hidden=()):
    """{relative path: bytes} of the files below a folder, without those that
    carry the hidden or system attribute there or that `hidden` names."""
    files = {}
    for at, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(at, name)
            relative = os.path.relpath(path, folder)
            attributes = qzsandbox.read_attributes(path)
            if relative not in hidden and not attributes & (qzsandbox.HIDDEN | qzsandbox.SYSTEM):
                with open(path, "rb") as f:
                    files[relative] = f.read()
    return files


def hidden_files(folder):
    return {os.path.relpath(os.path.join(at, name), folder)
            for at, _, names in os.walk(folder) for name in names
            if qzsandbox.read_attributes(os.path.join(at, name))
            & (qzsandbox.HIDDEN | qzsandbox.SYSTEM)}


class BootedServerTest(unittest.TestCase):
    """One booted server for the whole group; its cases run in their order,
    each on what the earlier ones left."""

    @classmethod
    def setUpClass(cls):
        cls.top = tempfile.mkdtemp(prefix="qz-system-")
        cls.addClassCleanup(shutil.rmtree, cls.top, ignore_errors=True)
        cls.share, cls.restored, cls.exchange = (os.path.join(cls.top, name) for name in
                                                 ("share", "restored", "exchange"))
        os.makedirs(cls.restored)
        os.makedirs(cls.exchange)
        # The sample root, with the stand-in application's x86_64 Windows
        # build as PURCHASE.EXE; its files belong to a user of the share.
        subprocess.run([os.path.join(qzsandbox.REPO, "scripts", "make-sample-root"), cls.share,
                        os.path.join(BUILD, "system-bin")], check=True)
        for at, folders, names in os.walk(cls.share):
            for name in [at] + [os.path.join(at, n) for n in folders + names]:
                os.chown(name, 1000, 1000)
        deb = release_test.Dist(os.path.join(BUILD, "release-first")).deb
        for source in (deb, os.path.join(HERE, "ping_recorder.py")):
            shutil.copy(source, cls.exchange)
        cls.box = Container([(cls.share, SHARE), (cls.restored, "/srv/restored"),
                             (cls.exchange, EXCHANGE)],
                            os.path.join(cls.top, "console.log"))
        cls.addClassCleanup(cls.box.stop)
        cls.box.run("apt-get", "install", "-y", "-q", "%s/%s" % (EXCHANGE, os.path.basename(deb)),
                    timeout=300)
        cls.box.run("sh", "-c", SHARE_SETUP + PRIVATE)
        cls.box.run("sh", "-c", "cat >/etc/samba/smb.conf", input=SMB_CONF)
        cls.box.run("systemctl", "start", "smbd.service")

    def configure(self, **settings):
        """/etc/varnolet/night.conf: the packaged example with `settings`, as
        an administrator fills it in (settings it lacks are appended)."""
        text = self.box.run("cat", "/usr/share/doc/varnolet-monitor/examples/example.conf").stdout
        settings = dict(dict(
            BACKUP_COMMAND="/usr/lib/varnolet/jobs/smbtar", MODE="FULL-" + TODAY, BACKUP_MINUTES="10",
            LOCKDOWN_ITEM1="ACME", LOCKDOWN_ITEM2="NIGHT", LOCKDOWN_MINUTES="2",
            WINEPREFIX="/var/lib/varnolet/%s/wine" % NAME, SMB_SHARE="//localhost/varnolet",
            SMB_AUTH_FILE="", BACKUP_TARGET=ARCHIVES, KEEP_FULL_ARCHIVES="4"), **settings)
        for key, value in settings.items():
            text, found = re.subn(r"(?m)^%s=.*$" % key, lambda _: "%s=%s" % (key, value), text)
            if not found:
                text += "%s=%s\n" % (key, value)
        self.box.run("sh", "-c", "cat >/etc/varnolet/%s.conf" % NAME, input=text)

    def start_backup(self):
        """`systemctl start` of the service; its exit code, its result and the
        journal of this run (the run's lines and systemd's own)."""
        started = self.box.run("systemctl", "start", UNIT, check=False, timeout=1200)
        show = dict(line.split("=", 1) for line in self.box.run(
            "systemctl", "show", "-p", "Result,InvocationID", UNIT).stdout.splitlines())
        journal = ""
        for _ in range(50):  # journald may take a moment for the last lines
            journal = self.box.run("journalctl", "--no-pager", "-o", "short-iso",
                                   "_SYSTEMD_INVOCATION_ID=" + show["InvocationID"], "+",
                                   "INVOCATION_ID=" + show["InvocationID"]).stdout
            if re.search(r"QZBACKUP\.(OK|ERR):|%s: " % SHARE, journal):
                break
            time.sleep(0.2)
        return started.returncode, show["Result"], journal

    def archives(self):
        return self.box.run("ls", ARCHIVES).stdout.split()

    def test_1_timer_starts_the_backup_at_two_every_night(self):
        self.box.run("systemctl", "enable", "--now", TIMER)
        listed = self.box.run("systemctl", "list-timers", "--all", "--no-pager", TIMER).stdout
        self.assertRegex(listed, r"\n\w{3} \d{4}-\d\d-\d\d 02:00:00 \w+ .* %s +%s\n" % (
            re.escape(TIMER), re.escape(UNIT)))
        self.assertEqual(self.box.run("systemctl", "is-enabled", TIMER).stdout.strip(), "enabled")
        # The cases below start the runs themselves.
        self.box.run("systemctl", "stop", TIMER)

    def test_2_full_run_completes_in_the_sandbox(self):
        self.configure()
        code, result, journal = self.start_backup()
        report("completed-run.journal", journal)
        self.assertEqual((code, result), (0, "success"), journal)
        self.assertRegex(journal, r"(?s)Backup run started in .* Marking: .* Run completed\n"
                         r".*%s/UTILS/QZBACKUP/QZBACKUP\.OK:\n.*COMPLETED ON " % SHARE)
        # The lock-down went the production way: the packaged POSIX launcher
        # started the root's PURCHASE.EXE, a Windows program, which only wine
        # can run, with drive C: of the wine prefix that the service made.
        with open(os.path.join(self.share, "PURCHASE.EXE"), "rb") as f:
            self.assertEqual(f.read(2), b"MZ")
        with open(os.path.join(self.share, "PURCHASE.LOG"), "rb") as f:
            records = f.read().decode("latin-1").splitlines()
        self.assertEqual(len(records), 1, records)
        self.assertRegex(records[0], r"\tQZWINIT C:\\_\$MERIXA\\([^ ]+)\\ ACME,NIGHT,LOCKDOWN,2$")
        with open(os.path.join(self.share, qzsandbox.IDENTITY)) as f:
            identity = f.read()
        self.box.run("test", "-f", "/var/lib/varnolet/%s/wine/drive_c/_$MERIXA/%s/PURCHASE.EXE"
                     % (NAME, identity))
        self.assertNotIn("Fontconfig error", journal)
        # wine's own lines while it makes the prefix stay in the prefix.
        self.assertNotRegex(journal, r"has been updated|syswow64")
        archives = self.archives()
        self.assertEqual(len(archives), 1, archives)
        self.assertRegex(archives[0], r"^full-\d{8}-\d{6}\.tar$")
        self.assertEqual(self.box.run("stat", "-c", "%a", ARCHIVES + "/" + archives[0]).stdout,
                         "600\n")

    def test_3_refused_lock_down_fails_the_unit(self):
        self.box.run("systemd-run", "--unit=ping-recorder", "python3",
                     EXCHANGE + "/ping_recorder.py", str(PING_PORT), EXCHANGE + "/pings")
        for _ in range(100):
            if os.path.exists(os.path.join(self.exchange, "pings")):
                break
            time.sleep(0.1)
        self.box.run("useradd", "clerk")
        self.configure(LOCKDOWN_ITEM1="AUTORUNERR", MAIL_TO="clerk",
                       PING_URL="http://127.0.0.1:%d/ping/%s" % (PING_PORT, NAME))
        code, result, journal = self.start_backup()
        report("failed-run.journal", journal)
        self.assertNotEqual(code, 0, journal)
        self.assertEqual(result, "exit-code")
        self.assertIn(UNIT, self.box.run("systemctl", "--failed", "--no-legend", "--plain").stdout)
        self.assertIn("Lock-down refused after", journal)
        self.assertIn("%s/UTILS/QZBACKUP/QZBACKUP.ERR:\nERROR WHILE LOCKING DOWN SYSTEM\n" % SHARE,
                      re.sub(r"(?m)^\S+ \S+ \S+: ", "", journal))
        # No archive was written, and none removed.
        self.assertEqual(len(self.archives()), 1)
        # The sandbox lets sendmail hand the report to postfix, which
        # delivers it (postfix's pickup looks at least once a minute).
        for _ in range(100):
            mailbox = self.box.run("cat", "/var/mail/clerk", check=False).stdout
            if "ERROR WHILE LOCKING DOWN SYSTEM" in mailbox:
                break
            time.sleep(1)
        self.assertIn("Lock-down refused after", mailbox)

    def test_4_failure_ping_reaches_the_recorder(self):
        # Needs run-backup's PING_URL setting (the monitoring of every night).
        with open(os.path.join(self.exchange, "pings")) as f:
            pings = [json.loads(line) for line in f]
        report("failed-run.pings", json.dumps(pings, indent=1))
        paths = [ping["path"] for ping in pings]
        self.assertIn("/ping/%s/start" % NAME, paths)
        failures = [ping for ping in pings if ping["path"] == "/ping/%s/fail" % NAME]
        self.assertEqual([ping["method"] for ping in failures], ["POST"], pings)
        self.assertIn("Lock-down refused after", failures[0]["body"])
        self.assertIn("ERROR WHILE LOCKING DOWN SYSTEM", failures[0]["body"])

    def test_5_partial_run_and_restore_give_back_the_share(self):
        # Users change files through the share, which flags them for the
        # incremental job; a deletion leaves no trace in an archive.
        with open(os.path.join(self.exchange, "ORDERS.DBF"), "wb") as f:
            f.write(b"changed orders\r\n" * 300)
        with open(os.path.join(self.exchange, "NEW.FRX"), "wb") as f:
            f.write(b"a new report layout\r\n")
        self.box.run("smbclient", "//localhost/varnolet", "-N", "-c",
                     "put %s/ORDERS.DBF DATA\\ORDERS.DBF; put %s/NEW.FRX REPORTS\\NEW.FRX; "
                     "del DOCS\\INSTALL.TXT" % (EXCHANGE, EXCHANGE))
        self.configure(MODE="FULL-" + OTHER_DAY)
        code, result, journal = self.start_backup()
        self.assertEqual((code, result), (0, "success"), journal)
        archives = self.archives()
        self.assertEqual([a.split("-")[0] for a in archives], ["full", "incremental"], archives)

        self.box.run("bash", "-c", RESTORE)
        hidden = hidden_files(self.share)
        live, restored = visible_files(self.share), visible_files(self.restored, hidden)
        only_restored = sorted(set(restored) - set(live))
        only_live = sorted(set(live) - set(restored))
        differing = sorted(p for p in set(live) & set(restored) if live[p] != restored[p])
        listings = "".join("%s:\n%s" % (archive, self.box.run(
            "tar", "-tvf", "%s/%s" % (ARCHIVES, archive)).stdout) for archive in archives)
        report("restore.txt", "%svisible files in the share: %d\n"
               "restored (without the share's hidden ones): %d\nidentical: %d\n"
               "only restored: %s\nonly in the share: %s\ndiffering: %s\n" % (
                   listings, len(live), len(restored),
                   len(set(live) & set(restored)) - len(differing), only_restored, only_live,
                   differing))
        self.assertEqual(live["DATA/ORDERS.DBF"], b"changed orders\r\n" * 300)
        self.assertEqual(restored["DATA/ORDERS.DBF"], live["DATA/ORDERS.DBF"])
        self.assertEqual(restored["REPORTS/NEW.FRX"], live["REPORTS/NEW.FRX"])
        # Every other file is given back byte for byte, except what the
        # server guide says: a file deleted after the full archive comes back; the
        # archive was taken during the lock-down, so it holds LOCKDOWN.SYS,
        # and not the status file written after it; and a file changed on
        # the server itself rather than through the share (the stand-in's
        # record of its starts, written under wine) is not flagged, so the
        # restore gives back the last archive's copy.
        self.assertEqual(only_restored, ["DOCS/INSTALL.TXT", "LOCKDOWN.SYS"])
        self.assertEqual(only_live, ["UTILS/QZBACKUP/QZBACKUP.OK"])
        self.assertEqual(differing, ["PURCHASE.LOG"])
        self.assertTrue(live["PURCHASE.LOG"].startswith(restored["PURCHASE.LOG"]))

        # A file damaged on the server comes back alone from the newest
        # archive that holds it, flagged for the next incremental archive.
        orders = os.path.join(self.share, "DATA", "ORDERS.DBF")
        with open(orders, "wb") as f:
            f.write(b"damaged")
        qzsandbox.write_attributes(orders, 0)
        newest = self.box.run("bash", "-c", RESTORE_ONE).stdout.splitlines()[0]
        self.assertEqual(newest, archives[1])
        with open(orders, "rb") as f:
            self.assertEqual(f.read(), live["DATA/ORDERS.DBF"])
        self.assertTrue(qzsandbox.read_attributes(orders) & qzsandbox.ARCHIVE)

    def test_6_sandbox_rates_ok(self):
        rating = self.box.run("systemd-analyze", "security", "--no-pager", UNIT).stdout
        report("security.txt", rating)
        level = re.search(r"Overall exposure level for %s: (\d+\.\d+) (\w+)" % re.escape(UNIT),
                          rating)
        self.assertIsNotNone(level, rating)
        self.assertLessEqual(float(level.group(1)), 1.5, rating)
        self.assertEqual(level.group(2), "OK")

    def test_7_replaced_application_has_no_more_rights_than_a_share_user(self):
        # A user of the share puts a program of their own in PURCHASE.EXE's
        # place; the lock-down request starts it under wine.
        shutil.copyfile(os.path.join(BUILD, "system-bin", "hostile_purchase.exe"),
                        os.path.join(self.share, "PURCHASE.EXE"))
        self.configure()
        code, result, journal = self.start_backup()
        report("hostile-run.journal", journal)
        with open(os.path.join(self.share, "ATTACKS.LOG")) as f:
            attacks = f.read()
        report("attacks.txt", attacks)
        # It met the account's rights alone, without capabilities.
        for attempt in ("write /etc/varnolet/planted.conf", "read /etc/shadow", "list /srv/private",
                        "read /srv/private/secret.txt"):
            self.assertIn(attempt + ": refused\n", attacks)
        self.box.run("test", "!", "-e", "/etc/varnolet/planted.conf")
        account = self.box.run("id", "-u", "varnolet").stdout.strip()
        self.assertIn("Uid:\t%s\t%s\t%s\t%s\n" % ((account,) * 4), attacks)
        for capabilities in ("CapInh", "CapPrm", "CapEff", "CapBnd", "CapAmb"):
            self.assertIn("%s:\t0000000000000000\n" % capabilities, attacks)
        # Its answer to the lock-down request still decides the run.
        self.assertEqual((code, result), (0, "success"), journal)
        self.assertIn("Run completed", journal)


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv.pop(1))
    release_test.BUILD = BUILD
    unittest.main()
