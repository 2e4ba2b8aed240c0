#!/usr/bin/env python3
"""The generators of nimbrel's string table and of gorwin.rc refuse bad input with a
message: a duplicate id, a count that does not add up, a text windres would alter."""
import contextlib
import importlib.util
import io
import os
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def load(name, path):
    spec = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


nimbrel = load("gen_nimbrel", os.path.join(ROOT, "nimbrel", "gen_nimbrel.py"))
gorwin = load("gen_gorwin", os.path.join(ROOT, "gorwin", "gen_gorwin.py"))
TSV = os.path.join(ROOT, "nimbrel", "strings.tsv")
HEADER = os.path.join(ROOT, "resource_ids.h")


class NimbrelStrings(unittest.TestCase):
    def setUp(self):
        with open(TSV, encoding="ascii", newline="") as f:
            self.rows = f.read()
        # The gaps count as defined here, so each row fails for its own fault.
        self.defined = nimbrel.header_ids(HEADER) | {10106, 10107}
        self.tmp = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.tmp.cleanup()

    def read(self, text):
        path = os.path.join(self.tmp.name, "strings.tsv")
        with open(path, "w", encoding="latin-1", newline="") as f:
            f.write(text)
        return nimbrel.read_strings(path, self.defined)

    def test_checked_in_table_is_accepted(self):
        strings = self.read(self.rows)
        self.assertEqual(strings[110], "\nProject\nProject\nProject (*.OPJ)\n.OPJ\n"
                                       "Project.Document\nProject Document")
        self.assertEqual(strings[10020], "Status Manager Initialisation Error ")
        self.assertNotIn(10107, strings)

    def test_bad_rows_are_refused(self):
        cases = [
            ("duplicate id", self.rows + "10090\tAgain\n", "duplicate string id 10090"),
            ("id not in the header", self.rows + "20000\tX\n", "not defined"),
            ("one of the gaps", self.rows + "10107\tX\n", "must stay absent"),
            ("missing id", self.rows.replace("10050\tFont Style:\n", ""), "missing: [10050]"),
            ("unknown escape", self.rows + "10106\ta\\qb\n", "unknown escape"),
            ("no tab", self.rows + "10106 text\n", "one tab"),
            ("two tabs", self.rows + "10106\ta\tb\n", "one tab"),
            ("not a number", self.rows + "ten\tX\n", "bad string id"),
            ("empty text", self.rows + "10106\t\n", "empty string"),
            ("non-ASCII text", self.rows + "10106\tcaf\xe9\n", "code page"),
            ("no line end", self.rows + "10106\tX", "no line end"),
            ("carriage return", self.rows + "10106\tX\r\n", "carriage return"),
        ]
        for what, text, message in cases:
            with self.subTest(what):
                with self.assertRaises((nimbrel.GenError, UnicodeDecodeError)) as caught:
                    self.read(text)
                if isinstance(caught.exception, nimbrel.GenError):
                    self.assertIn(message, str(caught.exception))

    def test_literals_keep_what_windres_reads(self):
        self.assertEqual(nimbrel.rc_literal('a "b" \\ %% & |\n', "t"),
                         '"a ""b"" \\\\ %% & |\\n"')


class GorwinGenerator(unittest.TestCase):
    def setUp(self):
        self.saved = {k: getattr(gorwin, k) for k in
                      ("TYPEFACE_RANGES", "FAMILY_COUNTS", "FIXED_TYPEFACES", "SYMBOL_SETS",
                       "SUFFIXES")}

    def tearDown(self):
        for k, v in self.saved.items():
            setattr(gorwin, k, v)

    def test_counts_come_out_exact(self):
        strings = gorwin.typeface_strings()
        self.assertEqual(len(strings), 665)
        letters = {}
        for text in strings.values():
            if text[1:2] == "," and text[0] in "DRWSM":
                letters[text[0]] = letters.get(text[0], 0) + 1
        self.assertEqual(letters, {"D": 398, "R": 110, "W": 56, "S": 52, "M": 43})

    def test_bad_rules_are_refused(self):
        cases = [
            ("overlapping ranges", "TYPEFACE_RANGES",
             self.saved["TYPEFACE_RANGES"] + [(1000, 1000)], "duplicate"),
            ("a range too few", "TYPEFACE_RANGES", self.saved["TYPEFACE_RANGES"][:-1], "665"),
            ("family counts off by one", "FAMILY_COUNTS",
             {**self.saved["FAMILY_COUNTS"], "D": 399}, "do not add up"),
            ("fixed row outside the ranges", "FIXED_TYPEFACES",
             {**self.saved["FIXED_TYPEFACES"], 1028: "M,X"}, "not among the listed ids"),
            ("symbol set in the wrong form", "SYMBOL_SETS",
             {**self.saved["SYMBOL_SETS"], 5001: "M8: Math-8"}, "XX:  Name"),
            ("suffix with a quote", "SUFFIXES",
             {**self.saved["SUFFIXES"], 301: ' "Math8"'}, "windres would alter"),
            ("suffix clashing with a typeface", "SUFFIXES",
             {**self.saved["SUFFIXES"], 1000: "X"}, "duplicate string id 1000"),
        ]
        for what, name, value, message in cases:
            with self.subTest(what):
                setattr(gorwin, name, value)
                with self.assertRaises(gorwin.GenError) as caught:
                    gorwin.render()
                self.assertIn(message, str(caught.exception))
                setattr(gorwin, name, self.saved[name])

    def test_check_refuses_a_stale_file(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "gorwin.rc")
            self.assertEqual(gorwin.main(["gen", "--write", path]), 0)
            self.assertEqual(gorwin.main(["gen", "--check", path]), 0)
            with open(path, "a") as f:
                f.write("// edited by hand\n")
            with contextlib.redirect_stderr(io.StringIO()) as err:
                self.assertEqual(gorwin.main(["gen", "--check", path]), 1)
            self.assertIn("differs", err.getvalue())


if __name__ == "__main__":
    unittest.main()
