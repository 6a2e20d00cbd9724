#!/usr/bin/env python3
"""Converts the International ISBN Agency's range export, RangeMessage.xml, into the repository's
range data file.

    tools/convert_range_message.py RangeMessage.xml data/isbn-ranges.txt

Each RegistrationGroups/Group gives a prefix such as '978-0', the agency's name of the region,
and rules: a Range of the digits after the group, such as '0000000-1999999', and the Length of
the publisher part in that range. A rule of length 0 is an unassigned range and makes no row; a
group without any assigned range is left out. The publisher range of a rule is the first Length
digits of the Range's two ends.
"""
import argparse
import sys
import xml.etree.ElementTree as ElementTree

import country_codes
import isbn_ranges


def text_of(element, path, where):
    found = element.find(path)
    if found is None or found.text is None or not found.text.strip():
        raise isbn_ranges.DataError(f"{where}: no {path}")
    return found.text.strip()


def convert(path, iso_names):
    root = ElementTree.parse(path).getroot()
    if root.tag != "ISBNRangeMessage":
        raise isbn_ranges.DataError(f"{path}: not an ISBNRangeMessage")
    date = text_of(root, "MessageDate", path)
    groups = []
    for group in root.iterfind("RegistrationGroups/Group"):
        prefix_text = text_of(group, "Prefix", path)
        where = f"{path}: group {prefix_text}"
        try:
            prefix, digits = prefix_text.split("-")
        except ValueError:
            raise isbn_ranges.DataError(f"{where}: a prefix is PREFIX-GROUP") from None
        if prefix not in ("978", "979") or not digits.isdigit():
            raise isbn_ranges.DataError(f"{where}: unknown prefix")
        name = text_of(group, "Agency", where)
        ranges = []
        for rule in group.iterfind("Rules/Rule"):
            low, _, high = text_of(rule, "Range", where).partition("-")
            length = int(text_of(rule, "Length", where))
            if not (low.isdigit() and high.isdigit() and len(low) == len(high)) or length > len(low):
                raise isbn_ranges.DataError(f"{where}: malformed rule {low}-{high} of length {length}")
            if length > 0:
                ranges.append((low[:length], high[:length]))
        if ranges:
            code = country_codes.country_code(prefix, digits, name, iso_names)
            groups.append(isbn_ranges.Group(prefix, digits, code, name, ranges))
    return f"RangeMessage.xml of {date}", groups


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("range_message")
    parser.add_argument("output")
    parser.add_argument("--iso-codes", default=country_codes.ISO_3166_1)
    args = parser.parse_args()
    try:
        edition, groups = convert(args.range_message, country_codes.load_iso_names(args.iso_codes))
        isbn_ranges.check(groups)
    except (country_codes.CountryCodeError, isbn_ranges.DataError, ElementTree.ParseError) as e:
        sys.exit(f"convert_range_message: {e}")
    isbn_ranges.write(args.output, edition, groups)


if __name__ == "__main__":
    main()
