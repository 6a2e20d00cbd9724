// The run: everything that one filtering of one input needs, in one object that its caller
// makes, feeds and ends, and that every routine of the core is handed. Nothing of a run lives
// anywhere else, so runs may live side by side, one inside another's listener, or on threads of
// their own, each with its own options, table and output.
#pragma once

#include "diagnostics.h"
#include "filter.h"
#include "isbn.h"
#include "orvane.h"
#include "output.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Whom the run tells, each with the caller's context; any may be nullptr. warning takes each
// warning instead of standard error's text; change each token written otherwise than it came,
// right after the output was given its new text.
struct run_listeners {
    void *context = nullptr;
    void (*warning)(void *context, const warning &w) = nullptr;
    void (*change)(void *context, const token_change &change) = nullptr;
};

// A mode of filtering an input: what starts it (the line count, and the mode's own state, which
// the input carries), the filter of each block of whole lines, whose last line lacks its newline
// only at the end of the input, and what ends an input that was read to its end (a warning about
// an entry left open).
struct input_mode {
    void (*start)(text_input &input);
    void (*filter)(text_input &input, const char *text, std::size_t length);
    void (*finish)(text_input &input);
};

struct orvane_run {
    // Over ranges, or, with nullptr, the built-in table, which is made when it is first needed.
    orvane_run(const orvane_options &chosen, const range_table *ranges);
    ~orvane_run();
    orvane_run(const orvane_run &) = delete;
    orvane_run &operator=(const orvane_run &) = delete;

    // The output first: the filter reaches it for every change, at the run's own address.
    output_state out;
    orvane_options options;
    const range_table *table; // nullptr until the built-in table is first needed
    const input_mode *mode;
    run_listeners listeners;
    std::uint64_t warnings = 0; // the warnings given, notices left out
    std::int64_t line = 0;      // the line that the hyphenation routines' warnings quote

    // The input being read (its name, line, offset and mode state), and the bytes held of it,
    // whose whole lines have not been filtered yet.
    text_input input;
    char *buffer = nullptr;
    std::size_t capacity = 0;
    std::size_t held = 0;

    // An embedder's run (see orvane.h): its hooks, its input's name as messages show it, how it
    // has gone so far, and whether its text has ended.
    orvane_hooks hooks;
    std::string shown;
    orvane_status status = ORVANE_OK;
    bool ended = false;
};

// The run's table: the built-in one is made only when a run first needs it, so a text without
// a number to place costs nothing of it.
inline const range_table &table_of(orvane_run &run) {
    if (run.table == nullptr)
        run.table = &built_in_ISBN_table();
    return *run.table;
}
