#!/usr/bin/env python3
"""Kill test: the real program killed with SIGKILL at random moments, over
and over, while settings are being written, and each following start
checked.

Each round starts the program with --connect against the keyboard
emulator and kills it either during start-up or at a random moment of the
connection (opening the port, the handshake with its settings writes,
typing, or the disconnection after the line hung up). Meanwhile vantrel-reg keeps writing numbers into the settings
store (now and then killed itself). Every start that gets as far as
connecting is checked before the keyboard can answer:

- the power time-outs are back to their values, whatever the last kill
  interrupted (a kill while connected leaves them at 0 until the next
  start puts them back);
- every setting that vantrel-reg acknowledged (exit status 0) is still
  there, with its value or a later one;
- the keyboard identity the program stored during the last handshake it
  confirmed (by asking for the status that follows) is still there.

Several sandboxes run side by side (--lanes), each with its own program,
emulator, settings store and writer. Prints a summary; the exit status is
0 when nothing was lost.

    kill_test.py --build BUILD [--kills N] [--lanes L] [--seed S]
"""

import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from sandbox import (SETTINGS_KEY, Follower, Programs, Sandbox, json_lines,  # noqa: E402
                     stop, wait_for)

TIMEOUTS = (62, 182, 302)
PROBES = 8                 # names the writer rotates through
READY_LIMIT = 30           # s for a start to get to its connect request
START_KILL_WINDOW = 1.0    # s: kills during start-up
LINK_KILL_WINDOW = 8.0     # s after the connect request: open, handshake, typing
READY_LINE = "Connecting as asked at launch"
# Trace lines that tell how far a run got, furthest last.
PHASES = (("opening", "Opening COM"), ("engaged", "power: requirement BKL1: D0 taken"),
          ("typing", "TYPING"), ("disconnecting", "Port lost"))


def setting_problems(acked, stored, tried):
    """What is wrong with the stored settings, given per name the last
    value acknowledged (before the store was read) and the last value tried
    (after): each must hold its acknowledged value or a later one tried."""
    problems = []
    for name, value in sorted(acked.items()):
        found = stored.get(name)
        if not isinstance(found, int) or not value <= found <= tried.get(name, value):
            problems.append("%s is %s; acknowledged %d (tried up to %d)"
                            % (name, found, value, tried.get(name, value)))
    return problems


class Writer(threading.Thread):
    """Keeps vantrel-reg writing increasing numbers under PROBES names,
    killing one write in ten at a random moment. Remembers, per name, the
    last value acknowledged and the last value tried."""

    def __init__(self, box, rng):
        super().__init__(daemon=True)
        self.box, self.rng = box, rng
        self.lock = threading.Lock()
        self.acked, self.tried = {}, {}
        self.counts = {"acknowledged": 0, "killed": 0, "refused": 0}
        self.done = threading.Event()

    def run(self):
        n = 0
        while not self.done.is_set():
            n += 1
            name = "KillProbe%d" % (n % PROBES)
            with self.lock:
                self.tried[name] = n
            p = subprocess.Popen([self.box.programs.reg, "set", SETTINGS_KEY, name, "--dword",
                                  str(n)], env=self.box.env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
            killed = False
            if self.rng.random() < 0.1:
                time.sleep(self.rng.uniform(0, 0.02))
                killed = p.poll() is None
                p.kill()
            code = p.wait()
            with self.lock:
                if code == 0:
                    self.acked[name] = n
                    self.counts["acknowledged"] += 1
                elif killed:
                    self.counts["killed"] += 1
                else:
                    self.counts["refused"] += 1
            self.done.wait(self.rng.uniform(0.05, 0.25))

    def snapshot(self, which):
        with self.lock:
            return dict(self.acked if which == "acked" else self.tried)


class Lane:
    def __init__(self, index, programs, folder, kills, seed):
        self.index = index
        self.rng = random.Random(seed)
        self.box = Sandbox(programs, os.path.join(folder, "lane%d" % index))
        self.kills = kills
        self.writer = Writer(self.box, random.Random(seed + 1))
        self.problems = []
        self.lost = 0  # problems that are a value lost
        self.phases = {}
        self.checks = 0
        self.inconclusive = 0
        self.confirmed_features = None  # identity the program confirmed storing
        self.sent_features = None       # the latest identity offered
        self.kbd = None

    def problem(self, text, lost=True):
        self.problems.append(text)
        self.lost += lost
        print("kill test lane %d: %s" % (self.index, text), flush=True)

    def run(self):
        try:
            self.box.preset(TIMEOUTS)
            self.writer.start()
            for round_ in range(self.kills):
                self.round(round_)
            self.final_check()
        except Exception as e:  # a broken harness must fail the run, not hang it
            self.problem("stopped: %r" % e, lost=False)
        finally:
            self.writer.done.set()
            self.writer.join()
            if self.kbd:
                stop(self.kbd)

    def restart_keyboard(self, features, session):
        """A fresh emulator whose identity carries `features`, so that each
        round's stored identity can be told from the last one."""
        if self.kbd:
            stop(self.kbd)
            self.read_keyboard_log()
        self.kbd_log = Follower(self.box.kbd_log, start_at_end=True)
        self.kbd = self.box.start_keyboard(["--features", str(features), "--heartbeat", "200",
                                            "--session", session,
                                            "--key-interval", "20", "--type-delay", "0"])
        self.sent_features = features

    def read_keyboard_log(self):
        """Notes whether the program asked for the status after the
        identity: it stores the identity before it asks."""
        identity = False
        for event in json_lines(self.kbd_log.lines()):
            if event.get("event") == "sent" and event.get("what") == "identity":
                identity = True
            elif identity and event.get("name") == "REQUEST_SYSTEM_DATA":
                self.confirmed_features = self.sent_features

    def round(self, n):
        link = self.rng.random() >= 0.35
        if link or self.kbd is None:
            # Typing all along, or the line hanging up after a few keys, so
            # that some kills hit the disconnection putting the time-outs back.
            session = "type:100000000"
            if self.rng.random() < 0.4:
                session = "type:%d,hangup" % self.rng.randint(1, 40)
            # The emulator takes features up to 65535; per lane they stay distinct.
            self.restart_keyboard((self.index * 10000 + n) % 65535 + 1, session)
        trace = Follower(self.box.trace, start_at_end=True)
        app = self.box.start_vantrel(["--connect"])
        lines = []
        if link:
            if not wait_for(lambda: self.seen(trace, lines, READY_LINE), READY_LIMIT):
                self.problem("round %d: the program did not get to connecting (exit %s)"
                             % (n, app.poll()), lost=False)
            else:
                self.check(trace, lines)
            time.sleep(self.rng.uniform(0, LINK_KILL_WINDOW))
        else:
            time.sleep(self.rng.uniform(0, START_KILL_WINDOW))
        if app.poll() is not None:
            self.problem("round %d: the program ended by itself (status %s)" % (n, app.returncode),
                         lost=False)
        app.kill()
        app.wait()
        lines += trace.lines()
        phase = "start-up"
        for name, marker in PHASES:
            if any(marker in line for line in lines):
                phase = name
        self.phases[phase] = self.phases.get(phase, 0) + 1

    def seen(self, trace, lines, text):
        lines += trace.lines()
        return any(text in line for line in lines)

    def check(self, trace, lines):
        """At the connect request of a new start, before a keyboard can
        answer (the program waits 2 s after opening the port)."""
        self.checks += 1
        acked = self.writer.snapshot("acked")
        found = self.box.timeouts()
        values = self.box.values(SETTINGS_KEY)
        tried = self.writer.snapshot("tried")
        if found is None or values is None:
            self.problem("the settings store could not be read")
            return
        if found != TIMEOUTS:
            # Only a judgement when the new run had not engaged yet.
            if self.seen(trace, lines, PHASES[1][1]):
                self.inconclusive += 1
            else:
                self.problem("power time-outs %s at a new start, not %s" % (found, TIMEOUTS))
            # Put them back, so that each kill is judged on its own.
            for name, value in zip(("BattUserIdle", "BattSystemIdle", "BattSuspend"), TIMEOUTS):
                self.box.reg("set", "HKLM\\System\\CurrentControlSet\\Control\\Power\\Timeouts",
                             name, "--dword", str(value), check=False)
        for problem in setting_problems(acked, values, tried):
            self.problem(problem)
        if self.confirmed_features is not None:
            stored = values.get("Feature Set")
            if stored is None or not self.confirmed_features <= stored <= self.sent_features:
                self.problem("Feature Set is %s; the program had stored %d"
                             % (stored, self.confirmed_features))

    def final_check(self):
        self.read_keyboard_log()
        trace = Follower(self.box.trace, start_at_end=True)
        app = self.box.start_vantrel(["--connect"])
        lines = []
        if wait_for(lambda: self.seen(trace, lines, READY_LINE), READY_LIMIT):
            self.check(trace, lines)
        else:
            self.problem("the last start did not get to connecting", lost=False)
        app.kill()
        app.wait()


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True, help="the build tree")
    parser.add_argument("--source", default=os.path.dirname(os.path.dirname(here)))
    parser.add_argument("--kills", type=int, default=200, help="program kills in all")
    parser.add_argument("--lanes", type=int, default=5, help="sandboxes side by side")
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--dir", help="sandbox folder (kept); default a temporary one, "
                        "removed when the run passes")
    args = parser.parse_args()
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    folder = args.dir or tempfile.mkdtemp(prefix="vantrel-kill-")
    print("kill test: %d kills in %d lanes, seed %d, sandboxes in %s"
          % (args.kills, args.lanes, seed, folder), flush=True)

    programs = Programs(args.build, args.source)
    lanes = [Lane(i, programs, folder, args.kills // args.lanes + (i < args.kills % args.lanes),
                  seed + 7919 * i) for i in range(args.lanes)]
    started = time.monotonic()
    threads = [threading.Thread(target=lane.run) for lane in lanes]
    for t in threads:
        t.start()
    for t in threads:
        t.join()

    problems = sum(len(lane.problems) for lane in lanes)
    phases = {}
    for lane in lanes:
        for name, n in lane.phases.items():
            phases[name] = phases.get(name, 0) + n
    writes = {k: sum(lane.writer.counts[k] for lane in lanes) for k in lanes[0].writer.counts}
    print("Kill test summary")
    print("  duration: %.0f s, %d lanes, seed %d" % (time.monotonic() - started, args.lanes, seed))
    print("  program kills: %d (%s)" % (sum(phases.values()), ", ".join(
        "%d in %s" % (phases.get(name, 0), name)
        for name in ("start-up", "opening", "engaged", "typing", "disconnecting"))))
    print("  starts checked: %d (%d could not be judged: already connected)"
          % (sum(lane.checks for lane in lanes), sum(lane.inconclusive for lane in lanes)))
    print("  settings writes: %d acknowledged, %d killed, %d refused by the store"
          % (writes["acknowledged"], writes["killed"], writes["refused"]))
    print("  values lost: %d; other problems: %d"
          % (sum(lane.lost for lane in lanes), problems - sum(lane.lost for lane in lanes)))
    print("  result: %s" % ("PASS" if problems == 0 else "FAIL"))
    if problems == 0 and not args.dir:
        shutil.rmtree(folder, ignore_errors=True)
    return 0 if problems == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
