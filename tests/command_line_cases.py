"""The command line: arguments, options where they stand, the help text and the version line."""
import os

RANGES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixtures", "ranges")
SMALL = os.path.join(RANGES, "RangeMessage-small.xml")
MISSING = os.path.join(RANGES, "missing.xml")

NOT_XML = os.path.join(os.path.dirname(RANGES), "isbn-ranges-from-RangeMessage.txt")
VARIABLE = "ISBN_RANGE_MESSAGE"

HELP = (b"orvane [ --help ] [ --version ] [ --bibtex ] [ --isbn13 ] [ --ranges=FILE ] [ arguments ]\n"
        b"orvane [ --bibtex ] [ --isbn13 ] [ --ranges=FILE ] --in-place FILE ...\n"
        b"orvane [ --bibtex ] [ --isbn13 ] [ --ranges=FILE ] --check [ FILE ... ]\n"
        b"orvane --lsp\n"
        b"\n"
        b"Hyphenate apparent ISBN-10 and ISBN-13 data on the command line, or stdin.\n"
        b"Arguments or lines that resemble Web URLs are copied verbatim.\n"
        b"\n"
        b"With one or more arguments, filter them to stdout, and do not read stdin.\n"
        b"\n"
        b"Without arguments, filter lines from stdin to stdout.\n"
        b"With a leading --bibtex, change only the values of ISBN fields of BibTeX entries.\n"
        b"With a leading --isbn13, write each ISBN-10 that the table places as an ISBN-13.\n"
        b"With a leading --ranges=FILE, hyphenate by the agency's RangeMessage.xml at FILE;\n"
        b"without it, by the one that ISBN_RANGE_MESSAGE names, if set.\n"
        b"With --in-place, filter each FILE and replace it where its content changes.\n"
        b"With --check, write nothing, and report what would change in each FILE (or stdin).\n"
        b"With --lsp, serve an editor over the Language Server Protocol on stdin and stdout.\n"
        b"\n"
        b"Exit status: 0; 1 after an error, or with --check when anything would change\n"
        b"or a warning about the input was given; 2 after a usage error.\n"
        b"\n"
        b"After careful comparison of input and output streams, it may be safe to\n"
        b"apply this program to most BibTeX files.\n")
VERSION = b"orvane 3.07 [26-Dec-2021]\n"
BAD_10 = b"-:0:invalid ISBN-10 value [0201633613].\n"

CASES = [
    # name, arguments, stdin, stdout, stderr, status
    ("joined", ["a", "b", "c"], b"", b"a b c\n", b"", 0),
    ("empty arguments", ["", "0201633613", ""], b"", b" 0201633613 \n", BAD_10, 0),
    ("url argument", ["https://example.org/isbn/0201633613", "0201633613"], b"",
     b"https://example.org/isbn/0201633613 0201633613\n", BAD_10, 0),
    ("url mark at the start", ["://0201633612"], b"", b"://0201633612\n", b"", 0),
    ("url mark at a line start", [], b"://0201633612\nx 0201633612\n://x\n://0201633613 0201633612\n",
     b"://0201633612\nx 0-201-63361-2\n://x\n://0201633613 0201633612\n", b"", 0),
    ("stdin unread with arguments", ["0201633612"], b"9780201633610\n", b"0-201-63361-2\n", b"", 0),
    ("help", ["--help"], b"", HELP, b"", 0),
    # The language server stands alone: beside another leading option, or before an argument,
    # it is a usage error, and nothing is read or written.
    *[(f"--lsp with {' '.join(other)}", other, b"0201633612\n", b"",
       b"?? --lsp takes no other option or argument: orvane --lsp\n", 2)
      for other in (["--lsp", "0201633612"], ["--bibtex", "--lsp"], ["--lsp", "--isbn13"])],
    ("help after an argument", ["x", "--help", "0201633613"], b"", b"x " + HELP, b"", 0),
    ("version among arguments", ["0201633613", "--version", "--help"], b"",
     b"0201633613 " + VERSION, BAD_10, 0),
    ("options only whole", ["-h", "--HELP", "--help=yes", "--", "-v"], b"",
     b"-h --HELP --help=yes -- -v\n", b"", 0),
    # --bibtex counts only before the first text; repeated, it is the same option.
    ("bibtex argument", ["--bibtex", "@book{k, isbn = {0201633612}, pages = {0201633612}}"], b"",
     b"@book{k, isbn = {0-201-63361-2}, pages = {0201633612}}\n", b"", 0),
    ("bibtex twice", ["--bibtex", "--bibtex", "0201633612"], b"", b"0201633612\n", b"", 0),
    ("bibtex after a text", ["0201633612", "--bibtex"], b"", b"0-201-63361-2 --bibtex\n", b"", 0),
    ("bibtex standard input", ["--bibtex"], b"@book{k, isbn = {0201633612}}\n0201633612\n",
     b"@book{k, isbn = {0-201-63361-2}}\n0201633612\n", b"", 0),
    ("bibtex then help", ["--bibtex", "--help"], b"", HELP, b"", 0),
    ("bibtex then version", ["--bibtex", "--version"], b"", VERSION, b"", 0),
    # --ranges=FILE: the export's ranges instead of the built-in ones, with --bibtex in either
    # order; a bad export ends the run before any output; --help and --version need none.
    ("built-in ranges", ["9789969500127", "9969500120"], b"", b"9789969500127 9969500120\n", b"", 0),
    ("ranges from an export", ["--ranges=" + SMALL, "9789969500127", "9969500120"], b"",
     b"978-9969-500-12-7 9969-500-12-0\n", b"", 0),
    ("ranges and bibtex", ["--ranges=" + SMALL, "--bibtex"], b"@book{k, isbn = {9789969500127}}\n",
     b"@book{k, isbn = {978-9969-500-12-7}}\n", b"", 0),
    ("bibtex and ranges", ["--bibtex", "--ranges=" + SMALL, "@book{k, isbn = {9789969500127}}"], b"",
     b"@book{k, isbn = {978-9969-500-12-7}}\n", b"", 0),
    ("ranges missing", ["--ranges=" + MISSING, "0201633612"], b"0201633612\n", b"",
     b"?? " + MISSING.encode() + b": No such file or directory\n", 1),
    ("ranges missing, standard input", ["--ranges=" + MISSING], b"0201633612\n", b"",
     b"?? " + MISSING.encode() + b": No such file or directory\n", 1),
    ("ranges empty", ["--ranges=", "0201633612"], b"", b"", b"?? --ranges=: No such file or directory\n", 1),
    # A name's control bytes and backslashes are escaped in every message, so that a message is
    # one line that names the real file; the variable's value likewise.
    ("ranges named with control bytes", ["--ranges=a\nb\\c\033[2K\td\x7f\u00e9.xml"], b"", b"",
     b"?? a\\nb\\\\c\\033[2K\\td\\177\xc3\xa9.xml: No such file or directory\n", 1),
    ("variable with a forged finding", [], b"", b"",
     b"?? ISBN_RANGE_MESSAGE=x.xml: No such file or directory\\n-:1:forged: No such file or directory\n", 1,
     {VARIABLE: "x.xml: No such file or directory\n-:1:forged"}),
    ("check, a name with a line break", ["--check", "refs.bib:7:forged.\nz.bib"], b"", b"",
     b"?? refs.bib:7:forged.\\nz.bib: No such file or directory\n", 1),
    ("ranges not read for help", ["--ranges=" + MISSING, "--help"], b"", HELP, b"", 0),
    ("ranges after a text", ["0201633612", "--ranges=" + SMALL], b"",
     b"0-201-63361-2 --ranges=" + SMALL.encode() + b"\n", b"", 0),
    ("bibtex argument left open", ["--bibtex", "@book{k, isbn = {0201633612}", "x"], b"",
     b"@book{k, isbn = {0-201-63361-2} x\n",
     b"-:0:BibTeX entry not closed at the end of the input.\n", 0),
    # --in-place and --check: usage errors touch nothing and end with status 2; --check reads
    # standard input when no file is named, writes nothing and fails on a change or a warning.
    ("in place without a file", ["--bibtex", "--in-place"], b"", b"",
     b"?? --in-place needs a file: orvane [ --bibtex ] [ --isbn13 ] [ --ranges=FILE ] --in-place FILE ...\n", 2),
    ("in place and check", ["--check", "--bibtex", "--in-place", MISSING], b"", b"",
     b"?? --in-place and --check cannot be used together\n", 2),
    ("in place, bad ranges first", ["--ranges=" + MISSING, "--in-place"], b"", b"",
     b"?? --in-place needs a file: orvane [ --bibtex ] [ --isbn13 ] [ --ranges=FILE ] --in-place FILE ...\n", 2),
    ("check standard input", ["--check"], b"x 0201633612 0201633613\n\n978-0-201-63361-0\n", b"",
     b"-:1:0201633612 would be written as 0-201-63361-2.\n-:1:invalid ISBN-10 value [0201633613].\n", 1),
    ("check prefix hyphen", ["--check"], b"9780-201-63361-2\n", b"",
     b"-:1:invalid ISBN-13 value [9780201633612].\n"
     b"-:1:9780-201-63361-2 would be written as 978-0-201-63361-2.\n", 1),
    ("check clean standard input", ["--bibtex", "--check", "-"], b"@book{k, isbn = {0-201-63361-2}}\n", b"", b"", 0),
    # The status of --check: 1 for a change, a warning or both, 0 for neither; a token written
    # with as many bytes but other hyphens is a change.
    ("check, a change alone", ["--check"], b"0201633612\n", b"", b"-:1:0201633612 would be written as 0-201-63361-2.\n", 1),
    ("check, a warning alone", ["--check"], b"0-201-63361-3\n", b"", b"-:1:invalid ISBN-10 value [0201633613].\n", 1),
    ("check, neither", ["--check"], b"978-0-201-63361-0 and 2021-12-26\n", b"", b"", 0),
    ("check, other hyphens of the same length", ["--check"], b"0-2016-3361-2\n", b"",
     b"-:1:0-2016-3361-2 would be written as 0-201-63361-2.\n", 1),
    ("check help", ["--check", "--help"], b"", HELP, b"", 0),
    # ISBN_RANGE_MESSAGE names an export read as --ranges reads one, unless --ranges is given; a
    # fault ends the run before any output, naming the variable.
    ("variable set", ["9789969500127"], b"", b"978-9969-500-12-7\n", b"", 0, {VARIABLE: SMALL}),
    ("variable set, standard input", ["--bibtex"], b"@book{k, isbn = {9969500120}}\n",
     b"@book{k, isbn = {9969-500-12-0}}\n", b"", 0, {VARIABLE: SMALL}),
    ("variable empty", ["9789969500127"], b"", b"9789969500127\n", b"", 0, {VARIABLE: ""}),
    ("variable naming a missing file", ["0201633612"], b"0201633612\n", b"",
     b"?? ISBN_RANGE_MESSAGE=" + MISSING.encode() + b": No such file or directory\n", 1, {VARIABLE: MISSING}),
    ("variable naming a file that is not an export", [], b"0201633612\n", b"",
     b"?? ISBN_RANGE_MESSAGE=" + NOT_XML.encode() + b": line 1, column 1: not well-formed XML"
     b" (not well-formed (invalid token))\n", 1, {VARIABLE: NOT_XML}),
    ("--ranges wins over the variable", ["--ranges=" + SMALL, "9789969500127"], b"", b"978-9969-500-12-7\n", b"", 0,
     {VARIABLE: MISSING}),
    ("variable not read for help", ["--help"], b"", HELP, b"", 0, {VARIABLE: MISSING}),
    # --check fails on faults of the input, not on limits of the table: a valid ISBN that no
    # range places is reported, and by itself leaves the status 0.
    ("check, only an ISBN no range places", ["--bibtex", "--check"], b"@book{k, isbn = {99-0628213-4}}\n", b"",
     b"-:1:valid ISBN [9906282134] is in no range of the table; --ranges with a current export may place it.\n", 0),
    ("check, an ISBN no range places and a wrong check digit", ["--bibtex", "--check"],
     b"@book{k, isbn = {99-0628213-4}, isbn = {0-201-63361-3}}\n", b"",
     b"-:1:valid ISBN [9906282134] is in no range of the table; --ranges with a current export may place it.\n"
     b"-:1:invalid ISBN-10 value [0201633613].\n", 1),
    # --isbn13: each ISBN-10 that the table places as its ISBN-13, hyphenated; the rest as before.
    ("isbn13", ["--isbn13", "0201633612", "0-201-63361-2", "080442957X", "080442957x", "9780201633610", "9791000000008"],
     b"", b"978-0-201-63361-0 978-0-201-63361-0 978-0-8044-2957-3 978-0-8044-2957-3 978-0-201-63361-0"
     b" 979-10-00-00000-8\n", b"", 0),
    ("isbn13 leaves alone what it cannot convert", ["--isbn13", "02016336X6", "9906282134", "0201633613"], b"",
     b"0-201-6336X-6 9906282134 0201633613\n", b"-:0:invalid ISBN-10 value [0201633613].\n", 0),
    ("isbn13 in BibTeX mode", ["--bibtex", "--isbn13"],
     b"@book{k, isbn = {0-201-63361-2}, isbn = {99-0628213-4}, note = {0201633612}}\n",
     b"@book{k, isbn = {978-0-201-63361-0}, isbn = {99-0628213-4}, note = {0201633612}}\n",
     b"-:1:valid ISBN [9906282134] is in no range of the table; --ranges with a current export may place it.\n", 0),
    ("isbn13 with ranges from an export", ["--isbn13", "--ranges=" + SMALL, "9969500120"], b"", b"978-9969-500-12-7\n", b"", 0),
    ("isbn13 and check", ["--check", "--isbn13"], b"0-201-63361-2\n978-0-201-63361-0\n", b"",
     b"-:1:0-201-63361-2 would be written as 978-0-201-63361-0.\n", 1),
    # "--" ends the leading options of --in-place and --check; for a filter of arguments it is text.
    ("check, then --", ["--check", "--", "--help"], b"", b"", b"?? --help: No such file or directory\n", 1),
    ("check, then -- and standard input", ["--check", "--", "-"], b"0201633612\n", b"",
     b"-:1:0201633612 would be written as 0-201-63361-2.\n", 1),
    ("-- before a filter's texts", ["--", "0201633612"], b"", b"-- 0-201-63361-2\n", b"", 0),
    ("in place, standard input", ["--in-place", "-"], b"", b"", b"?? --in-place cannot replace standard input (-)\n", 2),
    ("in place version", ["--in-place", "--version"], b"", VERSION, b"", 0),
]
