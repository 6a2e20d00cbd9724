// Writing to standard output, where every write error ends the run.
//
// Small writes are gathered in a buffer of this module and handed to the standard output
// stream in large pieces. hand_over_output() passes on what is gathered, so that the stream
// (and its own buffering, line by line on a terminal) sees the same bytes at the same points as
// if every write had gone to it directly: before a warning and after each block of input.
#pragma once

#include <cstddef>

// Appends count bytes to standard output.
void write_output(const char *bytes, std::size_t count);

// Appends one byte to standard output.
void write_output_byte(char byte);

// Hands everything written so far to the standard output stream.
void hand_over_output();

// Flushes standard output; a failure here is reported like any other write error.
void finish_output();
