// Standard input in blocks of whole lines, handed to the filter of the chosen mode.
#pragma once

#include <cstddef>
#include <sys/types.h>

// Input is read in blocks of this size; the buffer grows only for a longer line. Tests build
// with a tiny block so that every boundary is crossed.
#ifndef ORVANE_BLOCK_SIZE
#define ORVANE_BLOCK_SIZE (128 * 1024)
#endif

// A filter of whole lines: called with each block of input, whose last line lacks its newline
// only at the end of the input.
using block_filter = void (*)(const char *text, std::size_t length);

// The system call that reads input; tests put a reader of their own in its place.
using read_function = ssize_t (*)(int descriptor, void *buffer, std::size_t count);

// Filters standard input to its end; standard input that is the output file is refused first.
void filter_standard_input(block_filter filter);

// Refuses, as a fatal error, standard input and standard output that are one regular file
// which the output would be read again from: the input would never end.
void refuse_input_that_is_output();

// Reads descriptor to its end and hands every whole line to filter, in blocks. A descriptor
// that is not ready (non-blocking) is waited for. On a read error the unfinished line is
// dropped, so that what was written is a prefix of what the whole input would have given, and
// the error is fatal.
void filter_input(int descriptor, block_filter filter, read_function reader);
