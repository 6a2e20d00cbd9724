// BibTeX mode: copies BibTeX text unchanged but for the values of its ISBN fields.
//
// The input is read by BibTeX's own rules. Only the braced or quoted value parts of fields whose
// name contains "isbn" (in any case) inside regular entries go through the text filter;
// everything else, other fields, keys, @preamble and @string entries and the text between
// entries (where the word @comment is passed over), is copied as it is. An entry that does not
// parse gets one warning, and reading goes on at the next '@' from the byte where it broke, as
// BibTeX's does. Unlike BibTeX, it keeps no keys (an entry whose key repeats an earlier one's is
// read like any other) and reads an entry that follows another on the input's last line.
#pragma once

#include "filter.h"

#include <cstddef>

// Starts an input: line 1, between entries; the parser's state lives in the input.
void start_bibtex_input(text_input &input);

// Filters a block of whole lines of an input (the last may lack its newline only at the
// end of the input). The parser's state carries over to the next block.
void filter_bibtex_lines(text_input &input, const char *text, std::size_t length);

// Ends an input that was read to its end: warns about an entry that it left open.
void finish_bibtex_input(text_input &input);

// Filters one argument as a BibTeX text of its own in the run; warnings quote line 0.
void filter_bibtex_text(orvane_run &run, const char *text, std::size_t length);
