#!/usr/bin/env python3
"""The release tier: scripts/release, the files it writes, and the packaged
file-server monitor run once end to end.

    python3 release_test.py BUILDDIR GROUP [unittest options]

FirstReleaseTest runs scripts/release and keeps its dist/ in
BUILDDIR/release-first; the other groups need that copy. SecondReleaseTest
runs the release again and wants the same bytes, ContentsTest reads the
packages, and PackagedRunTest runs the unpacked Debian package's wrapper on a
sample root (from BUILDDIR/bin) with a real Samba server and the packaged
smbclient job.
"""

import glob
import io
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import time
import unittest
import xml.etree.ElementTree as ElementTree
import zipfile
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "e2e"))
import qzsandbox  # noqa: E402

BUILD = None
REPO = qzsandbox.REPO
# The Windows zips' processors: the toolchain's prefix and the programs' file format.
WINDOWS = {"x86": ("i686-w64-mingw32", "pei-i386"), "x64": ("x86_64-w64-mingw32", "pei-x86-64")}
PE_CHECK = os.path.join(REPO, "tests", "e2e", "pe_check.py")
TASK = "{http://schemas.microsoft.com/windows/2004/02/mit/task}"

WINDOWS_FILES = {
    "DEPLOY.TXT", "QZSTART.EXE", "UTILS/QZBACKUP/QZBACKUP.EXE", "UTILS/QZBACKUP/README.TXT",
    "UTILS/QZBACKUP/QZBACKUP-task.xml", "UTILS/QZBACKUP/XCOPYJOB.BAT",
    "UTILS/QZBACKUP/ROBOJOB.BAT", "UTILS/QZBACKUP/GENCOPY.BAT", "UTILS/QZBACKUP/QZTASK.BAT",
    "UTILS/QZBACKUP/QZCLOCK.JS",
}
PROGRAMS = {"QZSTART.EXE": "Varnolet Startup Utility",
            "UTILS/QZBACKUP/QZBACKUP.EXE": "Varnolet Backup Monitor"}
# The Debian package's files and their modes.
DEB_FILES = {
    "usr/lib/varnolet/QZBACKUP.EXE": 0o755, "usr/lib/varnolet/QZSTART.EXE": 0o755,
    "usr/lib/varnolet/run-backup": 0o755, "usr/lib/varnolet/jobs/smbtar-full": 0o755,
    "usr/lib/varnolet/check_varnolet_backup": 0o755, "usr/lib/varnolet/runlog.awk": 0o644,
    "usr/lib/varnolet/prune-archives": 0o755, "usr/lib/varnolet/smbtar-archive": 0o755,
    "usr/lib/varnolet/jobs/smbtar-incremental": 0o755, "usr/lib/varnolet/jobs/smbtar": 0o755,
    "usr/lib/systemd/system/varnolet-backup@.service": 0o644,
    "usr/lib/systemd/system/varnolet-backup@.timer": 0o644,
    "usr/lib/sysusers.d/varnolet-monitor.conf": 0o644,
    "usr/lib/tmpfiles.d/varnolet-monitor.conf": 0o644,
    "usr/share/doc/varnolet-monitor/copyright": 0o644,
    "usr/share/doc/varnolet-monitor/changelog.gz": 0o644,
    "usr/share/doc/varnolet-monitor/server-guide.md.gz": 0o644,
    "usr/share/man/man8/run-backup.8.gz": 0o644,
    "usr/share/man/man8/check_varnolet_backup.8.gz": 0o644,
    "usr/share/doc/varnolet-monitor/examples/example.conf": 0o644,
    "usr/share/doc/varnolet-monitor/examples/varnolet-backup.rules.yml": 0o644,
}
# The package's links, and what they point to.
DEB_LINKS = {
    "usr/lib/nagios/plugins/check_varnolet_backup": "../../varnolet/check_varnolet_backup",
}


def first_dist():
    return os.path.join(BUILD, "release-first")


def run_release():
    result = subprocess.run([os.path.join(REPO, "scripts", "release")], cwd=REPO,
                            capture_output=True, text=True, timeout=1200)
    assert result.returncode == 0, result.stdout[-3000:] + result.stderr[-3000:]


def read_file(path):
    with open(path, "rb") as f:
        return f.read()


class Dist:
    """The files of a release folder, found by the package's name."""

    def __init__(self, folder):
        self.names = sorted(os.listdir(folder))
        debs = [n for n in self.names if re.fullmatch(r"varnolet-monitor_(.+)_[a-z0-9]+\.deb", n)]
        assert len(debs) == 1, self.names
        self.version = debs[0].split("_")[1]
        self.deb = os.path.join(folder, debs[0])
        # {processor: (zip, debug zip)}
        self.zips = {processor: tuple(os.path.join(folder, "varnolet-%s-windows-%s%s.zip" % (
            self.version, processor, debug)) for debug in ("", "-debug")) for processor in WINDOWS}
        self.zip = self.zips["x86"][0]
        self.contents = {name: read_file(os.path.join(folder, name)) for name in self.names}


class FirstReleaseTest(unittest.TestCase):
    def test_release_writes_the_six_files_and_their_sums(self):
        started = time.time()
        run_release()
        dist = Dist(os.path.join(REPO, "dist"))
        zips = [name for pair in dist.zips.values() for name in pair]
        self.assertEqual(dist.names, sorted(os.path.basename(f) for f in
                                            ["SHA256SUMS", dist.deb] + zips))
        commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], cwd=REPO,
                                capture_output=True, text=True, check=True).stdout.strip()
        self.assertRegex(dist.version, r"^[0-9][A-Za-z0-9.+~]*%s" % commit[:7])
        subprocess.run(["sha256sum", "--check", "--strict", "SHA256SUMS"],
                       cwd=os.path.join(REPO, "dist"), check=True, capture_output=True)
        shutil.rmtree(first_dist(), ignore_errors=True)
        shutil.copytree(os.path.join(REPO, "dist"), first_dist())
        # The copy is dated by the release's start: a source file changed
        # later may not be in it (the system tier reuses a current copy).
        os.utime(first_dist(), (started, started))


class SecondReleaseTest(unittest.TestCase):
    def test_a_second_release_gives_the_same_bytes(self):
        run_release()
        first, second = Dist(first_dist()).contents, Dist(os.path.join(REPO, "dist")).contents
        self.assertEqual(sorted(first), sorted(second))
        self.assertEqual([name for name in first if first[name] != second[name]], [])


def tree_files(folder):
    """{path relative to the folder: host path} of every file below it."""
    return {os.path.relpath(os.path.join(at, name), folder): os.path.join(at, name)
            for at, _, names in os.walk(folder) for name in names}


def read_zip(path):
    with zipfile.ZipFile(path) as archive:
        return {info.filename: archive.read(info) for info in archive.infolist()}


def section_names(program, toolchain):
    listing = subprocess.run([toolchain + "-objdump", "-h", program], capture_output=True,
                             text=True, check=True).stdout
    return re.findall(r"^\s+\d+\s+(\S+)", listing, re.M)


def debug_link(program, folder, toolchain):
    """The file name and CRC that a program's .gnu_debuglink holds."""
    dumped = os.path.join(folder, "link")
    subprocess.run([toolchain + "-objcopy", "--dump-section", ".gnu_debuglink=" + dumped,
                    program, os.path.join(folder, "copy")], check=True)
    with open(dumped, "rb") as f:
        data = f.read()
    name = data[:data.index(b"\0")].decode()
    return name, int.from_bytes(data[-4:], "little")


class ContentsTest(unittest.TestCase):
    def setUp(self):
        self.dist = Dist(first_dist())
        self.temp = tempfile.mkdtemp(prefix="qz-release-")
        self.addCleanup(shutil.rmtree, self.temp, ignore_errors=True)

    def unpack_deb(self, name="deb"):
        tree = os.path.join(self.temp, name)
        subprocess.run(["dpkg-deb", "-x", self.dist.deb, tree], check=True)
        return tree

    def test_windows_zips_hold_release_programs_and_the_deployment_files(self):
        for processor, (toolchain, file_format) in WINDOWS.items():
            with self.subTest(processor):
                self.check_windows_zip(*self.dist.zips[processor], toolchain, file_format)
        # Both zips hold the same deployment files.
        x86, x64 = (read_zip(self.dist.zips[processor][0]) for processor in WINDOWS)
        self.assertEqual([name for name in WINDOWS_FILES - set(PROGRAMS) if x86[name] != x64[name]],
                         [])

    def check_windows_zip(self, archive, debug_archive, toolchain, file_format):
        files = read_zip(archive)
        self.assertEqual(set(files), WINDOWS_FILES)
        debug = read_zip(debug_archive)
        self.assertEqual(set(debug), {name + ".debug" for name in PROGRAMS})
        for name, description in PROGRAMS.items():
            program = os.path.join(self.temp, os.path.basename(name))
            with open(program, "wb") as f:
                f.write(files[name])
            check = subprocess.run([sys.executable, PE_CHECK, "--objdump", toolchain + "-objdump",
                                    "--format", file_format, "--description", description,
                                    program], capture_output=True, text=True)
            self.assertEqual(check.returncode, 0, check.stdout)
            sections = section_names(program, toolchain)
            self.assertEqual([s for s in sections if s.startswith(".debug")], [], name)
            link, crc = debug_link(program, self.temp, toolchain)
            self.assertEqual(link, os.path.basename(name) + ".debug")
            self.assertEqual(crc, zlib.crc32(debug[name + ".debug"]), name)
            self.assertIn(b".debug_info", debug[name + ".debug"])
        for name in WINDOWS_FILES:
            if name.endswith((".TXT", ".BAT", ".JS")):
                self.assertNotIn(b"\n", files[name].replace(b"\r\n", b""), name + " is CR LF text")

    def test_task_template_runs_the_monitor_nightly_in_the_shared_root(self):
        data = read_zip(self.dist.zip)["UTILS/QZBACKUP/QZBACKUP-task.xml"]
        self.assertTrue(data.startswith(b"\xff\xfe<\0?\0x\0m\0l\0"), "UTF-16 LE with a BOM")
        self.assertIn('encoding="UTF-16"', data.decode("utf-16"))
        task = ElementTree.fromstring(data)
        self.assertEqual((task.tag, task.get("version")), (TASK + "Task", "1.2"))
        self.assertEqual(task.findtext(f"{TASK}Principals/{TASK}Principal/{TASK}LogonType"),
                         "Password")
        action = task.find(f"{TASK}Actions/{TASK}Exec")
        root = action.findtext(TASK + "WorkingDirectory")
        self.assertEqual(root, "[[SHARED_ROOT]]")
        self.assertEqual(action.findtext(TASK + "Command"), root + r"\UTILS\QZBACKUP\QZTASK.BAT")
        words = action.findtext(TASK + "Arguments").split(" ")
        self.assertEqual(words[0], root + r"\UTILS\QZBACKUP\XCOPYJOB.BAT")
        self.assertEqual(words[2:], ["240", "[[LOCKDOWN_ITEM_1]]", "[[LOCKDOWN_ITEM_2]]", "10"])
        # One run a night: the full run's day, named in the mode word, is the
        # first trigger's alone, and the second trigger has the six others.
        days = [[day.tag[len(TASK):].upper()
                 for day in trigger.find(f"{TASK}ScheduleByWeek/{TASK}DaysOfWeek")]
                for trigger in task.find(TASK + "Triggers")]
        self.assertEqual(len(days), 2)
        self.assertEqual(["FULL-" + day for day in days[0]], [words[1]])
        self.assertEqual(sorted(days[0] + days[1]), sorted(
            ["MONDAY", "TUESDAY", "WEDNESDAY", "THURSDAY", "FRIDAY", "SATURDAY", "SUNDAY"]))

    def test_debian_package_fields_and_files(self):
        def field(name):
            return subprocess.run(["dpkg-deb", "-f", self.dist.deb, name], capture_output=True,
                                  text=True, check=True).stdout.strip()
        self.assertEqual(field("Package"), "varnolet-monitor")
        self.assertEqual(field("Version"), self.dist.version)
        self.assertEqual(field("Architecture"), subprocess.run(
            ["dpkg", "--print-architecture"], capture_output=True, text=True).stdout.strip())
        depends = [d.split(" ")[0] for d in field("Depends").split(", ")]
        self.assertIn("libc6", depends)
        self.assertIn("libffi8", depends)
        self.assertEqual(field("Recommends"), "wine, xvfb, smbclient, curl")
        data = subprocess.run(["dpkg-deb", "--fsys-tarfile", self.dist.deb], capture_output=True,
                              check=True).stdout
        with tarfile.open(fileobj=io.BytesIO(data)) as archive:
            members = archive.getmembers()
        files = {m.name[2:]: m.mode for m in members if m.isfile()}
        self.assertEqual(files, DEB_FILES)
        self.assertEqual({m.name[2:]: m.linkname for m in members if m.issym()}, DEB_LINKS)
        folders = {m.name[2:].rstrip("/"): m.mode for m in members if m.isdir()}
        self.assertEqual(folders["etc/varnolet"], 0o755)
        self.assertEqual({(m.uname, m.gname) for m in members}, {("root", "root")})

    def test_lintian_finds_no_error_or_warning(self):
        lint = subprocess.run(["lintian", "--fail-on", "error,warning", self.dist.deb],
                              capture_output=True, text=True)
        self.assertEqual(lint.returncode, 0, lint.stdout + lint.stderr)

    def test_systemd_accepts_the_units(self):
        # The units are checked inside the unpacked package, unpacked over a
        # copy of the system's own units, for the targets that they reach.
        tree = os.path.join(self.temp, "system")
        shutil.copytree("/usr/lib/systemd/system", os.path.join(tree, "usr/lib/systemd/system"),
                        symlinks=True)
        self.unpack_deb("system")
        check = subprocess.run(["systemd-analyze", "verify", "--root=" + tree,
                                "varnolet-backup@main.service", "varnolet-backup@main.timer"],
                               capture_output=True, text=True)
        self.assertEqual((check.returncode, check.stdout + check.stderr), (0, ""))

    def test_no_build_path_in_any_shipped_file(self):
        contents = {name: read_file(path) for name, path in tree_files(self.unpack_deb()).items()}
        for archive in (name for pair in self.dist.zips.values() for name in pair):
            contents.update((archive + ":" + name, data)
                            for name, data in read_zip(archive).items())
        for name, data in contents.items():
            self.assertNotIn(REPO.encode(), data, name)

    def test_install_rules_give_the_package_files(self):
        destination = os.path.join(self.temp, "installed")
        subprocess.run(["cmake", "--install", BUILD, "--prefix", "/usr"], check=True,
                       capture_output=True, env=dict(os.environ, DESTDIR=destination))
        installed, packaged = tree_files(destination), tree_files(self.unpack_deb())
        # The changelog is the package's own, written by scripts/release.
        self.assertEqual(set(installed), (set(DEB_FILES) | set(DEB_LINKS)) -
                         {"usr/share/doc/varnolet-monitor/changelog.gz"})
        for unit in ("varnolet-backup@.service", "varnolet-backup@.timer"):
            path = "usr/lib/systemd/system/" + unit
            self.assertEqual(read_file(installed[path]), read_file(packaged[path]))


class PackagedRunTest(unittest.TestCase):
    """The Debian package unpacked into a folder, its wrapper run as the timer
    would run it on a sample root that a real Samba server serves, with the
    packaged smbclient jobs as the backup."""

    def setUp(self):
        self.box = qzsandbox.Sandbox(os.path.join(BUILD, "bin"), name="qz-release-")
        self.addCleanup(self.box.close)
        self.package = os.path.join(self.box.top, "package")
        subprocess.run(["dpkg-deb", "-x", Dist(first_dist()).deb, self.package], check=True)
        self.server = qzsandbox.SambaServer(self.box.top, os.path.realpath(self.box.root))
        self.addCleanup(self.server.stop)
        # The run's state folder: the wine prefix, whose drive C: the wrapper
        # makes, and the archives.
        state = os.path.join(self.box.top, "state")
        self.archives = os.path.join(state, "archives")
        self.wine_prefix = os.path.join(state, "wine")
        self.configs = os.path.join(self.box.top, "etc")
        os.makedirs(self.configs)
        self.box.env.pop("QZ_DOSDEVICES")
        self.box.env.pop("DISPLAY", None)
        self.box.env["VARNOLET_CONFIG_DIR"] = self.configs
        qzsandbox.run_as_account(self.box.env, self.box.top, self.box.root, state)
        self.configure("jobs/smbtar-incremental")

    def configure(self, job, backup_minutes=5):
        with open(os.path.join(self.configs, "night.conf"), "w") as f:
            f.write(f"""ROOT={self.box.root}
BACKUP_COMMAND={self.package}/usr/lib/varnolet/{job}
MODE=FULL
BACKUP_MINUTES={backup_minutes}
LOCKDOWN_ITEM1=ACME
LOCKDOWN_ITEM2=NIGHT
LOCKDOWN_MINUTES=1
LOCAL_FOLDER='C:\\_$MERIXA'
WINEPREFIX={self.wine_prefix}
SMB_SHARE={self.server.share}
SMB_AUTH_FILE=
SMB_OPTIONS='-p {self.server.port} -s /dev/null'
BACKUP_TARGET={self.archives}
""")
        os.chmod(os.path.join(self.configs, "night.conf"), 0o644)

    def run_backup(self):
        return self.box.run(os.path.join(self.package, "usr", "lib", "varnolet", "run-backup"),
                            "night", cwd=self.box.top, timeout=600)

    def test_wrapper_runs_a_backup_and_reports_its_outcome(self):
        # A failed run first: the wrapper prints the error status file.
        with open(self.box.path("LOCKDOWN.SYS"), "w") as f:
            f.write("someone else's")
        failed = self.run_backup()
        self.assertEqual(failed.returncode, 1, failed)
        self.assertTrue(("\n" + failed.stdout.decode()).endswith(
            "\n" + self.box.root + "/UTILS/QZBACKUP/QZBACKUP.ERR:\n"
            "THE SYSTEM IS ALREADY LOCKED-DOWN - CANNOT CONTINUE\n"), failed.stdout)
        os.remove(self.box.path("LOCKDOWN.SYS"))

        completed = self.run_backup()
        self.assertEqual(completed.returncode, 0, completed)
        self.assertRegex(completed.stdout.decode(), r"QZBACKUP\.LOG:\n.* Backup run started in .*\n"
                         r"(.*\n)*.* Marking: .*\n(.*\n)*.* Run completed\n")
        # The job's own output (smbclient's summary) may come first.
        self.assertRegex(completed.stdout.decode(), r"(\A|\n)" + re.escape(self.box.root) +
                         r"/UTILS/QZBACKUP/QZBACKUP\.OK:\nCOMPLETED ON \d\d/\d\d/\d\d @ "
                         r"\d\d:\d\d:\d\d\n\Z")
        # The lock-down request went through the packaged launcher, whose
        # local folder is on the new wine prefix's drive C:.
        records = self.box.start_records(1)
        self.assertEqual(len(records), 1, records)
        self.assertRegex(records[0][1], r"^QZWINIT C:\\_\$MERIXA\\([^ ]+)\\ ACME,NIGHT,LOCKDOWN,1$")
        identity = self.box.identity()
        self.assertTrue(os.path.isfile(os.path.join(self.wine_prefix, "drive_c", "_$MERIXA",
                                                    identity, "PURCHASE.EXE")))
        # The job took every file through the share and cleared its attribute;
        # with no full archive before it, the incremental job wrote a full one.
        archives = glob.glob(os.path.join(self.archives, "full-*.tar"))
        self.assertEqual(len(archives), 1, archives)
        with tarfile.open(archives[0]) as archive:
            taken = {os.path.normpath(m.name): archive.extractfile(m).read()
                     for m in archive.getmembers() if m.isfile()}
        self.assertEqual(taken["DATA/ORDERS.DBF"], self.box.read("DATA", "ORDERS.DBF"))
        self.assertIn("UTILS/QZBACKUP/QZBACKUP.TST", taken)
        self.assertEqual(qzsandbox.read_attributes(self.box.path("DATA", "ORDERS.DBF"))
                         & qzsandbox.ARCHIVE, 0)

    def test_full_job_on_a_full_disk_clears_nothing_and_fails(self):
        if os.geteuid() != 0:
            self.skipTest("mounting a small file system for the archives needs root")
        os.makedirs(self.archives, exist_ok=True)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k,mode=0777", "tmpfs",
                        self.archives], check=True)
        self.addCleanup(subprocess.run, ["umount", self.archives], check=True)
        self.configure("jobs/smbtar-full", backup_minutes=3)
        failed = self.run_backup()
        self.assertEqual(failed.returncode, 1, failed)
        self.assertIn(b"smbtar-archive: smbclient could not write ", failed.stderr)
        self.assertEqual(os.listdir(self.archives), [])
        flagged = {os.path.relpath(os.path.join(at, name), self.box.root):
                   qzsandbox.read_attributes(os.path.join(at, name))
                   for at, _, names in os.walk(self.box.root) for name in names}
        self.assertEqual([path for path, attributes in flagged.items()
                          if not attributes & (qzsandbox.ARCHIVE | qzsandbox.HIDDEN)], [])
        # The monitor saw the job fail and ended the run at once.
        self.assertIn("Run failed: BACKUP JOB FAILED WITH EXIT CODE 1\n", failed.stdout.decode())


class PackagedScriptsTest(unittest.TestCase):
    """The unpacked package's wrapper and example jobs on their own: the
    configuration that run-backup trusts, and the archives' budget."""

    def setUp(self):
        self.top = tempfile.mkdtemp(prefix="qz-release-")
        self.addCleanup(shutil.rmtree, self.top, ignore_errors=True)
        self.programs = os.path.join(self.top, "package", "usr", "lib", "varnolet")
        subprocess.run(["dpkg-deb", "-x", Dist(first_dist()).deb,
                        os.path.join(self.top, "package")], check=True)
        self.env = dict(os.environ, VARNOLET_CONFIG_DIR=self.top)
        qzsandbox.run_as_account(self.env, self.top)

    def run_backup_with_configuration(self, mode, owner=None):
        config = os.path.join(self.top, "night.conf")
        with open(config, "w") as f:
            f.write("ROOT=%s\n" % self.top)
        os.chmod(config, mode)
        if owner is not None:
            os.chown(config, owner, -1)
        return subprocess.run([os.path.join(self.programs, "run-backup"), "night"],
                              capture_output=True, text=True, env=self.env)

    def test_configuration_that_others_may_change_is_refused(self):
        writable = self.run_backup_with_configuration(0o664)
        self.assertEqual(writable.returncode, 1)
        self.assertRegex(writable.stderr, r"^run-backup: .*/night\.conf is not trusted: it belongs "
                         r"to uid %d with mode 664, but it must belong to " % os.geteuid())
        if os.geteuid() != 0:
            self.skipTest("giving the configuration to another user needs root")
        foreign = self.run_backup_with_configuration(0o644, owner=65534)
        self.assertEqual(foreign.returncode, 1)
        self.assertIn("is not trusted: it belongs to uid 65534 with mode 644, but it must belong "
                      "to root", foreign.stderr)

    def test_configuration_through_a_link_or_under_a_writable_folder_is_refused(self):
        config = os.path.join(self.top, "night.conf")
        elsewhere = os.path.join(self.top, "elsewhere.conf")
        self.run_backup_with_configuration(0o644)
        os.rename(config, elsewhere)
        os.symlink(elsewhere, config)
        linked = subprocess.run([os.path.join(self.programs, "run-backup"), "night"],
                                capture_output=True, text=True, env=self.env)
        self.assertEqual(linked.returncode, 1)
        self.assertEqual(linked.stderr, "run-backup: %s is not trusted: it is a link to %s; put "
                         "the file itself in its place (cp --remove-destination %s %s)\n"
                         % (config, elsewhere, elsewhere, config))
        os.remove(config)
        os.chmod(self.top, 0o775)
        writable = self.run_backup_with_configuration(0o644)
        self.assertEqual(writable.returncode, 1)
        self.assertIn("night.conf is not trusted: the folder %s belongs to uid %d with mode 775, "
                      "but it must belong to " % (self.top, os.geteuid()), writable.stderr)

    def run_full_job(self, share, budget, files=()):
        """The packaged smbtar-full job against a real Samba server, with
        archives of earlier nights in the archive folder. The share's files
        (DATA/ORDERS.DBF and `files`, (name, mode) pairs) carry the archive
        attribute, and belong to the account that Samba serves them as."""
        folder = os.path.join(self.top, "root")
        os.makedirs(os.path.join(folder, "DATA"))
        for name, mode in (("DATA/ORDERS.DBF", 0o644),) + tuple(files):
            path = os.path.join(folder, name)
            with open(path, "wb") as f:
                f.write(b"orders")
            qzsandbox.write_attributes(path, qzsandbox.ARCHIVE)
            os.chmod(path, mode)
        # As root, Samba serves the share as an account of no privilege (not
        # nobody, which Samba takes for the anonymous user).
        account = None
        if os.geteuid() == 0:
            account = "daemon"
            qzsandbox.give(account, folder)
        server = qzsandbox.SambaServer(self.top, folder, account)
        self.addCleanup(server.stop)
        archives = os.path.join(self.top, "archives")
        os.makedirs(archives)
        earlier = ["full-20250101-020000.tar", "incremental-20250102-020000.tar",
                   "full-20250108-020000.tar", "incremental-20250109-020000.tar"]
        for name in earlier:
            open(os.path.join(archives, name), "w").close()
        job = subprocess.run([os.path.join(self.programs, "jobs", "smbtar-full")], cwd=folder,
                             capture_output=True, text=True, env=dict(
                                 os.environ, SMB_SHARE=share or server.share, SMB_AUTH_FILE="",
                                 SMB_OPTIONS="-p %d -s /dev/null" % server.port,
                                 BACKUP_TARGET=archives, KEEP_FULL_ARCHIVES=budget))
        return job, earlier, sorted(os.listdir(archives)), archives

    def test_failed_archive_removes_nothing(self):
        job, earlier, kept, _ = self.run_full_job("//127.0.0.1/missing", "1")
        self.assertNotEqual(job.returncode, 0, job)
        self.assertEqual(kept, sorted(earlier))

    def test_archives_beyond_the_budget_go_after_a_new_full_archive(self):
        job, earlier, kept, archives = self.run_full_job(None, "2")
        self.assertEqual(job.returncode, 0, job)
        new = [name for name in kept if name not in earlier]
        self.assertEqual(len(new), 1, kept)
        self.assertRegex(new[0], r"^full-\d{8}-\d{6}\.tar$")
        # The oldest full archive and the incremental one that needs it went.
        self.assertEqual(sorted(set(kept) - set(new)), earlier[2:])
        with tarfile.open(os.path.join(archives, new[0])) as archive:
            taken = {os.path.normpath(m.name): archive.extractfile(m).read()
                     for m in archive.getmembers() if m.isfile()}
        self.assertEqual(taken, {"DATA/ORDERS.DBF": b"orders"})

    def test_full_job_clears_the_attribute_of_what_it_stored_alone(self):
        # A file that the share's account may change but not read cannot go
        # into the archive: it keeps its attribute, and the job fails.
        odd = "DATA/two  blanks, 'quotes' & ;.DBF"
        job, earlier, kept, archives = self.run_full_job(None, "1", [(odd, 0o644),
                                                                     ("DATA/LEFT.DBF", 0o200)])
        self.assertEqual(job.returncode, 1, job)
        self.assertIn("smbtar-archive: smbclient could not take every file", job.stderr)
        new = [name for name in kept if name not in earlier]
        self.assertEqual(len(new), 1, kept)
        with tarfile.open(os.path.join(archives, new[0])) as archive:
            self.assertEqual(sorted(os.path.normpath(m.name) for m in archive.getmembers()
                                    if m.isfile()), ["DATA/ORDERS.DBF", odd])
        attributes = {name: qzsandbox.read_attributes(os.path.join(self.top, "root", name))
                      & qzsandbox.ARCHIVE for name in ("DATA/ORDERS.DBF", odd, "DATA/LEFT.DBF")}
        self.assertEqual(attributes, {"DATA/ORDERS.DBF": 0, odd: 0,
                                      "DATA/LEFT.DBF": qzsandbox.ARCHIVE})

    def test_budget_keeps_the_newest_full_archives_and_acts_on_the_jobs_names_alone(self):
        archives = os.path.join(self.top, "archives")
        os.makedirs(archives)
        dated = ["full-20250101-020000.tar", "incremental-20250102-020000.tar",
                 "full-20250108-020000.tar", "incremental-20250109-020000.tar",
                 "full-20250115-020000.tar", "incremental-20250116-020000.tar"]
        others = ["full-before-upgrade.tar", "full-2025 0201-020000.tar",
                  "incremental-20240101-020000.tar.bak", "full-20240101-020000.tar\nx"]
        # Written with the clock set back: older by name than every other.
        new = "full-20200101-020000.tar"
        for name in dated + others + [new]:
            open(os.path.join(archives, name), "w").close()

        def prune(count):
            subprocess.run([os.path.join(self.programs, "prune-archives"), archives, count, new],
                           check=True, capture_output=True)
            return sorted(os.listdir(archives))

        self.assertEqual(prune("3"), sorted(dated + others + [new]))
        self.assertEqual(prune("1"), sorted(dated[4:] + others + [new]))


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv.pop(1))
    unittest.main()
