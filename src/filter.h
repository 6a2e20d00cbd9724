// The text filter: copies text to the output with its valid ISBNs hyphenated.
#pragma once

#include <any>
#include <cstddef>
#include <cstdint>
#include <string_view>

// Longest candidate token: a longer run of ISBN characters and hyphens is cut after this many
// bytes.
constexpr std::size_t TOKEN_MAX = 4095;

// A token written otherwise than it came: the input's name, the token's line, its text in the
// input and the text written for it.
struct token_change {
    const char *name;
    std::int64_t line;
    std::string_view old_text;
    std::string_view new_text;
};

// Who is told of each token written otherwise than it came. It is called right after the new
// text has been given to the output and before anything else is, so that all the output handed
// over until then is the input as it came.
using change_listener = void (*)(const token_change &change);

// An input as the filters see it: the name its warnings give ("-" for standard input and
// arguments), the line where its next block starts, whom to tell of each token written otherwise
// than it came (nullptr: no one), and what the mode that reads it carries from one block to the
// next (a parser's state, say).
struct text_input {
    const char *name = "-";
    std::int64_t line = 1;
    change_listener on_change = nullptr;
    std::any mode_state;
};

// Filters one argument of length bytes (NUL bytes included). A text that contains "://" is
// written unchanged. Warnings name "-" and quote line 0.
void filter_text(const char *text, std::size_t length);

// Filters a NUL-terminated text.
void filter_text(const char *text);

// Starts an input: the next block's first line is line 1.
void start_text_input(text_input &input);

// Filters a block of whole lines of the input (the last may lack its newline only at the end of
// the input) exactly as filter_text would filter each line in turn, with warnings that quote
// each line's number in the input.
void filter_lines(text_input &input, const char *text, std::size_t length);

// With on, every valid ISBN-10 that the table places is written as its ISBN-13, hyphenated (978,
// its first nine characters and a new check digit); one with an X among the nine, or that no
// range places, is written as without it.
void write_ISBN_10_as_13(bool on);

// The door for a reader of another syntax: a block of whole lines of an input,
// copied to the output as it is but for the stretches the reader hands to the filter. The filter
// writes nothing until a token changes or a warning comes, so unchanged text reaches the output
// in long spans; lines are counted only when a number is needed, from where the last count
// stopped.
struct text_block;

// Who is told of a valid ISBN in a stretch that no range of the table places (it is written as
// it came): the block, the token's place and its ISBN characters.
using unplaced_listener = void (*)(text_block &block, const char *token,
                                   std::string_view characters);

struct text_block {
    text_input *input; // the input's name, listener and line; null for a lone argument
    const char *begin; // the block's whole lines
    const char *end;
    const char *unwritten;         // the first byte not yet handed to the output
    const char *counted;           // where line stands
    std::int64_t line;             // the line of counted; 0 throughout for a lone argument
    unplaced_listener on_unplaced; // for the stretch being filtered, or nullptr
    // The last whole line that a stretch lay on, and whether it holds "://": a line is looked at
    // once however many stretches it holds (ends at begin: none yet).
    const char *line_begin;
    const char *line_end;
    bool line_has_url;
};

// Opens the block [begin, end) of input, at the line where its last block ended; with a null
// input, a lone argument, whose warnings name "-" and quote line 0.
text_block open_block(text_input *input, const char *begin, const char *end);

// The name that the block's warnings give: its input's, or "-" for a lone argument.
const char *block_name(const text_block &block);

// The line of position, at or after where the last count stopped.
std::int64_t block_line(text_block &block, const char *position);

// Hands the output the block as it is, up to position.
void copy_block_to(text_block &block, const char *position);

// Filters the stretch [begin, end) of the block, leaving as they are its lines that hold "://"
// anywhere on the whole line; a valid ISBN that no range places is told to on_unplaced. The
// stretches of a block come in order, none before the last one's line: each line of the block
// is looked at once, so a block of one long line with many stretches costs its length.
void filter_block_part(text_block &block, const char *begin, const char *end,
                       unplaced_listener on_unplaced);

// Hands the output the rest of the block; the input's next block starts at the line after it.
void close_block(text_block &block);

// Candidate check of a token's hyphen-free text of 10 or 13 characters, at the start of a
// buffer of ISBN_BUFFER_SIZE bytes: tests its check digit and reports a wrong one as a warning
// on line of the input named name.
bool check_candidate(const char *hyphen_free, std::size_t length, const char *name,
                     std::int64_t line);
