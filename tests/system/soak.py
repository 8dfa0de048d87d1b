#!/usr/bin/env python3
"""Soak test: the real program, headless, connected to the keyboard
emulator typing at full rate for a long time, with the connection dropped
and made again in every way a keyboard ends it (status code 8, the keyboard
going silent, the line hanging up).

It checks that no key is lost (every key the emulator sent while connected
reaches the log injector, in order; keys the program could not have read
because the line hung up first are left out), that resident memory and open
descriptors stay flat (sampled from /proc at the start and at the end, both
while connected), and that the power time-outs are back to their values
after every disconnection and after quitting while connected. Prints a
summary; the exit status is 0 when everything held.

    soak.py --build BUILD [--seconds N] [--key-interval MS]
"""

import argparse
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from sandbox import (Follower, Programs, Sandbox, json_lines, key_downs,  # noqa: E402
                     process_sample, stop, wait_for)

TIMEOUTS = (61, 181, 301)  # not the power manager's defaults, so a reset shows
WARM_UP_KEYS = 1000        # keys typed before the first sample
IDLE_LIMIT = 60            # s for the program to settle after a drop
CONNECT_RETRY = 10         # s between connect requests while none is taken up
DRAIN_STALL = 30           # s without a new key before the count is final


def session_steps(seconds, interval_ms):
    """One round of the keyboard's script: typing stretches between the
    three ways a keyboard ends a connection, each stretch a twentieth of
    the run (5 to 60 s; a round then takes about a minute or more)."""
    stretch = max(5, min(60, seconds // 20))
    keys = max(1, stretch * 1000 // max(1, interval_ms))
    return ",".join([
        "type:%d" % keys, "wait:2000",
        # Code 8 in the answer to the next status request (at most 10 s
        # away): typing goes on until it is sent.
        "status:8", "type:100000",
        "type:%d" % keys, "silence",
        "type:%d" % keys, "hangup",
    ])


def expected_keys(kbd_log_lines):
    """The keys the program must type, from the emulator's log: every key
    sent, in order, except those still unread when the line hung up."""
    expected, connection = [], []
    for event in json_lines(kbd_log_lines):
        kind = event.get("event")
        if kind == "sent" and event.get("what") == "key" and not event.get("failed"):
            connection.append(int(event["bytes"], 16))
        elif kind == "hangup":
            unread = min(event.get("keys_unread", 0), len(connection))
            expected += connection[:len(connection) - unread]
            connection = []
        elif kind in ("close", "open"):
            expected += connection
            connection = []
    return expected + connection


def key_problem(expected, received):
    """None when the keys typed are the keys expected; else what differs:
    the first key typed out of turn, or how many keys were lost."""
    if received == expected:
        return None
    i = 0
    for n, key in enumerate(received):
        while i < len(expected) and expected[i] != key:
            i += 1
        if i == len(expected):
            return "key %d typed (%d) is not the next key sent" % (n, key)
        i += 1
    return "%d keys sent were not typed" % (len(expected) - len(received))


class Soak:
    def __init__(self, box, seconds, interval_ms):
        self.box = box
        self.seconds = seconds
        self.interval_ms = interval_ms
        self.failures = []
        self.connections = 0
        self.drops = {"status": 0, "silence": 0, "hangup": 0, "other": 0}
        self.keys_sent = 0
        self.keys_unread = 0
        self.keys_received = 0
        self.restore_checks = []  # (after what, time-outs found)
        self.samples = []         # (seconds since start, rss KiB, descriptors)
        self.first = self.last = None
        self.start = time.monotonic()

    def fail(self, text):
        self.failures.append(text)
        print("soak: " + text, flush=True)

    def run(self):
        box = self.box
        box.preset(TIMEOUTS)
        kbd = box.start_keyboard([
            "--key-interval", str(self.interval_ms),
            "--session", session_steps(self.seconds, self.interval_ms),
            "--session-for", str(self.seconds)])
        app = box.start_vantrel(["--connect"])
        try:
            self.follow(app)
            if not self.failures or app.poll() is None:
                self.finish(app)
        finally:
            stop(app, timeout=20)
            stop(kbd)
        self.check_keys()

    def follow(self, app):
        """Watches the run until the keyboard's session has ended and every
        key it sent has arrived (or stopped arriving)."""
        box = self.box
        kbd_log, trace, inject = Follower(box.kbd_log), Follower(box.trace), Follower(box.inject)
        start = self.start = time.monotonic()
        deadline = start + self.seconds + 300
        sample_every = max(10, self.seconds / 20)
        next_sample = None
        link_up = False
        connect_at = start           # when a connect request last went out
        dropped_at = None            # the link is down, waiting to reconnect
        last_button = ""
        last_kind = "other"
        session_over = False
        last_growth = time.monotonic()

        while True:
            now = time.monotonic()
            if app.poll() is not None:
                self.fail("the program ended by itself (status %s)" % app.returncode)
                return
            if now > deadline:
                self.fail("the run did not end in time")
                return
            for event in json_lines(kbd_log.lines()):
                kind = event.get("event")
                if kind == "open":
                    link_up = True
                    self.connections += 1
                elif kind == "sent" and event.get("what") == "key" and not event.get("failed"):
                    self.keys_sent += 1
                elif kind == "sent" and event.get("what") == "status" and \
                        event.get("bytes", "").split()[2:3] == ["08"]:
                    last_kind = "status"
                elif kind == "step" and event.get("step") in ("silence", "hangup"):
                    last_kind = event["step"]
                elif kind in ("close", "hangup"):
                    if kind == "hangup":
                        self.keys_unread += event.get("keys_unread", 0)
                    link_up = False
                    self.drops[last_kind] += 1
                    last_kind = "other"
                    dropped_at = now
                elif kind == "session_end":
                    session_over = True
            for line in trace.lines():
                if line.startswith("Connect button: "):
                    last_button = line[len("Connect button: "):].rstrip("\r")
            got = sum(1 for _ in key_downs(inject.lines()))
            if got:
                self.keys_received += got
                last_growth = now

            if next_sample is None and self.keys_received >= WARM_UP_KEYS and link_up:
                self.first = self.sample(app, now - start)
                next_sample = now + sample_every
            elif next_sample is not None and now >= next_sample:
                self.sample(app, now - start)
                next_sample = now + sample_every

            if dropped_at is not None:
                if last_button == "Connect":
                    # The disconnection is over: the time-outs must be back.
                    self.restore_checks.append(("disconnection %d" % (len(self.restore_checks) + 1),
                                                box.timeouts()))
                    dropped_at = None
                    box.launch("--connect")
                    connect_at = now
                elif now - dropped_at > IDLE_LIMIT:
                    self.fail("the program did not settle after a disconnection (button: %s)"
                              % last_button)
                    return
            elif not link_up and now - connect_at > CONNECT_RETRY:
                box.launch("--connect")  # the last one came while the link was busy
                connect_at = now

            # The session ends at the start of a connection; the run ends
            # once its keys have all arrived (or stopped arriving).
            if session_over and link_up:
                expected = self.keys_sent - self.keys_unread
                if self.keys_received >= expected or now - last_growth > DRAIN_STALL:
                    return
            time.sleep(0.2)

    def sample(self, app, at):
        rss, fds, targets = process_sample(app.pid)
        self.samples.append((at, rss, fds, targets))
        return self.samples[-1]

    def finish(self, app):
        """Last sample while connected, then Quit while connected: the
        program must end and leave the time-outs as they were."""
        if self.first is None:
            self.fail("the first connection never typed %d keys" % WARM_UP_KEYS)
        else:
            self.last = self.sample(app, time.monotonic() - self.start)
        status = self.box.launch("--quit")
        if status != 0:
            self.fail("vantrel --quit ended with %s" % status)
        self.run_seconds = time.monotonic() - self.start
        try:
            code = app.wait(60)
        except Exception:
            self.fail("the program did not end within 60 s of Quit")
            return
        if code != 0:
            self.fail("the program ended with status %d after Quit" % code)
        self.restore_checks.append(("quitting while connected", self.box.timeouts()))

    def check_keys(self):
        """Every key sent while connected, in order, against the keys the
        program typed."""
        with open(self.box.kbd_log, encoding="utf-8", errors="replace") as f:
            expected = expected_keys(f)
        with open(self.box.inject, encoding="utf-8", errors="replace") as f:
            received = list(key_downs(f))
        self.keys_expected, self.keys_received = len(expected), len(received)
        problem = key_problem(expected, received)
        if problem:
            self.fail(problem)

    def report(self):
        mib = lambda kib: "%.1f MiB" % (kib / 1024.0)  # noqa: E731
        print("Soak summary")
        print("  duration: %.0f s (a session of %d s and the first and last connection), "
              "%d connections; drops: %d status code 8, %d silence, %d hang-up, %d other"
              % (getattr(self, "run_seconds", time.monotonic() - self.start), self.seconds, self.connections, self.drops["status"],
                 self.drops["silence"], self.drops["hangup"], self.drops["other"]))
        print("  keys: %d sent while connected (%d unread at hang-ups left out), %d expected, "
              "%d received"
              % (self.keys_sent, self.keys_unread, getattr(self, "keys_expected", 0),
                 self.keys_received))
        if self.first and self.last:
            print("  RSS: %s at start (%.0f s), %s at end (%.0f s); lowest %s, highest %s"
                  % (mib(self.first[1]), self.first[0], mib(self.last[1]), self.last[0],
                     mib(min(s[1] for s in self.samples)), mib(max(s[1] for s in self.samples))))
            print("  open descriptors: %d at start, %d at end; lowest %d, highest %d"
                  % (self.first[2], self.last[2], min(s[2] for s in self.samples),
                     max(s[2] for s in self.samples)))
        for what, found in self.restore_checks:
            print("  power time-outs after %s: %s" % (what, found))
        print("  result: %s" % ("PASS" if not self.failures else
                                "FAIL (%d problems)" % len(self.failures)))

    def judge(self, rss_slack_kib, fd_slack):
        if self.first and self.last:
            if self.last[1] > self.first[1] + rss_slack_kib:
                self.fail("resident memory grew from %d to %d KiB (allowed: %d KiB)"
                          % (self.first[1], self.last[1], rss_slack_kib))
            if self.last[2] > self.first[2] + fd_slack:
                gained = list(self.last[3])
                for target in self.first[3]:
                    if target in gained:
                        gained.remove(target)
                self.fail("open descriptors grew from %d to %d (allowed: %d); new: %s"
                          % (self.first[2], self.last[2], fd_slack, ", ".join(gained)))
        for what, found in self.restore_checks:
            if found != TIMEOUTS:
                self.fail("power time-outs after %s are %s, not %s" % (what, found, TIMEOUTS))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True, help="the build tree")
    parser.add_argument("--source", default=os.path.dirname(os.path.dirname(here)))
    parser.add_argument("--seconds", type=int, default=3600, help="length of the typing session")
    parser.add_argument("--key-interval", type=int, default=10,
                        help="ms between two keys (default 10: 100 keys a second)")
    parser.add_argument("--rss-slack", type=int, default=4096,
                        help="KiB the resident memory may grow from start to end")
    parser.add_argument("--fd-slack", type=int, default=0,
                        help="descriptors the count may grow from start to end")
    parser.add_argument("--dir", help="sandbox folder (kept); default a temporary one, "
                        "removed when the run passes")
    args = parser.parse_args()

    box = Sandbox(Programs(args.build, args.source), args.dir)
    print("soak: %d s at one key every %d ms, sandbox %s" % (args.seconds, args.key_interval,
                                                           box.dir), flush=True)
    soak = Soak(box, args.seconds, args.key_interval)
    soak.run()
    soak.judge(args.rss_slack, args.fd_slack)
    soak.report()
    if not soak.failures and not args.dir:
        shutil.rmtree(box.dir, ignore_errors=True)
    return 0 if not soak.failures else 1


if __name__ == "__main__":
    sys.exit(main())
