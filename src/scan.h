// Byte-scanning kernels of the text filter, each with a plain scalar twin that tests hold it to.
#pragma once

#include <cstddef>

// Returns the first ASCII digit in [begin, end), or end when there is none, and adds the number
// of newline bytes before it to newlines: one pass finds the next token and counts lines.
const char *find_digit(const char *begin, const char *end, std::size_t &newlines);
const char *find_digit_scalar(const char *begin, const char *end, std::size_t &newlines);

// Returns the first "://" in [begin, end), or end when there is none.
const char *find_url_mark(const char *begin, const char *end);
const char *find_url_mark_scalar(const char *begin, const char *end);
