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

// Where a scan stands in its text: the filter writes nothing until a token changes or a
// warning comes, so unchanged text reaches the output in long spans.
struct scan_state {
    const char *unwritten; // first byte not yet handed to the output
    bool counting;         // whether newlines advance line_number (not for a lone line or argument)
};

// Hands the output everything from the unwritten stretch up to position.
void catch_up(scan_state &state, const char *position);

// Filters the stretch [begin, end) of the block of whole lines [block, block_end), leaving as
// they are the lines of the stretch that hold "://" anywhere on the whole line. line_number is
// that of begin's line and advances over the stretch's newlines when the state counts.
void filter_stretch(scan_state &state, const char *begin, const char *end, const char *block,
                    const char *block_end);

// Check-digit tests on exactly 10 or 13 ISBN characters; 'x' and 'X' count 10 anywhere.
bool check_ISBN_10(const char *characters);
bool check_ISBN_13(const char *characters);

// The same tests, for count 10 or 13 ISBN characters at the start of a buffer of
// ISBN_BUFFER_SIZE bytes (isbn.h), of which it reads 16: all in a few vector steps.
bool check_ISBN(const char *characters, std::size_t count);

// Candidate check of a token's hyphen-free text of 10 or 13 characters, at the start of a
// buffer of ISBN_BUFFER_SIZE bytes: tests its check digit and reports a wrong one as a warning.
bool check_candidate(const char *hyphen_free, std::size_t length);
