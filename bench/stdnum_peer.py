#!/usr/bin/env python3
"""The filter a user might script instead of orvane: python-stdnum's ISBN module behind a
regular expression. Reads standard input, writes standard output, warns on standard error."""
import re
import sys

from stdnum import isbn
from stdnum.exceptions import ValidationError

CANDIDATE = re.compile(r"[0-9][0-9Xx-]*")


def replace(match):
    text = match.group(0)
    if len(text.replace("-", "")) not in (10, 13):
        return text
    try:
        return isbn.format(text, convert=False)
    except ValidationError:
        sys.stderr.write(f"invalid ISBN {text}\n")
        return text


for line in sys.stdin:
    sys.stdout.write(line if "://" in line else CANDIDATE.sub(replace, line))
