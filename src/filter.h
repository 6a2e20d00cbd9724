// The text filter: copies text to the output with its valid ISBNs hyphenated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Longest candidate token: a longer run of ISBN characters and hyphens is cut after this many
// bytes.
constexpr std::size_t TOKEN_MAX = 4095;

// Filters one line or argument of length bytes (NUL bytes included). A text that contains "://"
// is written unchanged. Warnings quote line 0.
void filter_text(const char *text, std::size_t length);

// Filters a NUL-terminated text.
void filter_text(const char *text);

// Starts an input: the next block's first line is line 1.
void start_input_lines();

// Filters a block of whole lines of the input (the last may lack its newline only at the end of
// the input) exactly as filter_text would filter each line in turn, with warnings that quote
// each line's number in the input.
void filter_lines(const char *text, std::size_t length);

// Where a scan stands in its text: the filter writes nothing until a token changes or a
// warning comes, so unchanged text reaches the output in long spans. Lines are counted only
// when a warning needs a number, from where the last count stopped.
struct scan_state {
    const char *unwritten; // first byte not yet handed to the output
    const char *counted;   // where line stands; null for a lone text, whose line is 0
    std::int64_t line;     // the line of counted
    bool isbn_field;       // the text is an ISBN field's value: an ISBN the table cannot place
                           // is worth a warning there
};

// A scan of a block of whole lines of the input, which starts at the line where the last block
// ended, and its end, which hands the output the rest of the block and carries the line count
// on to the next block.
scan_state start_block_scan(const char *block);
void end_block_scan(scan_state &state, const char *end);

// The line of position, at or after where the last count stopped.
std::int64_t line_at(scan_state &state, const char *position);

// Hands the output everything from the unwritten stretch up to position.
void catch_up(scan_state &state, const char *position);

// Filters the stretch [begin, end) of the block of whole lines [block, block_end), leaving as
// they are the lines of the stretch that hold "://" anywhere on the whole line.
void filter_stretch(scan_state &state, const char *begin, const char *end, const char *block,
                    const char *block_end);

// With on, every valid ISBN-10 that the table places is written as its ISBN-13, hyphenated (978,
// its first nine characters and a new check digit); one with an X among the nine, or that no
// range places, is written as without it.
void write_ISBN_10_as_13(bool on);

// A token written otherwise than it came: its text in the input, the text written for it, and
// its line.
struct token_change {
    std::string_view old_text;
    std::string_view new_text;
    std::int64_t line;
};

// Who is told of each token written otherwise than it came, or nullptr. It is called right
// after the new text has been given to the output and before anything else is, so that all the
// output handed over until then is the input as it came.
using change_listener = void (*)(const token_change &change);
void listen_to_changes(change_listener listener);

// Candidate check of a token's hyphen-free text of 10 or 13 characters, at the start of a
// buffer of ISBN_BUFFER_SIZE bytes: tests its check digit and reports a wrong one as a warning
// on line.
bool check_candidate(const char *hyphen_free, std::size_t length, std::int64_t line);
