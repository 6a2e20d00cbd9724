"""BibTeX mode through the built binary: which bytes it changes, and how it recovers from
entries that do not parse. Every case reads standard input with --bibtex."""

GOOD = b"0201633612"
BAD = b"0201633613"
BAD_WARNING = b"invalid ISBN-10 value [0201633613]."


def case(name, stdin, stdout=None, stderr=b""):
    """A row of the table; stdout None means the input comes out unchanged."""
    return (name, ["--bibtex"], stdin, stdin if stdout is None else stdout, stderr, 0)


def hyphenated(text):
    return text.replace(GOOD, b"0-201-63361-2")


CASES = [
    # Field names: any that contains "isbn" in any case, and no other.
    case("field names", b"@book{k,\n isbn = {%s},\n ISBN = {%s},\n isbn13 = {%s},\n eisbn = {%s},\n"
         b" print-isbn = {%s},\n IsBn_10 = {%s},\n iisbn = {%s},\n isb = {%s},\n isbnote = {%s},\n"
         b" note = {ISBN %s},\n}\n" % ((GOOD,) * 10),
         b"@book{k,\n isbn = {0-201-63361-2},\n ISBN = {0-201-63361-2},\n isbn13 = {0-201-63361-2},\n"
         b" eisbn = {0-201-63361-2},\n print-isbn = {0-201-63361-2},\n IsBn_10 = {0-201-63361-2},\n"
         b" iisbn = {0-201-63361-2},\n isb = {%s},\n isbnote = {0-201-63361-2},\n note = {ISBN %s},\n}\n"
         % (GOOD, GOOD)),
    # What real files carry outside ISBN fields stays as it is, without a warning.
    case("other fields untouched", b"@article{Smith:2020/x+y.z,\n  doi = {10.1017/9781107358331},\n"
         b"  pages = {10023-10024},\n  file = {pdfs/play_9780262373883.pdf},\n  pmid = {0201633613},\n"
         b"  year = 2020,\n}\n"),
    case("invalid only warned in isbn fields", b"@book{k,\n  note = {%s},\n  isbn = {%s},\n}\n" % (BAD, BAD),
         stderr=b"-:3:" + BAD_WARNING + b"\n"),
    case("text between entries", b"Mail someone@example.org or @ {here}.\n%s\n@book{k, isbn = {%s}}\n"
         b"after 0201633612 @ x\n" % (GOOD, GOOD),
         b"Mail someone@example.org or @ {here}.\n%s\n@book{k, isbn = {0-201-63361-2}}\n"
         b"after 0201633612 @ x\n" % GOOD),
    case("special blocks", b"@string{isbn = \"%s\"}\n@STRING(i = {%s})\n@comment{isbn = {%s} {nested}}\n"
         b"@preamble{ \"\\def\\x{%s}\" }\n@Comment(isbn = {%s})\n@book{k, isbn = i # {%s}}\n" % ((GOOD,) * 6),
         b"@string{isbn = \"%s\"}\n@STRING(i = {%s})\n@comment{isbn = {%s} {nested}}\n"
         b"@preamble{ \"\\def\\x{%s}\" }\n@Comment(isbn = {%s})\n@book{k, isbn = i # {0-201-63361-2}}\n"
         % ((GOOD,) * 5)),
    # Values: braces nested and across lines, quotes (a quote inside braces does not end
    # one), bare numbers (left alone: BibTeX allows no hyphen in one), parts joined with #.
    case("value forms", b"@book{k,\n  isbn = {{%s} and\n   {9780201633610}},\n  isbn = \"{\"}%s\",\n"
         b"  isbn = %s,\n  isbn = \"%s\" # { %s } # m,\n}\n" % (GOOD, GOOD, GOOD, GOOD, GOOD),
         b"@book{k,\n  isbn = {{0-201-63361-2} and\n   {978-0-201-63361-0}},\n  isbn = \"{\"}0-201-63361-2\",\n"
         b"  isbn = %s,\n  isbn = \"0-201-63361-2\" # { 0-201-63361-2 } # m,\n}\n" % GOOD),
    case("quoted value over lines", b"@book{k,\n  isbn = \"%s\n  {\"} 9780201633610\n  %s\",\n}\n" % (GOOD, BAD),
         b"@book{k,\n  isbn = \"0-201-63361-2\n  {\"} 978-0-201-63361-0\n  %s\",\n}\n" % BAD, b"-:4:" + BAD_WARNING + b"\n"),
    case("multi-line value warns on its line", b"@book{k,\n  isbn = {\n    %s\n    %s\n  },\n}\n" % (GOOD, BAD),
         b"@book{k,\n  isbn = {\n    0-201-63361-2\n    %s\n  },\n}\n" % BAD, b"-:4:" + BAD_WARNING + b"\n"),
    case("parentheses and blanks anywhere", b"@Book (\n k ,\n ISBN\n =\n\n {%s} , )\n@misc\n{k2,isbn={%s}}\n" % (GOOD, GOOD),
         b"@Book (\n k ,\n ISBN\n =\n\n {0-201-63361-2} , )\n@misc\n{k2,isbn={0-201-63361-2}}\n"),
    case("crlf", b"@book{k,\r\n  isbn = {%s},\r\n  note = {%s}\r\n}\r\n" % (GOOD, GOOD),
         b"@book{k,\r\n  isbn = {0-201-63361-2},\r\n  note = {%s}\r\n}\r\n" % GOOD),
    case("a url line is copied", b"@book{k, isbn = {%s}, url = {https://x.org}}\n@book{j,\n isbn = {%s}}\n" % (GOOD, GOOD),
         b"@book{k, isbn = {%s}, url = {https://x.org}}\n@book{j,\n isbn = {0-201-63361-2}}\n" % GOOD),
    case("isbn-13 and writing rule", b"@book{k, isbn = {9780201633610}, isbn = {9789999900003x}, isbn = {978-0201633610}}\n",
         b"@book{k, isbn = {978-0-201-63361-0}, isbn = {9789999900003x}, isbn = {978-0-201-63361-0}}\n"),
    # Malformed entries: one warning naming the line where the entry starts; BibTeX reads on at
    # the next '@' from the byte where the entry broke, wherever it stands. Where a ',' or the
    # entry's end is due, an '@' ends the entry unclosed, and the next entry is read from it.
    # A field name may start with '@' (a field "commented out"); so may an entry type.
    case("a field name that starts with @", b"@book{k,\n  title = {T},\n  @note = {x},\n  isbn = {%s}\n}\n" % GOOD,
         b"@book{k,\n  title = {T},\n  @note = {x},\n  isbn = {0-201-63361-2}\n}\n"),
    case("an entry type that starts with @", b"@@book{k, isbn = {%s}}\n" % GOOD, b"@@book{k, isbn = {0-201-63361-2}}\n"),
    # After an error, BibTeX reads on at the next '@' on the same line, or in a line that starts
    # with '%', which is no comment to BibTeX.
    case("next entry on the same line", b"@book{a,, title = {x}} @book{b, isbn = {%s}}\n" % GOOD,
         b"@book{a,, title = {x}} @book{b, isbn = {0-201-63361-2}}\n",
         b"-:1:BibTeX entry not understood on line 1 (expected a field name), copied as it is up to the next @.\n"),
    case("entries commented out with %", b"%%@book{a,\n%%  title = {x}\n%%}\n%%@book{b, isbn = {%s}}\n" % GOOD,
         b"%@book{a,\n%  title = {x}\n%}\n%@book{b, isbn = {0-201-63361-2}}\n",
         b"-:1:BibTeX entry not understood on line 2 (expected a field name), copied as it is up to the next @.\n"),
    case("an @ where a , is due ends the entry", b"@book{a, title = {x} @book{b, isbn = {%s}}\n" % GOOD,
         b"@book{a, title = {x} @book{b, isbn = {0-201-63361-2}}\n",
         b"-:1:BibTeX entry not closed before the entry on line 1.\n"),
    # Where a value or a key is due, an '@' starts a macro name or the key: the entry that seems
    # to follow is part of the broken one.
    case("an @ where a value is due", b"@book{a, title =\n@book{b, isbn = {%s}}\n" % GOOD,
         stderr=b"-:1:BibTeX entry not understood on line 2 (expected \",\" or the end of the entry), copied as it"
         b" is up to the next @.\n"),
    case("an @ where a key is due", b"@book{\n@book{b, isbn = {%s}}\n" % GOOD, b"@book{\n@book{b, isbn = {0-201-63361-2}}\n"),
    # BibTeX also rejects an entry whose key repeats an earlier one's (in any case) and reads on
    # at the next '@' after the key; orvane keeps no keys and reads such an entry as any other.
    case("a repeated key", b"@book{k, isbn = {%s}}\n@book{K, isbn = {%s}}\n" % (GOOD, GOOD),
         hyphenated(b"@book{k, isbn = {%s}}\n@book{K, isbn = {%s}}\n" % (GOOD, GOOD))),
    # @string holds one name and one value, @preamble one value.
    case("@string with two fields", b"@string{a = {x}, b = \"@book{k, isbn = {%s}}\"}\n" % GOOD,
         b"@string{a = {x}, b = \"@book{k, isbn = {0-201-63361-2}}\"}\n",
         b"-:1:BibTeX entry not understood on line 1 (expected \"#\" or the end of the entry), copied as it is up to"
         b" the next @.\n"),
    case("empty @string", b"@string{}\n@book{k, isbn = {%s}}\n" % GOOD, b"@string{}\n@book{k, isbn = {0-201-63361-2}}\n",
         b"-:1:BibTeX entry not understood on line 1 (expected a string name), copied as it is up to the next @.\n"),
    # Only space, tab and the line ends are blanks; other control bytes are neither blanks nor
    # parts of a name.
    case("a form feed where a field name is due", b"@book{k,\f isbn = {%s}}\n@book{j,\r isbn\r= {%s}}\n" % (GOOD, GOOD),
         b"@book{k,\f isbn = {%s}}\n@book{j,\r isbn\r= {0-201-63361-2}}\n" % GOOD,
         b"-:1:BibTeX entry not understood on line 1 (expected a field name), copied as it is up to the next @.\n"),
    case("missing closing brace", b"@book{a,\n  title = {Open},\n  isbn = {%s}\n\n@book{b, isbn = {%s}}\n" % (GOOD, GOOD),
         b"@book{a,\n  title = {Open},\n  isbn = {0-201-63361-2}\n\n@book{b, isbn = {0-201-63361-2}}\n",
         b"-:1:BibTeX entry not closed before the entry on line 5.\n"),
    # A value whose braces or quotes never close holds the rest of the input, as BibTeX reads
    # it: an '@' in it is text, and the input ends inside the entry.
    case("value never closed", b"@book{a,\n  title = {Open,\n  isbn = {%s}\n\n@book{b, isbn = {%s}}\n" % (GOOD, GOOD),
         stderr=b"-:1:BibTeX entry not closed at the end of the input.\n"),
    case("unterminated quote", b"@book{a, title = \"Open,\n  isbn = {%s},\n  @book{b, isbn = {%s}}\n" % (GOOD, GOOD),
         stderr=b"-:1:BibTeX entry not closed at the end of the input.\n"),
    case("field without =", b"x\n@book{a,\n  isbn {%s},\n  isbn = {%s}}\n@book{b, isbn = {%s}}\n" % (GOOD, GOOD, GOOD),
         b"x\n@book{a,\n  isbn {%s},\n  isbn = {%s}}\n@book{b, isbn = {0-201-63361-2}}\n" % (GOOD, GOOD),
         b"-:2:BibTeX entry not understood on line 3 (expected \"=\" after the field name), copied as it is"
         b" up to the next @.\n"),
    case("key without comma", b"@book{a\n  isbn = {%s}}\n@book{b, isbn = {%s}}\n" % (GOOD, GOOD),
         b"@book{a\n  isbn = {%s}}\n@book{b, isbn = {0-201-63361-2}}\n" % GOOD,
         b"-:1:BibTeX entry not understood on line 2 (expected \",\" after the key), copied as it is"
         b" up to the next @.\n"),
    case("missing comma between fields", b"@book{a, title = {T}\n  isbn = {%s}}\n" % GOOD,
         stderr=b"-:1:BibTeX entry not understood on line 2 (expected \",\" or the end of the entry), copied"
         b" as it is up to the next @.\n"),
    case("missing value and stray brace", b"@book{a, isbn = , x = 1}\n@book{b, isbn = \"} %s\"}\n" % GOOD,
         stderr=b"-:1:BibTeX entry not understood on line 1 (expected a value), copied as it is up to the next @."
         b"\n-:2:BibTeX entry not understood on line 2 (expected a closing quote"
         b" before \"}\"), copied as it is up to the next @.\n"),
    case("input ends inside an entry", b"@book{a, isbn = {%s}, note = {open\n" % GOOD,
         b"@book{a, isbn = {0-201-63361-2}, note = {open\n",
         b"-:1:BibTeX entry not closed at the end of the input.\n"),
    case("warning order", b"@book{a, isbn = {%s}}\n@book{b,\n isbn = {%s},\n title = {x}\n@book{c, isbn = {%s}}\n" % (BAD, BAD, BAD),
         stderr=b"-:1:" + BAD_WARNING + b"\n-:3:" + BAD_WARNING + b"\n"
         b"-:2:BibTeX entry not closed before the entry on line 5.\n-:5:" + BAD_WARNING + b"\n"),
    case("no entries", b"plain 0201633612 text\n\x00\xff 978-0-201-63361-2\n"),
    case("empty input", b""),
    case("last line without newline", b"@book{a, isbn = {%s}}" % GOOD, b"@book{a, isbn = {0-201-63361-2}}"),
    # As BibTeX reads it. Keys end only at a ',', a blank or the entry's closing brace, so they
    # hold parentheses, quotes, '=', '#' and '{'; an empty key is a key.
    case("keys as BibTeX reads them", b"@book{Lewis:1912_21_(N.S.),\n  isbn = {%s}}\n@book{(graf)66:_resur, isbn = {%s}}\n"
         b"@book{Hart+al:1968_SSC-4(2), isbn = {%s}}\n@book{a=\"b\"#{c, isbn = {%s}}\n@book{, isbn = {%s}}\n"
         b"@book(k(1)), isbn = {%s})\n" % ((GOOD,) * 6), hyphenated(b"@book{Lewis:1912_21_(N.S.),\n  isbn = {%s}}\n"
         b"@book{(graf)66:_resur, isbn = {%s}}\n@book{Hart+al:1968_SSC-4(2), isbn = {%s}}\n@book{a=\"b\"#{c, isbn = {%s}}\n"
         b"@book{, isbn = {%s}}\n@book(k(1)), isbn = {%s})\n" % ((GOOD,) * 6))),
    # An '@' inside a value is text, at the start of a line too, in braces and in quotes.
    case("@ at a line start in a braced value", b"@book{k, abstract = {we use\n@misc entries\n}, isbn = {%s}}\n" % GOOD,
         b"@book{k, abstract = {we use\n@misc entries\n}, isbn = {0-201-63361-2}}\n"),
    case("an entry quoted in a braced value", b"@misc{k, note = {copied from elsewhere:\n@book{x, isbn = {%s}}\n}}\n" % GOOD),
    case("@ at a line start in a quoted value", b"@book{k, abstract = \"we use\n@misc{entries}\n\", isbn = {%s}}\n" % GOOD,
         b"@book{k, abstract = \"we use\n@misc{entries}\n\", isbn = {0-201-63361-2}}\n"),
    case("an entry quoted in a quoted value", b"@misc{k, note = \"copied:\n@book{x, isbn = {%s}}\n\"}\n" % GOOD),
    case("an entry quoted in a preamble", b"@preamble{ \"x\" # {\n@book{x, isbn = {%s}}\n} }\n" % GOOD),
    # BibTeX passes over the word @comment and reads on: an entry after it is an entry, and no
    # warning comes from the braces around it.
    case("@comment", b"@comment{\n@book{k, isbn = {%s}}\n}\n@Comment{jabref-meta: isbn = {%s};}\n" % (GOOD, GOOD),
         b"@comment{\n@book{k, isbn = {0-201-63361-2}}\n}\n@Comment{jabref-meta: isbn = {%s};}\n" % GOOD),
    case("@comment with an entry after it on its line", b"@comment{x} @book{k, isbn = {%s}} @Comment @misc{j, isbn = {%s}}\n"
         % (GOOD, GOOD), hyphenated(b"@comment{x} @book{k, isbn = {%s}} @Comment @misc{j, isbn = {%s}}\n" % (GOOD, GOOD))),
    # Entries that BibTeX rejects: a warning naming their line, and copied as they are.
    case("a key with a blank", b"@book{my key, isbn = {%s}}\n" % GOOD,
         stderr=b"-:1:BibTeX entry not understood on line 1 (expected \",\" after the key), copied as it is up to"
         b" the next @.\n"),
    case("an empty field", b"@book{k,, isbn = {%s}}\n" % GOOD,
         stderr=b"-:1:BibTeX entry not understood on line 1 (expected a field name), copied as it is up to the next @."
         b"\n"),
    case("a field name that starts with a digit", b"@book{k,\n  13isbn = {%s}}\n" % GOOD,
         stderr=b"-:1:BibTeX entry not understood on line 2 (expected a field name), copied as it is up to the next @."
         b"\n"),
    case("a number value that goes on with letters", b"@book{k, edition = 2nd, isbn = {%s}}\n" % GOOD,
         stderr=b"-:1:BibTeX entry not understood on line 1 (expected \",\" or the end of the entry), copied as it"
         b" is up to the next @.\n"),
    # A valid ISBN that no range places is written as it came, with a warning in an ISBN field.
    case("valid but placed by no range", b"@book{k,\n  isbn = {979-8-89176-195-7},\n  isbn = {99-0628213-4},\n"
         b"  isbn = {9798891761957},\n  note = {979-8-89176-195-7},\n}\n",
         stderr=b"-:2:valid ISBN [9798891761957] is in no range of the table; --ranges with a current export may place it.\n"
         b"-:3:valid ISBN [9906282134] is in no range of the table; --ranges with a current export may place it.\n"
         b"-:4:valid ISBN [9798891761957] is in no range of the table; --ranges with a current export may place it.\n"),
]
