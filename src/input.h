// Input in blocks of whole lines, handed to the filter of the chosen mode.
#pragma once

#include "filter.h"

#include <cstddef>
#include <sys/types.h>

// Input is read in blocks of this size; the buffer grows only for a longer line. Against 128 KiB,
// blocks of 256 KiB took 0.92 to 0.93 times as long on 100 MB of prose written to a file, and
// 0.94 to 0.95 on the BibTeX corpus in either mode (three runs of 41 interleaved rounds), with
// the same peak memory: half as many reads and writes. 512 KiB gained a little more on the
// BibTeX corpus (0.91) and nothing on prose, for a quarter of a MiB more memory; 64 KiB took
// 1.08 to 1.10 times as long on prose. Tests build with a tiny block so that every boundary is
// crossed.
#ifndef ORVANE_BLOCK_SIZE
#define ORVANE_BLOCK_SIZE (256 * 1024)
#endif

// A mode of filtering an input: what starts it (the line count, and the mode's own state, which
// the input carries), the filter of each block of whole lines, whose last line lacks its newline
// only at the end of the input, and what ends an input that was read to its end (a warning about
// an entry left open).
struct input_mode {
    void (*start)(text_input &input);
    void (*filter)(text_input &input, const char *text, std::size_t length);
    void (*finish)(text_input &input);
};

// The mode of the default filter, or of BibTeX mode.
const input_mode &filter_mode(bool bibtex);

// The system call that reads input; tests put a reader of their own in its place.
using read_function = ssize_t (*)(int descriptor, void *buffer, std::size_t count);

// What a line that memory cannot hold is called, in every message.
constexpr const char *OUT_OF_MEMORY_FOR_A_LINE = "Out of memory for an input line";

// How the filtering of an input ended, and the error number of a failure.
struct input_end {
    enum { complete, read_error, write_error, out_of_memory } how;
    int error;
};

// Reads descriptor to its end and hands every whole line to the mode's filter, in blocks. A
// descriptor that is not ready (non-blocking) is waited for, and before any read that may wait
// everything filtered so far goes out. On a read error the unfinished line is dropped, so that
// what was written is a prefix of what the whole input would have given; a write error ends the
// reading too.
input_end filter_input(int descriptor, const input_mode &mode, text_input &input,
                       read_function reader);

// Filters standard input to standard output, after refusing standard input that is the output
// file. A failure is fatal, with its message.
void filter_standard_input(const input_mode &mode);

// Refuses, as a fatal error, standard input and standard output that are one regular file
// which the output would be read again from, or that the shell emptied for the output.
void refuse_input_that_is_output();
