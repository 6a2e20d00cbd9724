// The text filter: copies text to standard output with its valid ISBNs hyphenated.
#pragma once

#include <cstddef>

// Longest candidate token: a longer run of ISBN characters and hyphens is cut after this many
// bytes.
constexpr std::size_t TOKEN_MAX = 4095;

// Filters one line or argument of length bytes (NUL bytes included). A text that contains "://"
// is written unchanged. Warnings quote the current line_number.
void filter_text(const char *text, std::size_t length);

// Filters a NUL-terminated text.
void filter_text(const char *text);

// Filters a block of whole lines (the last may lack its newline) exactly as filter_text would
// filter each line in turn, and advances line_number by the number of lines in the block.
void filter_lines(const char *text, std::size_t length);

// Check-digit tests on exactly 10 or 13 ISBN characters; 'x' and 'X' count 10 anywhere.
bool check_ISBN_10(const char *characters);
bool check_ISBN_13(const char *characters);

// Candidate check of a token's hyphen-free text of 10 or 13 characters: tests its check digit
// and reports a wrong one as a warning.
bool check_candidate(const char *hyphen_free, std::size_t length);
