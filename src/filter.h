// The text filter: copies text to the output with its valid ISBNs hyphenated.
#pragma once

#include <any>
#include <cstddef>
#include <cstdint>
#include <string_view>

// Longest candidate token: a longer run of ISBN characters and hyphens is cut after this many
// bytes.
constexpr std::size_t TOKEN_MAX = 4095;

struct orvane_run;

// A token written otherwise than it came: the input's name, the token's line, its offset in the
// input and the offset of its new text in the output (NO_OFFSET for a lone argument's), its text
// in the input and the text written for it.
struct token_change {
    const char *name;
    std::int64_t line;
    std::uint64_t offset;
    std::uint64_t output_offset;
    std::string_view old_text;
    std::string_view new_text;
};

// An input as the filters see it: the run it belongs to, the name its warnings give ("-" for
// standard input and arguments), the line and offset where its next block starts, how much
// longer the output is than the input so far, and what the mode that reads it carries from one
// block to the next (a parser's state, say).
struct text_input {
    orvane_run *run = nullptr;
    const char *name = "-";
    std::int64_t line = 1;
    std::uint64_t offset = 0;
    std::int64_t output_growth = 0;
    std::any mode_state;
};

// Filters one argument of length bytes (NUL bytes included) in the run. A text that contains
// "://" is written unchanged. Warnings name "-" and quote line 0.
void filter_text(orvane_run &run, const char *text, std::size_t length);

// Filters a NUL-terminated text.
void filter_text(orvane_run &run, const char *text);

// Starts an input: the next block's first line is line 1.
void start_text_input(text_input &input);

// Filters a block of whole lines of the input (the last may lack its newline only at the end of
// the input) exactly as filter_text would filter each line in turn, with warnings that quote
// each line's number in the input.
void filter_lines(text_input &input, const char *text, std::size_t length);

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
    orvane_run *run;   // the run: its options, table, output and listeners
    text_input *input; // the input's name, line and offset; null for a lone argument
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
// input, a lone argument of the run, whose warnings name "-" and quote line 0.
text_block open_block(orvane_run &run, text_input *input, const char *begin, const char *end);

// The name that the block's warnings give: its input's, or "-" for a lone argument.
const char *block_name(const text_block &block);

// The line of position, at or after where the last count stopped.
std::int64_t block_line(text_block &block, const char *position);

// The offset of position in the input, or NO_OFFSET in a lone argument.
std::uint64_t block_offset(const text_block &block, const char *position);

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
