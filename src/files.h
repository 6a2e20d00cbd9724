// Work on files: each rewritten in place, safely, or checked without a byte written; and the
// reading of a descriptor into a run, for these and for standard input.
#pragma once

#include "run.h"

#include <sys/types.h>

// The system call that reads input; tests put a reader of their own in its place.
using read_function = ssize_t (*)(int descriptor, void *buffer, std::size_t count);

// How the filtering of an input ended, and the error number of a failure.
struct input_end {
    enum { complete, read_error, write_error, out_of_memory } how;
    int error;
};

// Reads descriptor to its end into the run's started input, whose every whole line goes to the
// filter, in blocks, and ends the input. A descriptor that is not ready (non-blocking) is waited
// for, and before any read that may wait everything filtered so far goes out. A read error, a
// write error or a line that memory cannot hold ends the reading.
input_end filter_descriptor(orvane_run &run, int descriptor, read_function reader);

// Filters each named file with the options and table (nullptr: the built-in one), each in a run
// of its own whose warnings go to standard error. A file whose content changes is replaced
// atomically by a new file written beside it (unnamed until the end where the file system allows),
// flushed to disk and given the original's permission bits, extended attributes and ACL (and its
// owner and group where the process may set them; the set-ID bits are dropped where they cannot be
// kept); a symbolic link is followed and stays a link; a file that does not change is not written
// at all. A file that fails is left as it was, with "?? NAME: REASON" on standard error, and the
// others are still filtered. A signal that ends the process ends the run: the file being
// filtered is left as it was, no temporary file stays, "?? NAME: SIGNAL, left as it was" is said,
// and the process ends by that signal. Names go into messages as shown_name() writes them.
// Returns the exit status: 0, or 1 when any file failed.
int filter_files_in_place(char *const *names, int count, const orvane_options &options,
                          const range_table *table);

// The same for one file, whose reads go through reader. Returns whether it did not fail.
bool filter_file_in_place(const char *name, const orvane_options &options, const range_table *table,
                          read_function reader);

// Reads each named file with the options and table ("-", or no file at all, is standard input),
// writes nothing,
// and reports each token that would be written otherwise as "NAME:LINE:OLD would be written as
// NEW.", beside the warnings. Returns the exit status: 0 when nothing would change and no warning
// was given, 1 otherwise or when a file cannot be read.
int check_files(char *const *names, int count, const orvane_options &options,
                const range_table *table);
