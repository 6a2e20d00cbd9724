// Work on files: each rewritten in place, safely, or checked without a byte written.
#pragma once

#include "input.h"

// Filters each named file in the mode. A file whose content changes is replaced atomically by a
// new file written beside it (unnamed until the end where the file system allows), flushed to
// disk and given the original's permission bits, extended attributes and ACL (and its owner and
// group where the process may set them; the set-ID bits are dropped where they cannot be kept);
// a symbolic link is followed and stays a link; a file that does not change is not written at
// all. A file that fails is left as it was, with "?? NAME: REASON" on standard error, and the
// others are still filtered. A signal that ends the process ends the run: the file being
// filtered is left as it was, no temporary file stays, "?? NAME: SIGNAL, left as it was" is said,
// and the process ends by that signal. Names go into messages as shown_name() writes them.
// Returns the exit status: 0, or 1 when any file failed.
int filter_files_in_place(char *const *names, int count, const input_mode &mode);

// The same for one file, whose reads go through reader. Returns whether it did not fail.
bool filter_file_in_place(const char *name, const input_mode &mode, read_function reader);

// Reads each named file in the mode ("-", or no file at all, is standard input), writes nothing,
// and reports each token that would be written otherwise as "NAME:LINE:OLD would be written as
// NEW.", beside the warnings. Returns the exit status: 0 when nothing would change and no warning
// was given, 1 otherwise or when a file cannot be read.
int check_files(char *const *names, int count, const input_mode &mode);
