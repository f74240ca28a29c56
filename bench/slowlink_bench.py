#!/usr/bin/env python3
"""The everyday start over a slow link, against the least such a start must do.

    bench/slowlink_bench.py [--build build] [--launcher FILE] [--runs 10]
                            [--delays 0,5,20] [--show-requests]

Run by hand, as root. Samba serves a sample root (scripts/make-sample-root)
inside a network namespace of its own, behind bench/delay_relay.py, which
holds every segment for half the added round trip in each direction; the
user-space SMB client smbnetfs mounts it (FUSE) outside the namespace. A
sandbox's dosdevices map drive C: to a local folder and S: to the mounted
root. Both programs are started from the share with the root as current
folder, as a workstation starts the launcher:

- the launcher (build/bin/QZSTART.EXE, or --launcher FILE, for example the
  build of another commit), its everyday start: nothing changed in the root,
  the local folder prepared by one start made before the runs;
- the floor (build/bin/launcher_floor): the least such a start must do, in
  plain system calls (bench/launcher_floor.c).

The application in the root is a program that does nothing, so that its own
work stays out of the counts. Each start is made with the client's caches
cold (its entries live for a second) and the server quiet. For every added
round trip it gives the median start time of each program (from the start of
the program to its end), and the SMB requests per start as smbd's own log
(level smb2:10) records them, leaving out the client's keep-alives. Then the
system calls of one start of each, as strace -f -c counts them (the
application's start included in both). --show-requests lists the requests of
one start of each.
"""

import argparse
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))
import qzsandbox  # noqa: E402

SERVER = "10.213.{}.2"  # the namespace's end of the link; the host's is .1
QUIET = 0.3             # the server is quiet when its log stands still this long
CACHE_LIFETIME = 1.2    # longer than the client's entry and attribute cache (1 s)
REQUEST = re.compile(r"smbd_smb2_request_dispatch: opcode\[SMB2_OP_(\w+)\]")
CREATE_NAME = re.compile(r"smbd_smb2_create_send: name \[(.*)\]")


def run(*command, **options):
    return subprocess.run(command, check=True, **options)


class Link:
    """Samba and the delay relay in a network namespace, the client outside."""

    def __init__(self, top):
        self.top = top
        self.tag = os.getpid() % 250
        self.namespace = "qzslow%d" % os.getpid()
        self.host_end, self.namespace_end = "qzs%dh" % os.getpid(), "qzs%dn" % os.getpid()
        self.server = SERVER.format(self.tag)
        self.processes = {}
        self.mount = os.path.join(top, "mnt")
        self.share = os.path.join(self.mount, self.server, "root")
        self.log = os.path.join(top, "smbd.log")

    def open(self, root):
        tag = self.tag
        run("ip", "netns", "add", self.namespace)
        run("ip", "link", "add", self.host_end, "type", "veth", "peer", "name", self.namespace_end)
        run("ip", "link", "set", self.namespace_end, "netns", self.namespace)
        run("ip", "addr", "add", "10.213.%d.1/30" % tag, "dev", self.host_end)
        run("ip", "link", "set", self.host_end, "up")
        self.inside("ip", "addr", "add", self.server + "/30", "dev", self.namespace_end)
        self.inside("ip", "link", "set", self.namespace_end, "up")
        self.inside("ip", "link", "set", "lo", "up")
        self.start_samba(root)
        self.set_delay(0)
        self.start_client()

    def inside(self, *command):
        run("ip", "netns", "exec", self.namespace, *command)

    def spawn(self, name, command, output, inside=True):
        prefix = ["ip", "netns", "exec", self.namespace] if inside else []
        with open(output, "ab") as out:
            # Each in a process group of its own, ended by its id.
            self.processes[name] = subprocess.Popen(prefix + command, stdout=out,
                                                    stderr=subprocess.STDOUT,
                                                    start_new_session=True)

    def end(self, name):
        process = self.processes.pop(name, None)
        if process and process.poll() is None:
            os.killpg(process.pid, signal.SIGTERM)
            try:
                process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()

    def start_samba(self, root):
        samba = os.path.join(self.top, "samba")
        settings = {
            "server role": "standalone server", "smb ports": "445",
            "interfaces": "127.0.0.1", "bind interfaces only": "yes", "disable netbios": "yes",
            "log level": "1 smb2:10", "map to guest": "Bad User", "guest account": "root",
            "load printers": "no", "printing": "bsd", "printcap name": "/dev/null",
            "disable spoolss": "yes",
        }
        for sub in ["pid", "lock", "state", "cache", "private"]:
            os.makedirs(os.path.join(samba, sub))
            settings[sub + (" dir" if sub == "private" else " directory")] = os.path.join(samba, sub)
        settings["ncalrpc dir"] = os.path.join(samba, "state", "ncalrpc")
        settings["passdb backend"] = "tdbsam:" + os.path.join(samba, "private", "passdb.tdb")
        conf = os.path.join(samba, "smb.conf")
        with open(conf, "w") as f:
            f.write("[global]\n" + "".join("  %s = %s\n" % kv for kv in settings.items()))
            f.write("[root]\n  path = %s\n  read only = no\n  guest ok = yes\n"
                    "  force user = root\n" % root)
        self.spawn("smbd", ["smbd", "--foreground", "--no-process-group", "--debug-stdout",
                            "-s", conf], self.log)
        self.wait_for(lambda: self.listening(445), "smbd to listen")

    def listening(self, port):
        out = subprocess.run(["ip", "netns", "exec", self.namespace, "ss", "-ltnH"],
                             capture_output=True, text=True).stdout
        return any(line.split()[3].endswith(":%d" % port) for line in out.splitlines()
                   if len(line.split()) > 3)

    def set_delay(self, milliseconds):
        """(Re)starts the relay with another added round trip."""
        self.end("relay")
        relay_out = os.path.join(self.top, "relay.out")
        before = self.relay_starts(relay_out)
        self.spawn("relay", [sys.executable, os.path.join(REPO, "bench", "delay_relay.py"),
                             self.server, "445", "127.0.0.1", "445", str(milliseconds)],
                   relay_out)
        self.wait_for(lambda: self.relay_starts(relay_out) > before, "the relay to listen")

    @staticmethod
    def relay_starts(output):
        """How many relays have said that they listen."""
        try:
            with open(output) as f:
                return f.read().count("listening")
        except FileNotFoundError:
            return 0

    def start_client(self):
        home = os.path.join(self.top, "home")
        os.makedirs(os.path.join(home, ".smb"))
        conf = os.path.join(home, ".smb", "smbnetfs.conf")
        with open(conf, "w") as f:
            f.write('smb_query_browsers "false"\nlisten_timeout 3600\n'
                    'host %s visible=true\n' % self.server)
        os.chmod(conf, 0o600)
        os.makedirs(self.mount)
        self.spawn("smbnetfs", ["env", "HOME=" + home, "smbnetfs", self.mount, "-f"],
                   os.path.join(self.top, "smbnetfs.out"), inside=False)
        share = os.path.join(self.mount, self.server, "root", "QZSTART.EXE")
        self.wait_for(lambda: os.path.exists(share), "the share to be mounted")

    def wait_for(self, condition, what, limit=30):
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            try:
                if condition():
                    return
            except OSError:
                pass
            time.sleep(0.1)
        raise RuntimeError("gave up waiting for " + what)

    def log_size(self):
        return os.path.getsize(self.log)

    def settle(self):
        """Waits until the client's caches have run out and the server is quiet."""
        time.sleep(CACHE_LIFETIME)
        size = self.log_size()
        while True:
            time.sleep(QUIET)
            now = self.log_size()
            if now == size:
                return size
            size = now

    def requests_since(self, offset):
        """The requests in the log from `offset` on: (operation, name) pairs."""
        with open(self.log, "rb") as f:
            f.seek(offset)
            text = f.read().decode("utf-8", "replace")
        requests = []
        for line in text.splitlines():
            found = REQUEST.search(line)
            if found:
                requests.append([found.group(1), ""])
                continue
            named = CREATE_NAME.search(line)
            if named and requests:
                requests[-1][1] = named.group(1)
        return [tuple(r) for r in requests if r[0] != "KEEPALIVE"]

    def close(self):
        if os.path.ismount(self.mount):
            subprocess.run(["umount", self.mount])
        for name in ["smbnetfs", "relay", "smbd"]:
            self.end(name)
        for command in (["ip", "netns", "del", self.namespace], ["ip", "link", "del", self.host_end]):
            subprocess.run(command, stderr=subprocess.DEVNULL)


class Bench:
    def __init__(self, args):
        self.args = args
        self.top = tempfile.mkdtemp(prefix="qz-slowlink-")
        self.root = os.path.join(self.top, "root")
        self.link = Link(self.top)

    def prepare(self):
        args = self.args
        bin_dir = os.path.join(args.build, "bin")
        run(os.path.join(REPO, "scripts", "make-sample-root"), self.root, bin_dir,
            stdout=subprocess.DEVNULL)
        # An application that does nothing, so that its own work is not counted.
        shutil.copy(shutil.which("true"), os.path.join(self.root, "PURCHASE.EXE"))
        shutil.copy(args.launcher or os.path.join(bin_dir, "QZSTART.EXE"),
                    os.path.join(self.root, "QZSTART.EXE"))
        shutil.copy(os.path.join(bin_dir, "launcher_floor"), os.path.join(self.root, "QZFLOOR.EXE"))
        for program in ["QZSTART.EXE", "QZFLOOR.EXE", "PURCHASE.EXE"]:
            # The client shows a file executable when it has the archive attribute.
            qzsandbox.write_attributes(os.path.join(self.root, program), qzsandbox.ARCHIVE)
        self.dosdevices = os.path.join(self.top, "dosdevices")
        os.makedirs(os.path.join(self.top, "c"))
        os.makedirs(self.dosdevices)
        os.symlink("../c", os.path.join(self.dosdevices, "c:"))
        self.env = dict(os.environ, QZ_DOSDEVICES=self.dosdevices)
        self.env.pop("QZ_CMDLINE", None)
        # The first start, made in the server's own folder, prepares the
        # identity and the local folder; every start measured is an everyday one.
        self.start(os.path.join(self.root, "QZSTART.EXE"), [], self.root)
        with open(os.path.join(self.root, qzsandbox.IDENTITY)) as f:
            identity = f.read()
        self.windows_folder = "C:\\_$MERIXA\\%s\\" % identity
        self.local_folder = os.path.join(self.top, "c", "_$MERIXA", identity) + "/"
        if not os.path.exists(os.path.join(self.local_folder, "ADSLOCAL.CFG")):
            raise RuntimeError("the first start did not prepare the local folder")
        self.link.open(self.root)
        os.symlink(self.link.share, os.path.join(self.dosdevices, "s:"))

    def programs(self):
        share = self.link.share
        return {"launcher": ([os.path.join(share, "QZSTART.EXE")], []),
                "floor": ([os.path.join(share, "QZFLOOR.EXE")],
                          [self.local_folder, self.windows_folder])}

    def start(self, program, arguments, folder, prefix=()):
        """One start; its time in milliseconds. A message means it failed."""
        began = time.perf_counter()
        result = subprocess.run([*prefix, program, *arguments], cwd=folder, env=self.env,
                                capture_output=True)
        took = (time.perf_counter() - began) * 1000
        if result.returncode != 0 or (not prefix and result.stderr):
            raise RuntimeError("%s failed: %r" % (program, result))
        return took

    def measured_start(self, name):
        command, arguments = self.programs()[name]
        offset = self.link.settle()
        took = self.start(command[0], arguments, self.link.share)
        self.link.settle()
        return took, self.link.requests_since(offset)

    def syscalls(self, name):
        command, arguments = self.programs()[name]
        output = os.path.join(self.top, "strace-%s.txt" % name)
        self.link.settle()
        self.start(command[0], arguments, self.link.share,
                   prefix=("strace", "-f", "-c", "-o", output))
        with open(output) as f:
            total = [line for line in f if line.split()[-1:] == ["total"]]
        return int(total[0].split()[3])

    def measure(self):
        table = []
        for delay in self.args.delays:
            self.link.set_delay(delay)
            self.measured_start("launcher")  # the client connects again after the relay's restart
            times = {"launcher": [], "floor": []}
            counts = {"launcher": [], "floor": []}
            for _ in range(self.args.runs):
                for name in ["launcher", "floor"]:
                    took, requests = self.measured_start(name)
                    times[name].append(took)
                    counts[name].append(len(requests))
            table.append((delay, times, counts))
            print("%d ms: launcher %s, floor %s" % (delay, counts["launcher"], counts["floor"]),
                  file=sys.stderr)
        self.link.set_delay(0)
        calls = {name: statistics.median(self.syscalls(name) for _ in range(3))
                 for name in ["launcher", "floor"]}
        self.report(table, calls)
        if self.args.show_requests:
            for name in ["launcher", "floor"]:
                _, requests = self.measured_start(name)
                print("\nSMB requests of one %s start (%d):" % (name, len(requests)))
                for i, (operation, file_name) in enumerate(requests, 1):
                    print("%3d %-16s %s" % (i, operation, file_name))

    def report(self, table, calls):
        print("\n| added round trip | launcher start, median | floor start, median | ratio "
              "| SMB requests per start: launcher / floor |")
        print("|---|---|---|---|---|")
        for delay, times, counts in table:
            launcher, floor = statistics.median(times["launcher"]), statistics.median(times["floor"])
            print("| %d ms | %.0f ms | %.0f ms | %.2fx | %s / %s |" % (
                delay, launcher, floor, launcher / floor,
                spread(counts["launcher"]), spread(counts["floor"])))
        print("\nSystem calls per start (strace -f -c, median of 3): launcher %d, floor %d, "
              "%.1fx" % (calls["launcher"], calls["floor"], calls["launcher"] / calls["floor"]))

    def close(self):
        self.link.close()
        shutil.rmtree(self.top, ignore_errors=True)


def spread(values):
    """The median of counts, with their range when they moved between runs."""
    low, high = min(values), max(values)
    median = statistics.median(values)
    return "%g" % median if low == high else "%g (%d-%d)" % (median, low, high)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(REPO, "build"))
    parser.add_argument("--launcher", help="the QZSTART.EXE to measure (default: the build's)")
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--delays", default="0,5,20",
                        type=lambda text: [int(d) for d in text.split(",")])
    parser.add_argument("--show-requests", action="store_true")
    args = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("slowlink_bench: run it as root (network namespaces, a mount, smbd on port 445)")
    missing = [tool for tool in ["smbd", "smbnetfs", "ip", "ss", "strace"] if not shutil.which(tool)]
    if missing:
        sys.exit("slowlink_bench: missing %s; scripts/install-deps bench installs them"
                 % ", ".join(missing))
    bench = Bench(args)
    try:
        bench.prepare()
        bench.measure()
    finally:
        bench.close()


if __name__ == "__main__":
    main()
