"""Real job engines for tests, each in a temporary folder and on loopback addresses only.

Every daemon here is a child of the test process, started in the foreground and stopped by its
own process id (SIGTERM, then SIGKILL after a grace time); nothing else on the machine is ever
signalled. Children also get SIGKILL from the kernel when the test process dies, so a test killed
by a timeout leaves no daemon behind.

    Workspace        a temporary folder (kept with ZM_KEEP_TEST_TMP=1)
    Daemon           one process the test started
    Munge, SlurmCluster   a single-node Slurm cluster with its own munged
    SshWorker        an sshd on a free loopback port with throw-away keys, and a "remote" folder
    NoTmpfileMount   a FUSE file system that refuses O_TMPFILE (bindfs or fuse2fs)

An engine that cannot start on this machine raises Unavailable with the reason; run_tests() turns
that into ctest's skip code (77) with the reason printed. With ZM_ENGINE_TESTS=required the same
reason fails the test instead, for machines where every engine must run (CI).
"""

import argparse
import ctypes
import errno
import os
import pwd
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

import jobs

SKIP_CODE = 77
NODE = "zmnode"  # the Slurm node's name, whatever the host is called
WORKER = "zm-worker"  # the ssh host alias of the worker


class Unavailable(Exception):
    """The engine cannot start on this machine; the message says why."""


def wait_until(condition, what, bound=60.0, interval=0.05):
    """Calls condition until it returns something true and returns that; TimeoutError after bound
    seconds, naming what was awaited."""
    deadline = time.monotonic() + bound
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise TimeoutError(f"{what}: not within {bound:g} s")
        time.sleep(interval)


def free_ports(count):
    """count distinct TCP ports free on 127.0.0.1 now (all held at once while choosing)."""
    socks = []
    try:
        for _ in range(count):
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            s.bind(("127.0.0.1", 0))
            socks.append(s)
        return [s.getsockname()[1] for s in socks]
    finally:
        for s in socks:
            s.close()


def require_programs(*names):
    """The full paths of the programs; Unavailable names the missing ones."""
    found = {n: shutil.which(n) or shutil.which(n, path="/usr/sbin:/sbin") for n in names}
    missing = [n for n, p in found.items() if not p]
    if missing:
        raise Unavailable(f"not installed: {' '.join(missing)} (scripts/setup.sh installs them)")
    return found


def require_root(what):
    if os.geteuid() != 0:
        raise Unavailable(f"{what} needs root")


_PR_SET_PDEATHSIG = 1
_PR_SET_CHILD_SUBREAPER = 36


def _become_subreaper():
    """Processes that the daemons leave behind (sshd's and slurmd's children once their parent
    has gone) become children of this process rather than of init, which may not reap them."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(_PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)


def _reap_orphans():
    """Collects the exit of every child that has ended; names those still running (descendants
    of the engines that outlived them), which the test did not start itself and leaves alone."""
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            break
    me = os.getpid()
    try:
        with open(f"/proc/{me}/task/{me}/children") as f:
            left = f.read().split()
    except OSError:
        left = []
    if left:
        print(f"still running, left by an engine: {' '.join(left)}", file=sys.stderr)


def _die_with_parent():
    # Runs in the child between fork and exec.
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)


class Workspace:
    """A temporary folder, removed at the end unless ZM_KEEP_TEST_TMP=1."""

    def __init__(self, prefix="zm-engines-"):
        self.path = Path(tempfile.mkdtemp(prefix=prefix))
        # munged refuses a socket whose parent folders are not searchable by everyone.
        self.path.chmod(0o755)

    def folder(self, *parts):
        p = self.path.joinpath(*parts)
        p.mkdir(parents=True, exist_ok=True)
        return p

    def remove(self):
        if os.environ.get("ZM_KEEP_TEST_TMP") == "1":
            print(f"kept {self.path}", file=sys.stderr)
            return
        shutil.rmtree(self.path, ignore_errors=True)


class Daemon:
    """One process this test started, with its output in a log file. stop() signals only this
    process id, and only while the test has not yet collected its exit (so the id cannot have been
    reused by another process)."""

    def __init__(self, name, argv, log, env=None, cwd=None):
        self.name = name
        self.argv = [str(a) for a in argv]
        self.log = Path(log)
        with open(self.log, "ab") as out:
            self.proc = subprocess.Popen(self.argv, stdin=subprocess.DEVNULL, stdout=out,
                                         stderr=subprocess.STDOUT, env=env, cwd=cwd,
                                         preexec_fn=_die_with_parent)
        self.pid = self.proc.pid

    def alive(self):
        return self.proc.poll() is None

    def stop(self, grace=10.0):
        """SIGTERM, then SIGKILL after grace seconds; returns the exit status."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(grace)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        return self.proc.returncode

    def children(self):
        """The process ids of this daemon's running children."""
        try:
            with open(f"/proc/{self.pid}/task/{self.pid}/children") as f:
                return [int(p) for p in f.read().split()]
        except OSError:
            return []

    def wait_childless(self, bound=10.0):
        """Waits until the daemon has no child left (as sshd's per-connection processes end), so
        that stopping it orphans none: an orphan would be left to an init that may not reap it.
        Returns whether it came to that."""
        try:
            wait_until(lambda: not self.alive() or not self.children(), "childless", bound)
            return True
        except TimeoutError:
            return False

    def log_tail(self, lines=15):
        try:
            text = self.log.read_text(errors="replace").splitlines()
        except OSError:
            return ""
        return "\n".join(text[-lines:])

    def await_ready(self, condition, what, bound=30.0):
        """Waits until condition holds; Unavailable (with the log's end) when the daemon exits
        first or the condition does not come within bound."""

        def ready():
            if condition():
                return True
            if not self.alive():
                raise Unavailable(f"{self.name} exited with status {self.proc.returncode}"
                                  f" before {what}:\n{self.log_tail()}")
            return False

        try:
            wait_until(ready, what, bound)
        except TimeoutError as e:
            raise Unavailable(f"{self.name}: {e}:\n{self.log_tail()}") from None


def run(argv, env=None, cwd=None, timeout=60, check=True):
    """Runs a program from an argument list; CalledProcessError carries its output."""
    proc = subprocess.run([str(a) for a in argv], env=env, cwd=cwd, timeout=timeout,
                          stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if check and proc.returncode != 0:
        raise subprocess.CalledProcessError(proc.returncode, proc.args, proc.stdout, proc.stderr)
    return proc


# ---------------------------------------------------------------------------------------------
# Slurm


class Munge:
    """munged with its own key, socket, pid, seed and log files in folder."""

    def __init__(self, folder):
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        self.folder.chmod(0o755)
        self.socket = self.folder / "munge.socket"
        self.daemon = None

    def start(self):
        tools = require_programs("munged", "munge")
        key = self.folder / "munge.key"
        key.write_bytes(os.urandom(1024))
        key.chmod(0o600)
        self.daemon = Daemon("munged", [
            tools["munged"], "--foreground", f"--socket={self.socket}", f"--key-file={key}",
            f"--pid-file={self.folder / 'munged.pid'}", f"--seed-file={self.folder / 'munged.seed'}",
            f"--log-file={self.folder / 'munged.log'}"], self.folder / "munged.out")

        def answers():
            return self.socket.exists() and run(
                [tools["munge"], "-n", "-S", self.socket], check=False).returncode == 0

        self.daemon.await_ready(answers, "its socket answered")

    def stop(self):
        if self.daemon:
            self.daemon.stop()


class SlurmCluster:
    """slurmctld and one slurmd (node NODE, all of this machine's cores) on loopback ports, with
    state, spool and logs in the workspace. env() is the environment for the client commands and
    for jobs (SLURM_CONF points at this cluster's slurm.conf)."""

    def __init__(self, workspace):
        self.ws = workspace
        self.root = workspace.folder("slurm")
        self.conf = self.root / "slurm.conf"
        self.jobcomp = self.root / "log" / "jobcomp.txt"
        self.munge = Munge(self.root / "munge")
        self.ctld = None
        self.slurmd = None
        self.tools = {}

    def env(self):
        env = dict(os.environ)
        env["SLURM_CONF"] = str(self.conf)
        return env

    def write_conf(self, ctld_port, slurmd_port):
        r = self.root
        for sub in ("state", "spool", "log"):
            (r / sub).mkdir(exist_ok=True)
        host = socket.gethostname().split(".")[0]
        cpus = os.cpu_count() or 1
        self.conf.write_text(f"""\
ClusterName=zmtest
SlurmctldHost={host}(127.0.0.1)
SlurmctldPort={ctld_port}
SlurmdPort={slurmd_port}
# Listen on the configured loopback addresses, not on every address.
CommunicationParameters=NoCtldInAddrAny,NoInAddrAny
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket={self.munge.socket}
SlurmUser=root
SlurmdUser=root
StateSaveLocation={r / 'state'}
SlurmdSpoolDir={r / 'spool'}
SlurmctldPidFile={r / 'slurmctld.pid'}
SlurmdPidFile={r / 'slurmd.pid'}
SlurmctldLogFile={r / 'log' / 'slurmctld.log'}
SlurmdLogFile={r / 'log' / 'slurmd.log'}
# No cgroups: processes are tracked through /proc, tasks are not bound.
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
SchedulerType=sched/backfill
# The main scheduler leaves array tasks pending for seconds after others end; backfill every
# second starts them sooner.
SchedulerParameters=bf_interval=1
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
# No slurmdbd, so no sacct: every finished job is a line of this file instead.
JobCompType=jobcomp/filetxt
JobCompLoc={self.jobcomp}
ReturnToService=2
MpiDefault=none
# scancel: SIGTERM, then SIGKILL 2 s later (default 30 s).
KillWait=2
MinJobAge=600
NodeName={NODE} NodeAddr=127.0.0.1 CPUs={cpus} State=UNKNOWN
PartitionName=zm Nodes={NODE} Default=YES MaxTime=INFINITE State=UP
""")

    def start(self):
        require_root("a Slurm cluster")
        self.tools = require_programs("slurmctld", "slurmd", "sbatch", "squeue", "sinfo",
                                      "scancel", "scontrol")
        self.munge.start()
        ctld_port, slurmd_port = free_ports(2)
        self.write_conf(ctld_port, slurmd_port)
        env = self.env()
        log = self.root / "log"
        # -c: no state from an earlier run; -D: in the foreground, so the pid is the daemon's.
        self.ctld = Daemon("slurmctld", [self.tools["slurmctld"], "-D", "-c"],
                           log / "slurmctld.out", env=env)
        self.slurmd = Daemon("slurmd", [self.tools["slurmd"], "-D", "-N", NODE],
                             log / "slurmd.out", env=env)

        def idle():
            if not self.ctld.alive():
                raise Unavailable(f"slurmctld exited with status {self.ctld.proc.returncode}:\n"
                                  f"{self.ctld.log_tail()}")
            out = run([self.tools["sinfo"], "-h", "-N", "-o", "%N %t"], env=env,
                      check=False).stdout.split()
            return out[:2] == [NODE, "idle"]

        self.slurmd.await_ready(idle, f"sinfo showed {NODE} idle")

    def stop(self):
        try:
            if self.ctld and self.ctld.alive():
                # Jobs still there end first, so that no job step outlives its slurmd.
                self.scancel("--user", str(os.geteuid()), check=False)
                try:
                    wait_until(lambda: not self.queue(), "the queue emptied", 30, 0.2)
                except TimeoutError as e:
                    print(f"slurm: {e}", file=sys.stderr)
        finally:
            if self.slurmd:
                self.slurmd.wait_childless()  # slurmstepd of the last jobs still ending
                self.slurmd.stop()
            if self.ctld:
                self.ctld.stop()  # it ends its own helper (slurmscriptd)
            self.munge.stop()

    def client(self, name, *args, check=True):
        return run([self.tools[name], *args], env=self.env(), check=check)

    def scancel(self, *args, check=True):
        return self.client("scancel", *args, check=check)

    def sbatch(self, script, *args):
        """Submits script; returns the job id."""
        out = self.client("sbatch", "--parsable", *args, script).stdout.strip()
        return out.split(";")[0]

    def queue(self, job=None):
        """[(job id, state)] of the jobs in the queue (array tasks as ID_TASK)."""
        args = ["-h", "-o", "%i %t"] + (["-j", job] if job else [])
        proc = self.client("squeue", *args, check=False)
        if proc.returncode != 0 and job:
            return []  # a finished job that the controller has forgotten
        return [tuple(line.split()) for line in proc.stdout.splitlines() if line.strip()]

    def pids(self, job):
        """The process ids running for job (an array task as ID_TASK) on the node."""
        raw = self.client("squeue", "-h", "-j", job, "-o", "%A").stdout.split()
        if not raw:
            return []
        out = self.client("scontrol", "listpids", raw[0], NODE, check=False).stdout
        return [int(line.split()[0]) for line in out.splitlines()[1:] if line.split()]

    def wait_gone(self, job, bound=120.0):
        wait_until(lambda: not self.queue(job), f"job {job} left the queue", bound, 0.2)

    def finished(self, array_job):
        """{task id: (state, exit code)} of the finished tasks of array_job, the latest record of
        each task last (a resubmitted task has several)."""
        tasks = {}
        if not self.jobcomp.exists():
            return tasks
        for line in self.jobcomp.read_text().splitlines():
            fields = dict(f.split("=", 1) for f in line.split() if "=" in f)
            if fields.get("ArrayJobId") == array_job:
                tasks[int(fields["ArrayTaskId"])] = (fields["JobState"], fields["ExitCode"])
            elif fields.get("JobId") == array_job and "ArrayTaskId" not in fields:
                tasks[0] = (fields["JobState"], fields["ExitCode"])
        return tasks


def batch_script(path, argv, index_var="SLURM_ARRAY_TASK_ID"):
    """Writes a batch script that runs argv, where the word "{index}" stands for the value of
    index_var; every other word is quoted for the shell."""
    words = [f'"${index_var}"' if a == "{index}" else shlex.quote(str(a)) for a in argv]
    Path(path).write_text("#!/bin/bash\nexec " + " ".join(words) + "\n")
    Path(path).chmod(0o755)
    return path


# ---------------------------------------------------------------------------------------------
# ssh


class SshWorker:
    """An sshd on a free loopback port that lets this user in with a throw-away key, and the
    client configuration to reach it as host WORKER without any prompt. remote is the worker's
    own folder: nothing there is shared with the submitting side's folders."""

    def __init__(self, workspace):
        self.ws = workspace
        self.root = workspace.folder("ssh")
        self.remote = workspace.folder("worker")
        self.home = workspace.folder("worker-home")
        self.config = self.root / "ssh_config"
        self.daemon = None
        self.master = None
        self.tools = {}

    def ssh_command(self):
        """The ssh command line (as words) that reaches the worker."""
        return [self.tools["ssh"], "-F", str(self.config)]

    def start(self):
        require_root("an sshd that lets a user in")
        self.tools = require_programs("sshd", "ssh", "ssh-keygen")
        r = self.root
        host_key, user_key = r / "host_ed25519", r / "user_ed25519"
        for key in (host_key, user_key):
            run([self.tools["ssh-keygen"], "-q", "-t", "ed25519", "-N", "", "-C", "zm-test",
                 "-f", key])
        (r / "authorized_keys").write_text(user_key.with_suffix(".pub").read_text())
        (r / "known_hosts").write_text(
            f"{WORKER} " + host_key.with_suffix(".pub").read_text().split(" zm-test")[0] + "\n")
        (port,) = free_ports(1)
        (r / "sshd_config").write_text(f"""\
ListenAddress 127.0.0.1:{port}
HostKey {host_key}
PidFile {r / 'sshd.pid'}
AuthorizedKeysFile {r / 'authorized_keys'}
# The key files live in a temporary folder, whose modes sshd's owner checks would refuse.
StrictModes no
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
UsePAM no
AllowUsers {_user_name()}
# The worker's own home: the user's shell start-up files (a slow ~/.bashrc) and the engines'
# state folders (~/.parallel) stay out of the real home.
SetEnv HOME={self.home}
""")
        self.config.write_text(f"""\
Host {WORKER}
  HostName 127.0.0.1
  Port {port}
  User {_user_name()}
  IdentityFile {user_key}
  IdentitiesOnly yes
  HostKeyAlias {WORKER}
  UserKnownHostsFile {r / 'known_hosts'}
  GlobalKnownHostsFile /dev/null
  StrictHostKeyChecking yes
  BatchMode yes
  LogLevel ERROR
  # Every ssh goes through the master connection the fixture keeps open, when it is there.
  ControlMaster no
  ControlPath {r / 'master-%C'}
""")
        # sshd insists on its privilege separation folder, which the Debian service makes.
        Path("/run/sshd").mkdir(mode=0o755, exist_ok=True)
        # -D: in the foreground; -e: log to the log file (stderr).
        self.daemon = Daemon("sshd", [self.tools["sshd"], "-D", "-e", "-f", r / "sshd_config"],
                             r / "sshd.log")

        def answers():
            return run(self.ssh_command() + [WORKER, "true"], check=False).returncode == 0

        self.daemon.await_ready(answers, "a login with the key worked")
        # One connection that all later ones share, as users set up for engines that log in for
        # every step of every job (GNU parallel: transfer, run, return, clean up).
        self.master = Daemon("ssh master", self.ssh_command() + ["-M", "-N", WORKER],
                             r / "master.log")
        self.master.await_ready(lambda: run(self.ssh_command() + ["-O", "check", WORKER],
                                            check=False).returncode == 0,
                                "the master connection was up")

    def stop(self):
        if self.master:
            self.master.stop()
        if self.daemon:
            self.daemon.wait_childless()
            self.daemon.stop()


def _user_name():
    return pwd.getpwuid(os.geteuid()).pw_name


# ---------------------------------------------------------------------------------------------
# A file system without O_TMPFILE


def refuses_tmpfile(folder):
    """True when folder's file system refuses O_TMPFILE (as FUSE file systems without the tmpfile
    operation do: EOPNOTSUPP)."""
    try:
        fd = os.open(folder, os.O_TMPFILE | os.O_RDWR, 0o600)
    except OSError as e:
        if e.errno in (errno.EOPNOTSUPP, errno.EISDIR, errno.EINVAL):
            return True
        raise
    os.close(fd)
    return False


class NoTmpfileMount:
    """A FUSE file system mounted at mount, stopped by unmounting it and then by its process id.

    kind "bindfs" mirrors the folder backing; kind "fuse2fs" is an ext2 image served by fuse2fs
    (backing is then None). Both serve files through libfuse, which has no tmpfile operation, so
    the kernel answers O_TMPFILE with EOPNOTSUPP; start() checks that and refuses a mount that
    takes it."""

    KINDS = ("bindfs", "fuse2fs")

    def __init__(self, workspace, kind):
        self.kind = kind
        self.root = workspace.folder(f"fs-{kind}")
        self.mount = self.root / "mnt"
        self.mount.mkdir()
        self.backing = None
        self.daemon = None
        self.tools = {}

    def start(self):
        require_root(f"mounting {self.kind}")
        if not Path("/dev/fuse").exists():
            raise Unavailable("no /dev/fuse")
        if self.kind == "bindfs":
            self.tools = require_programs("bindfs", "fusermount3")
            self.backing = self.root / "backing"
            self.backing.mkdir()
            # -f: in the foreground, so the pid is the file system's own process.
            argv = [self.tools["bindfs"], "-f", "--no-allow-other", self.backing, self.mount]
        else:
            self.tools = require_programs("fuse2fs", "mkfs.ext2", "fusermount")
            image = self.root / "ext2.img"
            with open(image, "wb") as f:
                f.truncate(64 << 20)
            run([self.tools["mkfs.ext2"], "-q", "-F", image])
            argv = [self.tools["fuse2fs"], "-f", image, self.mount, "-o", "fakeroot"]
        self.daemon = Daemon(self.kind, argv, self.root / "fs.log")
        self.daemon.await_ready(lambda: os.path.ismount(self.mount), "the file system was mounted")
        if not refuses_tmpfile(self.mount):
            self.stop()
            raise Unavailable(f"{self.kind} takes O_TMPFILE on this kernel; it cannot stand for a"
                              " file system without it")

    def stop(self):
        if not self.daemon:
            return
        if os.path.ismount(self.mount):
            helper = self.tools.get("fusermount3") or self.tools.get("fusermount")
            if run([helper, "-u", self.mount], check=False).returncode != 0:
                run(["umount", "-l", self.mount], check=False)
        try:
            self.daemon.proc.wait(10)
        except subprocess.TimeoutExpired:
            pass
        self.daemon.stop()


# ---------------------------------------------------------------------------------------------
# Running a test file


def run_tests(engines_for=None, argv=None):
    """Parses --conv and the unittest options, starts the engines, runs the test cases of __main__
    and stops the engines. engines_for(workspace) returns the engines (not started yet); one with
    optional = True may be unavailable (its reason is then in .unavailable) as long as another one
    starts. Returns the exit code: 0, 1 for failures, SKIP_CODE when an engine is unavailable."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--conv", required=True, type=Path)
    parser.add_argument("--cli", required=True, type=Path)
    args, rest = parser.parse_known_args(argv)
    jobs.TOOLS.conv = args.conv.resolve()
    jobs.TOOLS.cli = args.cli.resolve()

    # ctest stops a test that overruns with a signal: stop the engines on the way out.
    def interrupted(signum, _frame):
        raise KeyboardInterrupt(f"signal {signum}")

    signal.signal(signal.SIGTERM, interrupted)

    _become_subreaper()
    ws = Workspace()
    jobs.CLIPS = ws.folder("clips")
    # The journals and logs of zelmora-cli, for every engine's jobs (they inherit it).
    os.environ["XDG_STATE_HOME"] = str(ws.folder("state"))
    started = []
    try:
        try:
            missing = [n for n in ("ffmpeg", "ffprobe") if not shutil.which(n)]
            if missing:
                raise Unavailable(f"not installed: {' '.join(missing)}")
            engines = engines_for(ws) if engines_for else []
            for engine in engines:
                started.append(engine)  # stop() undoes a partial start too
                try:
                    engine.start()
                    engine.unavailable = None
                except Unavailable as e:
                    if not getattr(engine, "optional", False):
                        raise
                    engine.unavailable = str(e)
                    print(f"not available: {e}", file=sys.stderr)
            if engines and all(e.unavailable for e in engines):
                raise Unavailable("; ".join(e.unavailable for e in engines))
        except Unavailable as e:
            if os.environ.get("ZM_ENGINE_TESTS") == "required":
                print(f"engine unavailable, and ZM_ENGINE_TESTS=required: {e}", file=sys.stderr)
                return 1
            print(f"SKIPPED: {e}")
            return SKIP_CODE
        EngineTest.ws = ws
        EngineTest.engines = [e for e in engines if not e.unavailable]
        main = unittest.main(module="__main__", argv=[sys.argv[0]] + rest, exit=False,
                             verbosity=2)
        return 0 if main.result.wasSuccessful() else 1
    finally:
        for engine in reversed(started):
            engine.stop()
        _reap_orphans()
        ws.remove()


class EngineTest(unittest.TestCase):
    """Base of the test cases: ws is the run's Workspace, engines the started engines."""

    ws = None
    engines = None
