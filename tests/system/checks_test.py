#!/usr/bin/env python3
"""The judgements of the soak and kill tests, on logs and settings made up
to hold each fault they must catch (a checker that passes everything would
hide every fault of the long runs)."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from kill_test import setting_problems  # noqa: E402
from soak import TIMEOUTS, Soak, expected_keys, key_problem  # noqa: E402


def sent(key, failed=False):
    return '{"event":"sent","what":"key","bytes":"%02X"%s}' % (key, ',"failed":true' if failed else "")


class KeyAccounting(unittest.TestCase):
    def test_keys_of_every_connection_count_except_those_unread_at_a_hang_up(self):
        log = ['{"event":"open"}', sent(65), sent(66), '{"event":"sent","what":"status","bytes":"0A"}',
               '{"event":"close"}', '{"event":"open"}', sent(67), sent(68), sent(69),
               '{"event":"hangup","unread":2,"keys_unread":2}', '{"event":"open"}', sent(70),
               sent(71, failed=True), "not json", sent(72)]
        self.assertEqual(expected_keys(log), [65, 66, 67, 70, 72])

    def test_more_unread_keys_than_the_connection_sent_leave_none(self):
        log = ['{"event":"open"}', sent(65), '{"event":"hangup","keys_unread":5}']
        self.assertEqual(expected_keys(log), [])

    def test_lost_extra_and_reordered_keys_are_found(self):
        self.assertIsNone(key_problem([1, 2, 3], [1, 2, 3]))
        self.assertEqual(key_problem([1, 2, 3, 4], [1, 3, 4]), "1 keys sent were not typed")
        self.assertEqual(key_problem([1, 2, 3], [1, 2]), "1 keys sent were not typed")
        self.assertIn("not the next key sent", key_problem([1, 2, 3], [1, 3, 2]))
        self.assertIn("not the next key sent", key_problem([1, 2], [1, 2, 2]))
        self.assertIn("not the next key sent", key_problem([], [7]))


class Figures(unittest.TestCase):
    def judged(self, first, last, restored=TIMEOUTS):
        soak = Soak(None, 60, 10)
        soak.first, soak.last = first, last
        soak.restore_checks = [("quitting", restored)]
        soak.fail = soak.failures.append
        soak.judge(rss_slack_kib=4096, fd_slack=0)
        return soak.failures

    def test_flat_figures_and_restored_time_outs_pass(self):
        self.assertEqual(self.judged((17, 34000, 3, ["a", "pipe", "socket"]),
                                     (900, 38000, 2, ["a", "pipe"])), [])

    def test_growth_beyond_the_slack_and_time_outs_left_at_0_fail(self):
        failures = self.judged((17, 34000, 2, ["a", "pipe"]),
                               (900, 38200, 4, ["a", "pipe", "pipe", "socket"]), (0, 0, 0))
        self.assertEqual(len(failures), 3)
        self.assertIn("resident memory grew from 34000 to 38200 KiB", failures[0])
        self.assertIn("new: pipe, socket", failures[1])
        self.assertIn("(0, 0, 0)", failures[2])


class AcknowledgedSettings(unittest.TestCase):
    def test_a_setting_holds_its_acknowledged_value_or_a_later_one_tried(self):
        acked = {"A": 5, "B": 9}
        self.assertEqual(setting_problems(acked, {"A": 5, "B": 12}, {"A": 5, "B": 12}), [])

    def test_an_older_missing_unknown_or_mistyped_value_is_a_loss(self):
        acked = {"A": 5, "B": 9, "C": 3, "D": 4}
        problems = setting_problems(acked, {"A": 4, "B": 13, "D": "4"}, {"A": 6, "B": 12})
        self.assertEqual(len(problems), 4)
        self.assertTrue(problems[0].startswith("A is 4"))
        self.assertTrue(problems[2].startswith("C is None"))


if __name__ == "__main__":
    unittest.main()
