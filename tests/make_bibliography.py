#!/usr/bin/env python3
"""Writes the realistic BibTeX fixture: a few hundred entries in the styles that reference
managers export (JabRef, Zotero with Better BibTeX, Mendeley), with ISBNs in ISBN fields and
ISBN-like numbers everywhere else (DOIs, page ranges, file names, PubMed ids, keys, notes).
The same bytes every time; the expected output beside it was reviewed once and is committed.

    tests/make_bibliography.py tests/cases/bibtex-bibliography/input
"""
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import isbn_ranges  # noqa: E402
from check_digits import check10, check13  # noqa: E402

rng = random.Random(1994)
_, GROUPS = isbn_ranges.read(os.path.join(os.path.dirname(__file__), "..", "data", "isbn-ranges.txt"))
ROWS = [(g.prefix, g.digits, low, high) for g in GROUPS for low, high in g.ranges]
SURNAMES = "Smith Müller Dupont García Rossi Nowak Tanaka Kowalski Jensen Silva Ivanova Okafor".split()
GIVEN = "Anna John Marie José Luca Ewa Hiro Jan Ingrid Ana Olga Chidi".split()
WORDS = ("theory practice history language data model society method early modern world press "
         "introduction analysis systems networks learning design patterns programming").split()
PUBLISHERS = ["MIT Press", "Springer", "Cambridge University Press", "O'Reilly Media", "Éditions du Seuil"]


def isbn(valid=True, form=None):
    prefix, group, low, high = rng.choice(ROWS)
    publisher = str(rng.randint(int(low), int(high))).zfill(len(low))
    title = "".join(rng.choice("0123456789") for _ in range(9 - len(group) - len(publisher)))
    body = group + publisher + title
    ten = prefix == "978" and rng.random() < 0.35
    text = body + check10(body) if ten else prefix + body + check13(prefix + body)
    if not valid:
        text = text[:-1] + ("0" if text[-1] != "0" else "1")
    form = form or rng.choice(["bare", "bare", "hyphens", "spaces"])
    if form == "hyphens":
        parts = ([] if ten else [prefix]) + [group, publisher, title, text[-1]]
        return "-".join(parts)
    return text


def person():
    return f"{rng.choice(SURNAMES)}, {rng.choice(GIVEN)}"


def title():
    return " ".join(rng.choice(WORDS) for _ in range(rng.randint(2, 7))).capitalize()


def doi(isbn13=None):
    if isbn13 and rng.random() < 0.5:
        return f"10.1017/{isbn13.replace('-', '')}"
    return f"10.{rng.randint(1000, 9999)}/s{rng.randint(10000, 99999)}-{rng.randint(100, 999)}-{rng.randint(10000, 99999)}-y"


def jabref(n):
    key = f"{rng.choice(SURNAMES)}{rng.randint(1950, 2025)}"
    number = isbn(valid=rng.random() > 0.05)
    fields = [("author", f"{person()} and {person()}"), ("title", title()),
              ("publisher", rng.choice(PUBLISHERS)), ("year", str(rng.randint(1950, 2025))),
              ("isbn", number), ("pages", f"{rng.randint(1, 9999)}--{rng.randint(10000, 10999)}"),
              ("file", f":pdfs/{title().lower().replace(' ', '_')}_{number.replace('-', '')}.pdf:PDF"),
              ("owner", "anna"), ("timestamp", f"2021.{rng.randint(1, 12):02}.{rng.randint(1, 28):02}")]
    body = ",\n".join(f"  {name:<9} = {{{value}}}" for name, value in fields)
    return f"@Book{{{key}{n},\n{body},\n}}\n"


def zotero(n):
    number = isbn(form=rng.choice(["hyphens", "bare"]))
    more = f" {isbn()}" if rng.random() < 0.2 else ""
    key = f"{rng.choice(SURNAMES).lower()}_{rng.choice(WORDS)}_{rng.randint(1990, 2025)}"
    fields = [("title", f"{{{title()}}}: {title().lower()}"), ("isbn", number + more),
              ("shorttitle", title()), ("url", f"https://example.org/books/{number}"),
              ("doi", doi(number if len(number.replace('-', '')) == 13 else None)),
              ("urldate", f"2023-{rng.randint(1, 12):02}-{rng.randint(1, 28):02}"),
              ("publisher", rng.choice(PUBLISHERS)), ("author", person()),
              ("year", str(rng.randint(1990, 2025))), ("keywords", "data, 2020-2021, vol. 12"),
              ("file", f"Full Text PDF:/home/anna/Zotero/storage/{rng.randint(10**7, 10**8)}/file_{number}.pdf:application/pdf")]
    if rng.random() < 0.3:
        fields.append(("note", f"ISBN: {isbn()}"))
    body = ",\n".join(f"\t{name} = {{{value}}}" for name, value in fields)
    kind = rng.choice(["book", "book", "incollection"])
    return f"@{kind}{{{key}{n},\n{body},\n}}\n"


def mendeley(n):
    number = isbn()
    fields = [("abstract", f"{title()}. Published as {number} in print; pp. 100-120."),
              ("author", f"{person()} and {person()}"), ("isbn", number),
              ("issn", f"{rng.randint(1000, 9999)}-{rng.randint(1000, 9999)}"),
              ("mendeley-groups", "Reading/2021"), ("pmid", str(rng.randint(10**7, 10**8))),
              ("publisher", rng.choice(PUBLISHERS)), ("title", f"{{{title()}}}"),
              ("url", f"http://www.example.com/{number}"), ("year", str(rng.randint(1990, 2025)))]
    body = ",\n".join(f"{name} = {{{value}}}" for name, value in fields)
    return f"@book{{{rng.choice(SURNAMES)}{rng.randint(1990, 2025)}{n},\n{body}\n}}\n"


def handmade(n):
    choice = rng.random()
    if choice < 0.3:
        return (f"@book{{hand{n},\n  title = \"{title()} {{in}} M{{\\\"u}}ller\",\n  publisher = pub,\n"
                f"  isbn = \"{isbn()}\",\n  edition = 2,\n}}\n")
    if choice < 0.5:
        return f"@inbook(hand{n}, ISBN = {{{isbn()}}}, pages = {{{rng.randint(10000, 99999)}-{rng.randint(10000, 99999)}}}, chapter = 3)\n"
    if choice < 0.7:
        return (f"@book{{hand{n},\r\n  Title = {{{title()}}},\r\n  ISBN-13 = {{{isbn(form='bare')}}},\r\n"
                f"  ISBN-10 = {{{isbn(valid=False)}}},\r\n}}\r\n")
    return (f"@misc{{hand{n},\n  note = {{Reprint of {isbn()}; see also\n    ISBN {isbn()}}},\n"
            f"  isbn = {{{isbn()}\n    {isbn()}}},\n}}\n")


out = ["% Reading list, merged from several reference managers.\n",
       "% Questions to anna@example.org; the ISBNs here came from publisher catalogues.\n\n",
       '@string{pub = "O\'Reilly Media"}\n',
       '@preamble{ "\\providecommand{\\noopsort}[1]{} % 9780262373883" }\n\n']
styles = [jabref, zotero, mendeley, handmade]
for n in range(1, 301):
    out.append(rng.choice(styles)(n))
    out.append("\n" if rng.random() < 0.9 else "\n% page 12-34, 2021-12-26\n\n")
    if n == 150:
        # Its values close, the entry does not: after its last ',' the next entry's type reads as
        # a field name, as BibTeX reads it, and reading goes on at the '@' after that entry.
        out.append("@book{unclosed150,\n  title = {An entry that never closes},\n"
                   f"  isbn = {{{isbn()}}},\n\n")
out.append("@Comment{jabref-meta: databaseType:bibtex;}\n")
# A value that never closes holds the rest of the input, as BibTeX reads it.
out.append(f"@book{{unclosed301,\n  title = {{A title that never closes,\n  isbn = {{{isbn()}}},\n\n"
           "@book{inside301, isbn = {0201633612}}\n")
with open(sys.argv[1], "w", encoding="utf-8", newline="") as f:
    f.write("".join(out))
