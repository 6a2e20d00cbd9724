// The library face: a text in memory filtered exactly as the command line filters a file, its
// output, warnings, changes and progress handed to the caller; range exports read from bytes.
#pragma once

#include "diagnostics.h"
#include "filter.h"
#include "input.h"

#include <cstddef>
#include <string>

// Whom filter_memory hands what it makes, each with the caller's context; any may be nullptr,
// and what it would have taken is dropped. output gets the filtered text in order, in pieces;
// warning each warning as data, with the line standard error would get; change each token
// written otherwise than it came; progress the bytes read so far, after each block.
struct filter_hooks {
    void *context = nullptr;
    void (*output)(void *context, const char *bytes, std::size_t count) = nullptr;
    void (*warning)(void *context, const warning &w) = nullptr;
    void (*change)(void *context, const token_change &change) = nullptr;
    void (*progress)(void *context, std::size_t done, std::size_t total) = nullptr;
};

struct filter_options {
    bool bibtex = false; // --bibtex
    bool isbn13 = false; // --isbn13
};

// Filters the length bytes at text as `orvane [--bibtex] [--isbn13] < FILE` filters FILE, with
// the same blocks, output and warnings, which name the input name (escaped as in every message:
// "-" as for standard input). Nothing is written to a descriptor. Returns how it ended: complete,
// or out of memory for a line.
input_end filter_memory(const char *text, std::size_t length, const char *name,
                        const filter_options &options, const filter_hooks &hooks);

// The same for a text of length bytes that source gives in order, a part at a time: it copies
// up to count bytes into buffer and returns how many, 0 only at the end. A caller whose text is
// not in this program's memory (the page's, in JavaScript) need not copy it there whole.
using text_source = std::size_t (*)(void *context, char *buffer, std::size_t count);
input_end filter_source(text_source source, void *source_context, std::size_t length,
                        const char *name, const filter_options &options, const filter_hooks &hooks);

// Replaces the range table by the agency export of length bytes at bytes, read with the same
// checks as --ranges. Returns "", or the fault worded as orvane --ranges words it after "?? ",
// with name in the place of the file's; the table is then as it was (but where memory ran out
// while it was loaded: then the built-in ranges are back). ISBN_restore_table() (isbn.h) puts
// the built-in ranges back.
std::string load_range_export(const char *bytes, std::size_t length, const char *name);
