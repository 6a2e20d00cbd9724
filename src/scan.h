// Byte-scanning kernels of the text filter, each with a plain scalar twin that tests hold it to.
#pragma once

#include <cstddef>

// Returns the first ASCII digit in [begin, end), or end when there is none.
const char *find_digit(const char *begin, const char *end);
const char *find_digit_scalar(const char *begin, const char *end);

// Returns the first "://" in [begin, end), or end when there is none.
const char *find_url_mark(const char *begin, const char *end);
const char *find_url_mark_scalar(const char *begin, const char *end);

// Returns the number of newline bytes in [begin, end).
std::size_t count_newlines(const char *begin, const char *end);
std::size_t count_newlines_scalar(const char *begin, const char *end);
