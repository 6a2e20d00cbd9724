"""The repository's range data file: reading, writing and checking it.

The file holds one block per registration group:

    group 978-0 ?? English language
      00 19
      200 227

The group line gives the prefix and group digits, the ISO 3166-1 alpha-2 country code (?? for a
group without one) and the agency's name of the region; each following indented line gives the
lowest and highest publisher number of one range. Lines starting with '#' are comments; the
'# edition:' comment names where the data came from.
"""
import re
from dataclasses import dataclass, field

ROW_CAPACITY = 2560
MAX_PREFIX_DIGITS = 8


class DataError(Exception):
    pass


@dataclass
class Group:
    prefix: str          # "978" or "979"
    digits: str          # registration group digits, e.g. "0" or "99987"
    country: str         # two capital letters, or "??"
    name: str
    ranges: list = field(default_factory=list)   # [(low, high)] publisher numbers


def write(path, edition, groups):
    lines = [
        "# ISBN registration groups and their publisher ranges.",
        f"# edition: {edition}",
        "#",
        "# One block per group: 'group PREFIX-GROUP COUNTRY NAME', then one line per publisher",
        "# range, 'LOW HIGH'. COUNTRY is the ISO 3166-1 alpha-2 code, or ?? for none.",
    ]
    for g in groups:
        lines.append(f"group {g.prefix}-{g.digits} {g.country} {g.name}")
        lines.extend(f"  {low} {high}" for low, high in g.ranges)
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


def read(path):
    """Returns (edition, groups) as the file lists them."""
    edition = None
    groups = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            where = f"{path}:{number}"
            if line.startswith("# edition:"):
                edition = line[len("# edition:"):].strip()
            elif line.startswith("#") or not line.strip():
                continue
            elif line.startswith("group "):
                m = re.fullmatch(r"group (97[89])-([0-9]+) ([A-Z]{2}|\?\?) (\S.*)", line)
                if not m:
                    raise DataError(f"{where}: malformed group line: {line!r}")
                groups.append(Group(*m.groups()))
            elif line.startswith("  "):
                m = re.fullmatch(r"  ([0-9]+) ([0-9]+)", line)
                if not m or not groups:
                    raise DataError(f"{where}: malformed range line: {line!r}")
                groups[-1].ranges.append(m.groups())
            else:
                raise DataError(f"{where}: unexpected line: {line!r}")
    if edition is None:
        raise DataError(f"{path}: no '# edition:' line")
    return edition, groups


def check(groups):
    """Raises DataError unless every range is one the table can hold."""
    seen = set()
    rows = 0
    for g in groups:
        key = (g.prefix, g.digits)
        if key in seen:
            raise DataError(f"group {g.prefix}-{g.digits} appears twice")
        seen.add(key)
        if not g.ranges:
            raise DataError(f"group {g.prefix}-{g.digits} has no ranges")
        for low, high in g.ranges:
            where = f"group {g.prefix}-{g.digits} range {low}-{high}"
            if len(low) != len(high):
                raise DataError(f"{where}: low and high differ in width")
            if len(g.digits) + len(low) > MAX_PREFIX_DIGITS:
                raise DataError(f"{where}: more than {MAX_PREFIX_DIGITS} digits of prefix")
            if low > high:
                raise DataError(f"{where}: low is above high")
        rows += len(g.ranges)
    if rows > ROW_CAPACITY:
        raise DataError(f"{rows} ranges do not fit the table's {ROW_CAPACITY} rows")
