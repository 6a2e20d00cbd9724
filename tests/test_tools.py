"""Tests of the maintainer tools that turn range data into the table's source."""
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(HERE, "..", "tools")
sys.path.insert(0, TOOLS)

import country_codes  # noqa: E402
import isbn_ranges  # noqa: E402


def run_tool(name, *args):
    return subprocess.run([sys.executable, os.path.join(TOOLS, name), *args], capture_output=True, text=True)


# The build's reader of range exports, which the converter runs.
READER = ["--reader", os.environ.get("RANGE_MESSAGE_GROUPS", "range_message_groups")]


class ConvertRangeMessage(unittest.TestCase):
    def test_fixture_gives_the_expected_data_file(self):
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "ranges.txt")
            result = run_tool("convert_range_message.py", *READER,
                              os.path.join(HERE, "fixtures", "ranges", "RangeMessage-small.xml"), out)
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(out) as got, open(os.path.join(HERE, "fixtures", "isbn-ranges-from-RangeMessage.txt")) as want:
                self.assertEqual(got.read(), want.read())

    def test_regions_without_a_code_get_question_marks_and_one_warning(self):
        xml = """<ISBNRangeMessage><MessageDate>today</MessageDate><RegistrationGroups>
          <Group><Prefix>978-99998</Prefix><Agency>Atlantis</Agency>
          <Rules><Rule><Range>0000000-9999999</Range><Length>2</Length></Rule></Rules></Group>
          <Group><Prefix>978-4</Prefix><Agency>Japan</Agency>
          <Rules><Rule><Range>0000000-1999999</Range><Length>2</Length></Rule></Rules></Group>
          <Group><Prefix>978-99999</Prefix><Agency>Federated Panel</Agency>
          <Rules><Rule><Range>0000000-9999999</Range><Length>2</Length></Rule></Rules></Group>
        </RegistrationGroups></ISBNRangeMessage>"""
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "RangeMessage.xml")
            with open(path, "w") as f:
                f.write(xml)
            out = os.path.join(tmp, "out.txt")
            result = run_tool("convert_range_message.py", *READER, path, out)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(result.stderr, "convert_range_message: warning: no country code for 2 groups, "
                             "annotated ?? (add them to OVERRIDES in tools/country_codes.py): "
                             "978-99998 ('Atlantis'), 978-99999 ('Federated Panel')\n")
            _, groups = isbn_ranges.read(out)
            self.assertEqual([g.country for g in groups], ["??", "JP", "??"])


class CountryCodes(unittest.TestCase):
    def test_overrides_iso_names_and_groups_without_a_country(self):
        iso = country_codes.load_iso_names()
        cases = [("978", "89", "Korea, Republic", "KR"), ("978", "9946", "Korea, P.D.R.", "KP"),
                 ("978", "99937", "Macau", "MO"), ("978", "4", "Japan", "JP"),
                 ("978", "80", "former Czechoslovakia", "??"), ("979", "8", "United States", "US")]
        for prefix, group, name, code in cases:
            self.assertEqual(country_codes.country_code(prefix, group, name, iso), code, name)


class GeneratorChecks(unittest.TestCase):
    def generate(self, data, *args):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "ranges.txt")
            with open(path, "w") as f:
                f.write("# edition: test\n" + data)
            return run_tool("generate_isbn_table.py", path, os.path.join(tmp, "out.cpp"), *args)

    def test_rejects_ranges_the_table_cannot_hold(self):
        cases = {
            "group 978-0 ?? English language\n  00 199\n": "differ in width",
            "group 978-99901 BH Bahrain\n  0000 9999\n": "more than 8 digits",
            "group 978-0 ?? English language\n  50 19\n": "low is above high",
            "group 978-0 ?? English language\n": "has no ranges",
            "group 978-0 ?? English language\n  0-0 19\n": "malformed range line",
        }
        for data, message in cases.items():
            result = self.generate(data)
            self.assertNotEqual(result.returncode, 0, data)
            self.assertIn(message, result.stderr, data)

    def test_rejects_more_rows_than_the_capacity(self):
        rows = "".join(f"  {i:04d} {i:04d}\n" for i in range(isbn_ranges.ROW_CAPACITY + 1))
        result = self.generate("group 978-1 ?? English language\n" + rows)
        self.assertIn("do not fit the table's 2560 rows", result.stderr)

    def test_counts_must_match_when_expected(self):
        result = self.generate("group 978-0 ?? English language\n  00 19\n", "--expect-rows", "1305")
        self.assertIn("1 ranges, expected 1305", result.stderr)


if __name__ == "__main__":
    unittest.main()
