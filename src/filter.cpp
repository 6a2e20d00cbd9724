// The text filter: tokens, the candidate check and the one writing rule, over blocks of lines.

#include "filter.h"

#include "characters.h"
#include "diagnostics.h"
#include "isbn.h"
#include "output.h"
#include "run.h"
#include "scan.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace {

constexpr std::string_view URL_MARK = "://";

// The warning about a wrong check digit of the token in the block quotes the hyphen-free text:
// "invalid ISBN-10 value [...]" or the same for 13.
void warn_invalid(text_block &block, const char *token, const char *hyphen_free,
                  std::size_t length) {
    char message[100] = "invalid ISBN-10 value [";
    constexpr std::size_t opening = sizeof "invalid ISBN-10 value [" - 1;
    if (length == 13)
        message[sizeof "invalid ISBN-1" - 1] = '3';
    std::memcpy(message + opening, hyphen_free, length);
    std::memcpy(message + opening + length, "]", 2);
    report_warning(*block.run, block_name(block), block_line(block, token),
                   block_offset(block, token), message);
}

// Whether someone is told of the tokens written otherwise than they came.
bool listened(const text_block &block) {
    return block.run->listeners.change != nullptr;
}

// Whether the writing rule inserts a hyphen after a 978 or 979 prefix.
bool needs_prefix_hyphen(const char *token, std::size_t length) {
    return length == 16 &&
           (std::memcmp(token, "978", 3) == 0 || std::memcmp(token, "979", 3) == 0) &&
           token[3] != '-';
}

// Tells the listener of a token written as text instead of as it came, where that is not the
// same, with its place in the input and in the output: the output is the input with each
// change's text for its token, so the difference of the two places is the growth of the changes
// before it. Called only while someone listens, for every change.
void note_change(text_block &state, const char *token, std::size_t length, const char *text,
                 std::size_t text_length) {
    if (text_length == length && std::memcmp(token, text, length) == 0)
        return;
    std::uint64_t offset = block_offset(state, token);
    std::uint64_t output_offset = NO_OFFSET;
    if (state.input != nullptr) {
        output_offset = offset + static_cast<std::uint64_t>(state.input->output_growth);
        state.input->output_growth +=
            static_cast<std::int64_t>(text_length) - static_cast<std::int64_t>(length);
    }
    orvane_run &run = *state.run;
    run.listeners.change(run.listeners.context,
                         token_change{block_name(state), block_line(state, token), offset,
                                      output_offset, std::string_view(token, length),
                                      std::string_view(text, text_length)});
}

// Writes the text that stands for a token, through the one output rule: a 16-byte text that
// starts with 978 or 979 not followed by a hyphen gets a hyphen after the prefix.
void write_token(text_block &state, const char *token, std::size_t length, const char *text,
                 std::size_t text_length) {
    if (needs_prefix_hyphen(text, text_length)) {
        char form[17];
        std::memcpy(form, text, 3);
        form[3] = '-';
        std::memcpy(form + 4, text + 3, 13);
        std::memcpy(output_room(state.run->out, sizeof form), form, sizeof form);
        if (listened(state))
            note_change(state, token, length, form, sizeof form);
        return;
    }
    // A text that differs from the token is a form, short enough for the output's room, which
    // hands nothing over after the copy; a long one is the token itself.
    if (text_length <= ROOM_MAX)
        std::memcpy(output_room(state.run->out, text_length), text, text_length);
    else
        write_output(state.run->out, text, text_length);
    if (listened(state))
        note_change(state, token, length, text, text_length);
}

// Writes a valid ISBN that no range places as it came: its hyphens, if any, may be right by a
// range newer than the table, and taking them away would make good data worse. Whoever filters
// the stretch may want to hear of it.
void write_unplaced(text_block &state, const char *token, std::size_t length,
                    const char *characters, std::size_t count) {
    if (state.on_unplaced != nullptr)
        state.on_unplaced(state, token, std::string_view(characters, count));
    write_token(state, token, length, token, length);
}

// Makes the ISBN-13 of an ISBN-10 in thirteen, a buffer of ISBN_BUFFER_SIZE bytes, zero after
// it: 978, the first nine characters and the check digit of the thirteen. Returns false, making
// nothing, where the nine hold an X: no ISBN-13 stands for such a number.
bool to_ISBN_13(const char *characters, char (&thirteen)[ISBN_BUFFER_SIZE]) {
    for (int i = 0; i < 9; ++i)
        if (characters[i] < '0' || characters[i] > '9')
            return false;
    std::memset(thirteen, 0, sizeof thirteen);
    std::memcpy(thirteen, "978", 3);
    std::memcpy(thirteen + 3, characters, 9);
    int sum = 0;
    for (int i = 0; i < 12; ++i)
        sum += (i % 2 == 0 ? 1 : 3) * (thirteen[i] - '0');
    thirteen[12] = static_cast<char>('0' + (10 - sum % 10) % 10);
    return true;
}

// Writes a valid candidate as hyphenation makes it: where the index answers, the form is built
// in the output itself; otherwise the text walk of the isbn module hyphenates a copy. A 13-digit
// number whose prefix is neither 978 nor 979 is no ISBN to hyphenate: it gets a warning where
// its last ten digits fall in a range, as if the prefix were a slip, and is written as it came.
// Where ISBN-10s are written as ISBN-13s, an ISBN-10 is placed as its ISBN-13, by the same
// groups of 978; one that no range places is written as it came, and its notice quotes it.
void write_ISBN(text_block &state, const char *token, std::size_t length, const char *characters,
                std::size_t count) {
    const char *quoted = characters;
    std::size_t quoted_count = count;
    char thirteen[ISBN_BUFFER_SIZE];
    orvane_run &run = *state.run;
    if (run.options.isbn13 && count == 10 && to_ISBN_13(characters, thirteen)) {
        characters = thirteen;
        count = 13;
    }
    ISBN_parts parts{};
    switch (place_ISBN(table_of(run), characters, count, parts)) {
    case ISBN_placement::placed: {
        static_assert(ISBN_BUFFER_SIZE <= ROOM_MAX);
        std::size_t form_length = ISBN_form_length(count, parts);
        char *form = output_room(run.out, form_length);
        format_ISBN(characters, count, parts, form);
        if (listened(state))
            note_change(state, token, length, form, form_length);
        return;
    }
    case ISBN_placement::not_placed:
        write_unplaced(state, token, length, quoted, quoted_count);
        return;
    case ISBN_placement::ask_the_walk:
        break;
    }
    if (count == 13 && ISBN_13_rows(characters) == ISBN_rows::all) {
        if (find_ISBN_range(table_of(run), characters + 3, ISBN_rows::all) != nullptr)
            report_ISBN_13_prefix(run, block_name(state), block_line(state, token),
                                  block_offset(state, token), characters, count);
        write_token(state, token, length, token, length);
        return;
    }
    // A lone candidate's form is at most 17 bytes, so these hold any result of the walk, which
    // leaves a candidate that no row places as it was.
    constexpr std::size_t WALK_SIZE = 32;
    char text[WALK_SIZE];
    char scratch[WALK_SIZE];
    std::memcpy(text, characters, count);
    text[count] = '\0';
    if (count == 10)
        hyphenate_ISBN_10(run, text, scratch, WALK_SIZE);
    else
        hyphenate_ISBN_13(run, text, scratch, WALK_SIZE);
    std::size_t text_length = std::strlen(text);
    if (text_length == count)
        write_unplaced(state, token, length, quoted, quoted_count);
    else
        write_token(state, token, length, text, text_length);
}

// Checks one collected token, given the first ISBN characters of its hyphen-free text (up to
// 14 of them, in a buffer of ISBN_BUFFER_SIZE bytes) and their count (all of them). A token that
// comes out as it came stays in the unwritten stretch, so unchanged text reaches the output in
// long spans; the stretch goes out before a token that changes and before a warning, which must
// follow the same text as in a line-by-line filter.
void process_token(text_block &state, const char *token, std::size_t length, const char *characters,
                   std::size_t count) {
    bool candidate = count == 10 || count == 13;
    if (!candidate && !needs_prefix_hyphen(token, length))
        return;
    copy_block_to(state, token);
    state.unwritten = token + length;
    if (candidate && check_ISBN(characters, count)) {
        write_ISBN(state, token, length, characters, count);
        return;
    }
    if (candidate)
        warn_invalid(state, token, characters, count);
    write_token(state, token, length, token, length);
}

// Where the line that position lies in, or ends at, ends: position itself at a line's end.
const char *end_of_line(const char *position, const char *lines_end) {
    if (position == lines_end || position[-1] == '\n')
        return position;
    const char *newline = static_cast<const char *>(
        std::memchr(position, '\n', static_cast<std::size_t>(lines_end - position)));
    return newline == nullptr ? lines_end : newline + 1;
}

// The lines that hold "://", in order: each search for the mark starts at a line start and ends
// at the end of the span's last line, and the line it finds is skipped whole.
struct url_lines {
    const char *lines_end;
    const char *search_end;
    const char *start; // the next such line, or search_end when there is none
    const char *end;

    // Finds the first line at or after from, a line start, that holds the mark.
    void find_from(const char *from) {
        const char *mark = find_url_mark(from, search_end);
        if (mark == search_end) {
            start = end = search_end;
            return;
        }
        const char *before = find_last_newline(from, mark);
        start = before == nullptr ? from : before + 1;
        end = end_of_line(mark + 1, lines_end);
    }
};

// The scan of [p, end): each digit starts a candidate token of at most TOKEN_MAX bytes, and
// the token search passes over those too short to change; everything else stays in the
// unwritten stretch. Given the whole lines [lines, lines_end) around the span, a line that holds
// "://" anywhere, also outside the span, is left as it is: at the first token that may change,
// one search for the mark runs on from that token's line, and again past each line it finds, so
// text without such tokens is passed over in one scan and other text in two. Without the lines
// the caller has made that test.
void filter_span(text_block &state, const char *p, const char *end, const char *lines = nullptr,
                 const char *lines_end = nullptr) {
    url_lines url{lines_end, nullptr, nullptr, nullptr};
    while (p < end) {
        const char *q = nullptr;
        bool hyphen = false;
        const char *digit = find_long_token(p, end, q, hyphen);
        if (digit == end)
            break;
        if (lines != nullptr) {
            if (url.search_end == nullptr) {
                url.search_end = end_of_line(end, lines_end);
                const char *before = find_last_newline(lines, digit);
                url.find_from(before == nullptr ? lines : before + 1);
            }
            while (digit >= url.end && url.end != url.search_end)
                url.find_from(url.end); // lines with the mark but no token passed
            if (digit >= url.start) {
                if (url.end > end)
                    break; // the rest of the span lies on this line
                p = url.end;
                url.find_from(p);
                continue;
            }
        }
        if (q - digit > static_cast<std::ptrdiff_t>(TOKEN_MAX)) {
            // The token is cut: hyphens past the cut do not count.
            hyphen = false;
            q = find_token_end(digit, digit + TOKEN_MAX, hyphen);
        }
        std::size_t length = static_cast<std::size_t>(q - digit);
        // Without a hyphen the token is its own hyphen-free text; its first 16 bytes at most
        // are copied, in two 8-byte moves that meet or overlap (a long token has at least 10
        // bytes), whatever its length, which saves a branch. Otherwise every token byte is
        // stored at the count so far, and only an ISBN character advances it: a hyphen is
        // overwritten by the next character. Past 14 the slot stays the last. The check and
        // the form read past the count, where the buffer is zero but for a trailing hyphen.
        char characters[ISBN_BUFFER_SIZE] = {};
        std::size_t count = length;
        if (!hyphen) {
            std::size_t copied = std::min<std::size_t>(length, 16);
            std::memcpy(characters, digit, 8);
            std::memcpy(characters + copied - 8, digit + copied - 8, 8);
        } else {
            count = 0;
            for (const char *t = digit; t < q; ++t) {
                characters[count < 14 ? count : 14] = *t;
                count += *t != '-';
            }
        }
        process_token(state, digit, length, characters, count);
        p = q;
    }
}

} // namespace

// Called before a token that changes, and before a warning, which must follow the same text as
// in a line-by-line filter.
void copy_block_to(text_block &block, const char *position) {
    write_output_span(block.run->out, block.unwritten,
                      static_cast<std::size_t>(position - block.unwritten));
    block.unwritten = position;
}

namespace {

// Makes the block's last line the one that position lies on, at or after the last one: the search
// back for its start stops where the last line ended.
void find_line(text_block &block, const char *position) {
    if (position < block.line_end)
        return;
    const char *before = find_last_newline(block.line_end, position);
    block.line_begin = before == nullptr ? block.line_end : before + 1;
    block.line_end = end_of_line(position + 1, block.end);
    block.line_has_url = find_url_mark(block.line_begin, block.line_end) != block.line_end;
}

} // namespace

// A stretch is filtered a line at a time, the lines with "://" passed over; no token can cross
// a newline.
void filter_block_part(text_block &block, const char *begin, const char *end,
                       unplaced_listener on_unplaced) {
    block.on_unplaced = on_unplaced;
    for (const char *p = begin; p < end;) {
        find_line(block, p);
        const char *piece_end = std::min(end, block.line_end);
        if (!block.line_has_url)
            filter_span(block, p, piece_end);
        p = piece_end;
    }
    block.on_unplaced = nullptr;
}

// The plain path for one argument: the "://" test looks at the whole text first.
void filter_text(orvane_run &run, const char *text, std::size_t length) {
    if (std::string_view(text, length).find(URL_MARK) != std::string_view::npos) {
        write_output(run.out, text, length);
        return;
    }
    text_block block = open_block(run, nullptr, text, text + length);
    filter_span(block, text, text + length);
    copy_block_to(block, text + length);
}

void filter_text(orvane_run &run, const char *text) {
    filter_text(run, text, std::strlen(text));
}

void start_text_input(text_input &input) {
    input.line = 1;
}

text_block open_block(orvane_run &run, text_input *input, const char *begin, const char *end) {
    return text_block{&run,    input, begin, end,  begin, begin, input != nullptr ? input->line : 0,
                      nullptr, begin, begin, false};
}

void close_block(text_block &block) {
    copy_block_to(block, block.end);
    if (block.input != nullptr) {
        block.input->line = block_line(block, block.end);
        block.input->offset += static_cast<std::uint64_t>(block.end - block.begin);
    }
}

const char *block_name(const text_block &block) {
    return block.input != nullptr ? block.input->name : "-";
}

std::uint64_t block_offset(const text_block &block, const char *position) {
    return block.input != nullptr
               ? block.input->offset + static_cast<std::uint64_t>(position - block.begin)
               : NO_OFFSET;
}

std::int64_t block_line(text_block &block, const char *position) {
    if (block.input == nullptr)
        return 0;
    block.line += static_cast<std::int64_t>(count_newlines(block.counted, position));
    block.counted = position;
    return block.line;
}

// Lines are looked at for "://" only where they hold a token, so that text without digits is
// passed over in one scan; no token can cross a newline.
void filter_lines(text_input &input, const char *text, std::size_t length) {
    const char *end = text + length;
    text_block block = open_block(*input.run, &input, text, end);
    filter_span(block, text, end, text, end);
    close_block(block);
}
