"""A sandbox for runs of the real program: its own device root with the
data files, settings database, devices folder and runtime folder, and the
helpers the long-running system tests share (starting the programs,
following their logs, reading settings, sampling a process).

Nothing here touches the user's own settings: every program is started
with the sandbox's environment only.
"""

import json
import os
import shutil
import signal
import subprocess
import tempfile
import time

POWER_KEY = "HKLM\\System\\CurrentControlSet\\Control\\Power\\Timeouts"
POWER_NAMES = ("BattUserIdle", "BattSystemIdle", "BattSuspend")
SETTINGS_KEY = "HKLM\\Software\\Vantrel"
DATA_FILES = ("English.lang", "Intl English.kcod", "vtr.bmp", "vtr_wide.bmp")


class Programs:
    """Where the three programs and the data files are."""

    def __init__(self, build, source):
        build, source = os.path.abspath(build), os.path.abspath(source)
        self.vantrel = os.path.join(build, "app", "vantrel")
        self.kbd = os.path.join(build, "tools", "vantrel-kbd", "vantrel-kbd")
        self.reg = os.path.join(build, "tools", "vantrel-reg", "vantrel-reg")
        self.data = os.path.join(source, "data")
        for path in (self.vantrel, self.kbd, self.reg):
            if not os.access(path, os.X_OK):
                raise SystemExit("not built: %s" % path)


class Sandbox:
    def __init__(self, programs, folder=None, port="COM3", trace=True):
        self.programs = programs
        self.port = port
        self.dir = folder or tempfile.mkdtemp(prefix="vantrel-sandbox-")
        os.makedirs(self.dir, exist_ok=True)
        self.root = os.path.join(self.dir, "root")
        install = os.path.join(self.root, "opt", "Vantrel")
        os.makedirs(install, exist_ok=True)
        for name in DATA_FILES:
            shutil.copy(os.path.join(programs.data, name), install)
        # The devices and runtime folders are the user's own and private,
        # as the program requires of them.
        self.devices = os.path.join(self.dir, "devices")
        self.runtime = os.path.join(self.dir, "run")
        for folder_ in (self.devices, self.runtime):
            os.makedirs(folder_, mode=0o700, exist_ok=True)
            os.chmod(folder_, 0o700)
        self.registry = os.path.join(self.dir, "registry.db")
        self.trace = os.path.join(self.dir, "trace.log")
        self.inject = os.path.join(self.dir, "inject.log")
        self.kbd_log = os.path.join(self.dir, "kbd.log")
        self.env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.dir,
            "VANTREL_ROOT": self.root,
            "VANTREL_REGISTRY": self.registry,
            "VANTREL_DEVICES": self.devices,
            "XDG_RUNTIME_DIR": self.runtime,
            "XDG_CONFIG_HOME": os.path.join(self.dir, "config"),
            "VANTREL_INJECT": "log:" + self.inject,
            "QT_QPA_PLATFORM": "offscreen",
            "VANTREL_PLATFORM": "PocketPC",
            # No desktop bus: the power manager says so once and goes on.
            "DBUS_SYSTEM_BUS_ADDRESS": "unix:path=" + os.path.join(self.dir, "no-bus"),
            "DBUS_SESSION_BUS_ADDRESS": "unix:path=" + os.path.join(self.dir, "no-bus"),
        }
        # A sanitizer build's settings go through to the programs.
        for name, value in os.environ.items():
            if name.split("_")[0] in ("ASAN", "UBSAN", "LSAN", "TSAN"):
                self.env[name] = value
        if trace:
            self.env["VANTREL_TRACE"] = self.trace

    def preset(self, timeouts):
        """Settings as after a first run with the emulated keyboard (its
        port, layout and language chosen, its serial number known, so no
        question waits for an answer), and the power time-outs."""
        self.set_sz("COMPORT", self.port + ":")
        self.set_dword("Initialised", 1)
        self.set_sz("keycode", "Intl English.kcod")
        self.set_sz("language", "English.lang")
        self.set_dword("Serial No", 0x00A5F301)
        for name, value in zip(POWER_NAMES, timeouts):
            self.reg("set", POWER_KEY, name, "--dword", str(value))

    # The settings store, through vantrel-reg.

    def reg(self, *args, check=True):
        r = subprocess.run([self.programs.reg] + list(args), env=self.env,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        if check and r.returncode != 0:
            raise RuntimeError("vantrel-reg %s: %s" % (" ".join(args), r.stderr.strip()))
        return r

    def set_dword(self, name, value, key=SETTINGS_KEY):
        self.reg("set", key, name, "--dword", str(value))

    def set_sz(self, name, text, key=SETTINGS_KEY):
        self.reg("set", key, name, "--sz", text)

    def values(self, key):
        """The values of a key as {name: data}, numbers as int; None when
        the store could not be read."""
        r = self.reg("list", key, check=False)
        if r.returncode != 0:
            return None
        out = {}
        for line in r.stdout.splitlines():
            parts = line.split("\t")
            if len(parts) == 3:
                name, kind, data = parts
                out[name] = int(data) if kind == "REG_DWORD" else data
        return out

    def timeouts(self):
        """The three power time-outs (None for a missing one), or None when
        the store could not be read."""
        values = self.values(POWER_KEY)
        if values is None:
            return None
        return tuple(values.get(name) for name in POWER_NAMES)

    # Programs.

    def start(self, args, output):
        out = open(os.path.join(self.dir, output), "ab")
        try:
            return subprocess.Popen(args, env=self.env, stdout=out, stderr=out,
                                    start_new_session=True)
        finally:
            out.close()

    def start_keyboard(self, extra, output="kbd.out"):
        """Starts vantrel-kbd on the sandbox's port and waits for its link."""
        link = os.path.join(self.devices, self.port)
        p = self.start([self.programs.kbd, "--port", self.port, "--devices", self.devices,
                        "--log", self.kbd_log] + list(extra), output)
        if not wait_for(lambda: os.path.exists(link) or p.poll() is not None, 10):
            raise RuntimeError("vantrel-kbd did not offer %s" % self.port)
        if p.poll() is not None:
            raise RuntimeError("vantrel-kbd ended at once (see %s)" % output)
        return p

    def start_vantrel(self, args=(), output="vantrel.out"):
        return self.start([self.programs.vantrel] + list(args), output)

    def launch(self, *args, timeout=30):
        """A short-lived launch (--connect, --quit) handing its request to
        the running program. Returns the exit status, or None when it did
        not end in time."""
        p = self.start([self.programs.vantrel] + list(args), "launches.out")
        try:
            return p.wait(timeout)
        except subprocess.TimeoutExpired:
            stop(p)
            return None


def stop(process, sig=signal.SIGTERM, timeout=10):
    """Ends a process started here (and only that one): `sig`, then SIGKILL
    when it has not ended in time. Returns its exit status."""
    if process.poll() is None:
        try:
            process.send_signal(sig)
            return process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
    return process.wait()


def wait_for(done, limit, step=0.05):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        if done():
            return True
        time.sleep(step)
    return done()


class Follower:
    """Reads the lines a growing file gains, without reading it again."""

    def __init__(self, path, start_at_end=False):
        self.path = path
        self.offset = 0
        self.rest = b""
        if start_at_end and os.path.exists(path):
            self.offset = os.path.getsize(path)

    def lines(self):
        try:
            with open(self.path, "rb") as f:
                f.seek(self.offset)
                data = f.read()
        except FileNotFoundError:
            return []
        self.offset += len(data)
        data = self.rest + data
        parts = data.split(b"\n")
        self.rest = parts.pop()
        return [p.decode("utf-8", "replace") for p in parts]


def json_lines(lines):
    for line in lines:
        try:
            yield json.loads(line)
        except ValueError:
            continue


def key_downs(lines):
    """The virtual keys of the key presses (not releases) in log-injector
    lines, in order."""
    for call in json_lines(lines):
        if call.get("call") == "keybd_event" and not call.get("flags", 0) & 2:
            yield call.get("vk")


def process_sample(pid):
    """(resident memory in KiB, open descriptors, what they lead to) of a
    running process; sockets, pipes and the like by their kind only."""
    rss = None
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                rss = int(line.split()[1])
    targets = []
    for fd in os.listdir("/proc/%d/fd" % pid):
        try:
            target = os.readlink("/proc/%d/fd/%s" % (pid, fd))
        except OSError:
            continue  # closed meanwhile
        targets.append(target.split(":[")[0])
    return rss, len(targets), sorted(targets)
