// Writing to standard output, where every write error ends the run.
#pragma once

#include <cstddef>

// Appends count bytes to standard output's buffer.
void write_output(const char *bytes, std::size_t count);

// Appends one byte to standard output's buffer.
void write_output_byte(char byte);

// Flushes standard output; a failure here is reported like any other write error.
void finish_output();
