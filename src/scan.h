// Byte-scanning kernels of the text filter, each with a plain scalar twin that tests hold it to.
#pragma once

#include <cstddef>

// Returns the first ASCII digit in [begin, end), or end when there is none: where the next
// token starts.
const char *find_digit(const char *begin, const char *end);
const char *find_digit_scalar(const char *begin, const char *end);

// Returns the first "://" in [begin, end), or end when there is none.
const char *find_url_mark(const char *begin, const char *end);
const char *find_url_mark_scalar(const char *begin, const char *end);

// Returns the end of the run of token bytes (digits, 'x', 'X' and '-') that starts at begin,
// at most end, and sets hyphen when the run holds a '-'.
const char *find_token_end(const char *begin, const char *end, bool &hyphen);
const char *find_token_end_scalar(const char *begin, const char *end, bool &hyphen);

// Returns the first byte in [begin, end) that equals one of the four bytes of set (repeat a
// byte to look for fewer), or end when there is none: the structural scan of BibTeX text.
const char *find_any_of(const char *begin, const char *end, const char (&set)[4]);
const char *find_any_of_scalar(const char *begin, const char *end, const char (&set)[4]);

// Returns the number of newline bytes in [begin, end).
std::size_t count_newlines(const char *begin, const char *end);
std::size_t count_newlines_scalar(const char *begin, const char *end);

// Returns the last newline in [begin, end), or nullptr when there is none.
const char *find_last_newline(const char *begin, const char *end);
