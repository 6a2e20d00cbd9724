#!/usr/bin/env python3
"""Converts the International ISBN Agency's range export, RangeMessage.xml, into the repository's
range data file.

    tools/convert_range_message.py --reader build/range_message_groups RangeMessage.xml data/isbn-ranges.txt

The export is read, and checked, by range_message_groups, the same reader that orvane --ranges
uses, so the build and the run time can never disagree about an export. This script adds what
only the build has: the ISO 3166-1 country code of each group, from Debian's iso-codes and the
overrides in country_codes.py. A group whose code cannot be found gets "??", and one warning
lists every such group; the conversion goes on.
"""
import argparse
import os
import subprocess
import sys
import tempfile

import country_codes
import isbn_ranges


def convert(reader, path, iso_names):
    """Returns (edition, groups, groups without a code), or raises DataError with the reader's
    message."""
    result = subprocess.run([reader, path], capture_output=True, text=True, encoding="utf-8")
    if result.returncode != 0:
        raise isbn_ranges.DataError(result.stderr.strip() or f"{reader} failed")
    with tempfile.TemporaryDirectory() as tmp:
        listing = os.path.join(tmp, "groups.txt")
        with open(listing, "w", encoding="utf-8") as f:
            f.write(result.stdout)
        edition, groups = isbn_ranges.read(listing)
    unknown = []
    for g in groups:
        g.country = country_codes.country_code(g.prefix, g.digits, g.name, iso_names)
        if g.country is None:
            g.country = "??"
            unknown.append(f"{g.prefix}-{g.digits} ({g.name!r})")
    return edition, groups, unknown


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--reader", required=True, help="the range_message_groups program of a build")
    parser.add_argument("range_message")
    parser.add_argument("output")
    parser.add_argument("--iso-codes", default=country_codes.ISO_3166_1)
    args = parser.parse_args()
    try:
        edition, groups, unknown = convert(args.reader, args.range_message,
                                           country_codes.load_iso_names(args.iso_codes))
        isbn_ranges.check(groups)
    except isbn_ranges.DataError as e:
        sys.exit(f"convert_range_message: {e}")
    if unknown:
        print(f"convert_range_message: warning: no country code for {len(unknown)} groups, annotated "
              f"?? (add them to OVERRIDES in tools/country_codes.py): {', '.join(unknown)}",
              file=sys.stderr)
    isbn_ranges.write(args.output, edition, groups)


if __name__ == "__main__":
    main()
