#!/usr/bin/env python3
"""Checks of bench/summarize.py on hand-made benchmark output."""

import json
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import summarize  # noqa: E402


def run(name, ms, items=None, unit="ms", rep=0, cpu=None, **extra):
    b = {"name": name + "/real_time", "run_name": name + "/real_time", "run_type": "iteration",
         "repetition_index": rep, "real_time": ms, "cpu_time": ms if cpu is None else cpu,
         "time_unit": unit}
    if items is not None:
        b["items_per_second"] = items
    b.update(extra)
    return b


class Summary(unittest.TestCase):
    def summarise(self, benchmarks, clock="cpu_time"):
        with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False) as f:
            json.dump({"context": {}, "benchmarks": benchmarks}, f)
        self.addCleanup(os.unlink, f.name)
        results, errors, _ = summarize.load(f.name, clock)
        rows, literal, over = summarize.analyse(results)
        return {r["name"]: r for r in rows}, literal, over, errors

    def test_ratios_to_the_floor_memcpy_and_ten_times_the_input(self):
        rows, _, over, errors = self.summarise([
            run("ListToString/Corvane/cells:1M/plain/plugin", 100, items=1e7),
            run("ListToString/Corvane/cells:1M/plain/floor", 80),
            run("ListToString/Corvane/cells:1M/plain/memcpy", 0.5),
            run("ListToString/Corvane/cells:10M/plain/plugin", 1200),
            run("ListToString/Corvane/cells:10M/plain/floor", 900),
            run("ListToString/Corvane/cells:1M/plain/fresh", 160),
            run("ListToString/Corvane/cells:10M/plain/fresh", 1600),
            # Another build must not be paired with this one.
            run("ListToString/CorvaneU/cells:1M/plain/floor", 1),
        ])
        self.assertEqual(errors, [])
        small = rows["ListToString/Corvane/cells:1M/plain"]
        self.assertAlmostEqual(small["x_floor"], 1.25)
        self.assertAlmostEqual(small["x_memcpy"], 200)
        self.assertAlmostEqual(small["mcells"], 10)
        self.assertIsNone(small["scale"])
        big = rows["ListToString/Corvane/cells:10M/plain"]
        self.assertAlmostEqual(big["scale"], 12)
        self.assertAlmostEqual(big["floor_scale"], 11.25)
        self.assertIsNone(big["x_memcpy"])
        fresh = rows["ListToString/Corvane/cells:10M/plain [fresh]"]
        self.assertAlmostEqual(fresh["x_floor"], 1600 / 900)
        self.assertAlmostEqual(fresh["scale"], 10, msg="paired with the fresh run, not the warm one")
        self.assertEqual(len(over), 1)
        self.assertIn("10x the input costs 12.0x", over[0])

    def test_medians_of_repetitions_units_and_the_clock(self):
        rows, _, _, _ = self.summarise([
            run("StringToList/Corvane/cells:1M/plain/plugin", 100, rep=0, cpu=90),
            run("StringToList/Corvane/cells:1M/plain/plugin", 300, rep=1, cpu=95),
            run("StringToList/Corvane/cells:1M/plain/plugin", 120, rep=2, cpu=400),
            run("StringToList/Corvane/cells:1M/plain/floor", 50000, unit="us", cpu=60000),
        ], clock="real_time")
        r = rows["StringToList/Corvane/cells:1M/plain"]
        self.assertEqual(r["ms"], 120)
        self.assertEqual(r["floor_ms"], 50)
        self.assertAlmostEqual(r["x_floor"], 2.4)
        rows, _, _, _ = self.summarise([
            run("StringToList/Corvane/cells:1M/plain/plugin", 100, rep=0, cpu=90),
            run("StringToList/Corvane/cells:1M/plain/plugin", 300, rep=1, cpu=95),
            run("StringToList/Corvane/cells:1M/plain/plugin", 120, rep=2, cpu=400),
        ])
        self.assertEqual(rows["StringToList/Corvane/cells:1M/plain"]["ms"], 95)

    def test_aggregates_only_output_uses_the_median(self):
        median = run("StringToList/Corvane/cells:1M/plain/plugin", 70)
        median.update(run_type="aggregate", aggregate_name="median")
        mean = run("StringToList/Corvane/cells:1M/plain/plugin", 999)
        mean.update(run_type="aggregate", aggregate_name="mean")
        rows, _, _, _ = self.summarise([median, mean])
        self.assertEqual(rows["StringToList/Corvane/cells:1M/plain"]["ms"], 70)

    def test_adversarial_texts_against_the_benign_one_and_the_literal_table(self):
        rows, literal, over, _ = self.summarise([
            run("FormattedStringToList/CorvaneU/text:100M/html/plugin", 1000),
            run("FormattedStringToList/CorvaneU/text:100M/near-match/plugin", 900),
            run("FormattedStringToList/CorvaneU/text:100M/rare-prefixes/plugin", 3500),
            run("FormattedStringToList/Corvane/text:100k/html/plugin", 2),
            run("FormattedStringToList/CorvaneU/text:100k/html/plugin", 4),
            run("FormattedStringToList/literal/text:100k/html/literal", 400, min_time="0.1"),
        ])
        self.assertAlmostEqual(rows["FormattedStringToList/CorvaneU/text:100M/near-match"]["x_benign"], 0.9)
        self.assertAlmostEqual(rows["FormattedStringToList/CorvaneU/text:100M/rare-prefixes"]["x_benign"], 3.5)
        self.assertIsNone(rows["FormattedStringToList/CorvaneU/text:100M/html"]["x_benign"])
        self.assertEqual([o for o in over if "benign" in o],
                         ["FormattedStringToList/CorvaneU/text:100M/rare-prefixes costs 3.50x the benign "
                          "text (bound 3x)"])
        self.assertEqual(len(literal), 1)
        self.assertEqual(literal[0]["builds"], {"Corvane": 2, "CorvaneU": 4})
        table = summarize.render(list(rows.values()), literal, over, [], "cpu_time", {}, 1)
        self.assertIn("literal/CorvaneU", table)
        self.assertIn("Over a bound (1)", table)

    def test_errors_are_reported_and_fail_the_run(self):
        broken = run("ListToString/Corvane/cells:1M/plain/plugin", 0)
        broken.update(error_occurred=True, error_message="wrong text, result 4")
        with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False) as f:
            json.dump({"benchmarks": [broken, run("ListToString/Corvane/cells:1M/plain/floor", 5)]}, f)
        self.addCleanup(os.unlink, f.name)
        with open(os.devnull, "w") as devnull:
            stdout, sys.stdout = sys.stdout, devnull
            try:
                status = summarize.main([f.name])
            finally:
                sys.stdout = stdout
        self.assertEqual(status, 1)
        _, errors, _ = summarize.load(f.name, "cpu_time")
        self.assertEqual(errors, [(("ListToString", "Corvane", "cells:1M", "plain", "plugin"),
                                   "wrong text, result 4")])

    def test_sizes(self):
        self.assertEqual(summarize.parse_size("cells:10M"), ("cells", 10000000))
        self.assertEqual(summarize.parse_size("text:100k"), ("text", 100000))
        self.assertEqual(summarize.parse_size("text:7"), ("text", 7))
        self.assertIsNone(summarize.parse_size("min_time:0.100"))


if __name__ == "__main__":
    unittest.main()
