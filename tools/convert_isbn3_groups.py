#!/usr/bin/env python3
"""Converts the range data of the npm package isbn3 (its lib/groups.js) into the repository's
data file. Groups without ranges are left out.

    tools/convert_isbn3_groups.py package/lib/groups.js data/isbn-ranges.txt --edition "isbn3 1.1.10"
"""
import argparse
import json
import re
import sys

import country_codes
import isbn_ranges


def parse_groups_js(text):
    """Turns the module's object literal into JSON: single-quoted strings become JSON strings
    and bare keys get quotes. Nothing in it is evaluated."""
    body = text[text.index("{"):text.rindex("}") + 1]
    out = []
    pos = 0
    token = re.compile(r"'((?:[^'\\]|\\.)*)'|([A-Za-z_]\w*)(\s*:)|(\s+)|([{}\[\],:])")
    while pos < len(body):
        m = token.match(body, pos)
        if not m:
            raise ValueError(f"unexpected text at offset {pos}: {body[pos:pos + 40]!r}")
        if m.group(1) is not None:
            out.append(json.dumps(re.sub(r"\\(.)", r"\1", m.group(1))))
        elif m.group(2) is not None:
            out.append(json.dumps(m.group(2)) + m.group(3))
        else:
            out.append(m.group(0))
        pos = m.end()
    return json.loads("".join(out))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("groups_js")
    parser.add_argument("output")
    parser.add_argument("--edition", required=True, help="text of the data file's edition line")
    parser.add_argument("--iso-codes", default=country_codes.ISO_3166_1)
    args = parser.parse_args()
    with open(args.groups_js, encoding="utf-8") as f:
        data = parse_groups_js(f.read())
    iso_names = country_codes.load_iso_names(args.iso_codes)
    groups = []
    try:
        for key, value in data.items():
            prefix, digits = key.split("-")
            if not value["ranges"]:
                continue
            code = country_codes.country_code(prefix, digits, value["name"], iso_names) or "??"
            groups.append(isbn_ranges.Group(prefix, digits, code, value["name"],
                                            [tuple(r) for r in value["ranges"]]))
        isbn_ranges.check(groups)
    except isbn_ranges.DataError as e:
        sys.exit(f"convert_isbn3_groups: {e}")
    isbn_ranges.write(args.output, args.edition, groups)


if __name__ == "__main__":
    main()
