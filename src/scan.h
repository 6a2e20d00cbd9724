// Byte-scanning kernels of the text filter, each with a plain scalar twin that tests hold it to.
#pragma once

#include <cstddef>
#include <cstdint>

// The fewest bytes a token can have and still be an ISBN or get a hyphen: ten characters.
constexpr std::ptrdiff_t SHORTEST_CANDIDATE = 10;

// Returns where the next token that may change starts: the first digit in [begin, end) whose run
// of token bytes (digits, 'x', 'X' and '-') within the range is at least SHORTEST_CANDIDATE bytes
// long, passing over shorter tokens as the filter's scan would, from each one's end; end when
// there is none. Sets token_end to the end of that run and, when the run holds a '-', hyphen.
const char *find_long_token(const char *begin, const char *end, const char *&token_end,
                            bool &hyphen);
const char *find_long_token_scalar(const char *begin, const char *end, const char *&token_end,
                                   bool &hyphen);

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

// The check-digit tests on count (10 or 13) ISBN characters: 'x' and 'X' count 10 anywhere, and
// an ISBN-13's check character is never one. The kernel reads 16 bytes from characters, a buffer
// of ISBN_BUFFER_SIZE bytes (isbn.h) zero past the count but for a trailing hyphen, and takes
// both tests in a few vector steps; its twin, the two loops, reads count bytes.
bool check_ISBN(const char *characters, std::size_t count);
bool check_ISBN_scalar(const char *characters, std::size_t count);
bool check_ISBN_10(const char *characters);
bool check_ISBN_13(const char *characters);

// The range index's bucket search: the first index from from on whose high end in highs is above
// value. The high ends ascend, and at least HIGHS_READ_AHEAD of them after the last that a search
// can reach are above every value, since the kernel reads that many at a time.
constexpr std::size_t HIGHS_READ_AHEAD = 16;
std::size_t first_high_above(const std::int32_t *highs, std::size_t from, std::uint32_t value);
std::size_t first_high_above_scalar(const std::int32_t *highs, std::size_t from,
                                    std::uint32_t value);

// Returns the last newline in [begin, end), or nullptr when there is none.
const char *find_last_newline(const char *begin, const char *end);
