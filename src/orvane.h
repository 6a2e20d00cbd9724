// The embedding API: a run made with options and a range table, fed a text in parts, finished
// and freed; its output, warnings and changes handed to the caller's hooks as they come.
//
// A run is an opaque object that holds everything its filtering needs, so any number may live
// at once: interleaved, one made inside another's hook, or one on each thread (a run is used by
// one thread at a time; a table by any number at once). Every call reports how it went as a
// status, which orvane_status_text words; nothing unwinds, exits or writes to a descriptor.
//
//     orvane_run *run = orvane_run_create(&options, table, "refs.bib", &hooks);
//     while (more) orvane_run_feed(run, bytes, count);    // or orvane_run_room + orvane_run_fed
//     orvane_status status = orvane_run_finish(run);
//     orvane_run_free(run);
//
// The output is byte for byte what `orvane [--bibtex] [--isbn13] < FILE` writes for the same
// text, and each warning the line that orvane writes to standard error, with the name given.
#pragma once

#include <cstddef>
#include <cstdint>

struct orvane_run;
struct range_table;
using orvane_table = range_table;

// How a text is read and written: the choices of the command line's --bibtex and --isbn13, and
// of every other face.
struct orvane_options {
    bool bibtex = false; // only the values of ISBN fields of BibTeX entries change
    bool isbn13 = false; // each ISBN-10 that the table places is written as its ISBN-13
};

enum orvane_status {
    ORVANE_OK = 0,
    ORVANE_OUT_OF_MEMORY, // a line of the text, or the run itself, did not fit in memory
    ORVANE_CANCELLED,     // a hook returned false: nothing more was handed over
    ORVANE_BAD_EXPORT,    // a range export was refused; the fault says why
    ORVANE_MISUSE,        // a call out of order: a run fed after its end, a null argument
};

// The status in words, as a sentence without a final period.
const char *orvane_status_text(orvane_status status);

// A warning: the input's name (as messages show it), its line, the offset in the input of what
// it is about (a number, or an entry's '@'), the message without its final period, the whole
// line that standard error would get ("NAME:LINE:MESSAGE.\n"), and whether it counts towards
// the warnings of --check (a notice about the range table does not).
struct orvane_warning {
    const char *name;
    std::int64_t line;
    std::uint64_t offset;
    const char *message;
    std::size_t message_length;
    const char *text;
    std::size_t text_length;
    bool counted;
};

// A number written otherwise than it came: its line, its offsets in the input and of its new
// text in the output, and the two texts.
struct orvane_change {
    const char *name;
    std::int64_t line;
    std::uint64_t offset;
    std::uint64_t output_offset;
    const char *old_text;
    std::size_t old_length;
    const char *new_text;
    std::size_t new_length;
};

// Whom a run hands what it makes, each with the caller's context; any may be null, and what it
// would have taken is dropped. The texts are valid during the call only. A hook that returns
// false cancels the run: nothing more is handed over, and the run ends ORVANE_CANCELLED. A hook
// may make, feed and finish runs of its own.
struct orvane_hooks {
    void *context = nullptr;
    bool (*output)(void *context, const char *bytes, std::size_t count) = nullptr;
    bool (*warning)(void *context, const orvane_warning *warning) = nullptr;
    bool (*change)(void *context, const orvane_change *change) = nullptr;
};

// Makes a run with the options (null: the default mode) over table (null: the built-in ranges),
// whose warnings name name (null: "-", as for standard input), handing what it makes to hooks.
// The table must outlive the run. Returns null where memory runs out.
orvane_run *orvane_run_create(const orvane_options *options, const orvane_table *table,
                              const char *name, const orvane_hooks *hooks);

// Gives the run the next count bytes of its text. Whole lines are filtered at once; the last,
// unfinished line waits for the next bytes or the end.
orvane_status orvane_run_feed(orvane_run *run, const char *bytes, std::size_t count);

// The same without a copy: room for up to *space bytes of the text, which the caller fills and
// then hands over with orvane_run_fed (count at most *space). Returns null, with the reason as
// orvane_run_fed would give it, where there is no room.
char *orvane_run_room(orvane_run *run, std::size_t *space);
orvane_status orvane_run_fed(orvane_run *run, std::size_t count);

// Ends the text: its last line is filtered, an entry left open warned about, and every byte of
// the output handed over. Returns how the whole run went.
orvane_status orvane_run_finish(orvane_run *run);

// The warnings given so far that count (those of --check's exit status).
std::uint64_t orvane_run_warning_count(const orvane_run *run);

// Frees the run, finished or not.
void orvane_run_free(orvane_run *run);

// Makes a table of the agency range export of length bytes at bytes, read with every check of
// orvane --ranges. On success *table is the new table (free it with orvane_table_free) and the
// status ORVANE_OK; otherwise *table is null, and fault (fault_size bytes, cut to fit) holds the
// fault as orvane --ranges words it after "?? ", with name in the place of the file's. No table
// in use changes either way.
orvane_status orvane_table_load(const char *bytes, std::size_t length, const char *name,
                                orvane_table **table, char *fault, std::size_t fault_size);

// The table of the built-in ranges, which is never freed.
const orvane_table *orvane_built_in_table();

void orvane_table_free(orvane_table *table);
