#include "filter.h"

#include "diagnostics.h"
#include "isbn.h"
#include "output.h"
#include "scan.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr std::size_t BUFFER_SIZE = TOKEN_MAX + 1;
constexpr std::string_view URL_MARK = "://";

// Where a block of lines has been counted up to: line_number is the number of the line that
// holds this byte. Null when line_number is already right, as for a single line or argument.
struct line_cursor {
    const char *counted;
};

bool is_token_byte(char c)
{
    return (c >= '0' && c <= '9') || c == '-' || c == 'x' || c == 'X';
}

int character_value(char c)
{
    return c == 'x' || c == 'X' ? 10 : c - '0';
}

// Writes a token through the one output rule: a 16-byte text that starts with 978 or 979 not
// followed by a hyphen gets a hyphen after the prefix; everything else goes out unchanged.
void write_token(const char *token, std::size_t length)
{
    if (length == 16 && (std::memcmp(token, "978", 3) == 0 || std::memcmp(token, "979", 3) == 0) &&
        token[3] != '-') {
        write_output(token, 3);
        write_output_byte('-');
        write_output(token + 3, length - 3);
    } else {
        write_output(token, length);
    }
}

// Brings line_number up to the line that holds position.
void advance_to(line_cursor *lines, const char *position)
{
    if (lines != nullptr) {
        line_number += static_cast<std::int64_t>(count_newlines(lines->counted, position));
        lines->counted = position;
    }
}

// Checks one collected token and writes it, hyphenated when it is a valid ISBN.
void process_token(const char *token, std::size_t length, line_cursor *lines)
{
    // A cheap look at the length first: most digit runs (years, pages) can never be ISBNs.
    std::size_t characters = 0;
    for (std::size_t i = 0; i < length && characters <= 13; ++i)
        characters += token[i] != '-';
    if (characters != 10 && characters != 13) {
        write_token(token, length);
        return;
    }
    advance_to(lines, token);
    char text[BUFFER_SIZE];
    std::size_t text_length = check_candidate(token, length, text);
    if (text_length == 0) {
        write_token(token, length);
        return;
    }
    char hyphenated[BUFFER_SIZE];
    if (text_length == 10)
        hyphenate_ISBN_10(text, hyphenated, BUFFER_SIZE);
    else
        hyphenate_ISBN_13(text, hyphenated, BUFFER_SIZE);
    write_token(text, std::strlen(text));
}

// The scan of text that holds no "://": bytes up to the next digit go out as one span, and
// each digit starts a candidate token of at most TOKEN_MAX bytes.
void filter_span(const char *p, const char *end, line_cursor *lines)
{
    while (p < end) {
        const char *digit = find_digit(p, end);
        write_output(p, static_cast<std::size_t>(digit - p));
        if (digit == end)
            return;
        const char *limit = end - digit > static_cast<std::ptrdiff_t>(TOKEN_MAX) ? digit + TOKEN_MAX : end;
        const char *q = digit;
        while (q < limit && is_token_byte(*q))
            ++q;
        process_token(digit, static_cast<std::size_t>(q - digit), lines);
        p = q;
    }
}

} // namespace

bool check_ISBN_10(const char *characters)
{
    int sum = 0;
    for (int position = 1; position <= 9; ++position)
        sum += position * character_value(characters[position - 1]);
    return sum % 11 == character_value(characters[9]);
}

bool check_ISBN_13(const char *characters)
{
    int sum = 0;
    for (int position = 1; position <= 12; ++position)
        sum += (position % 2 == 1 ? 1 : 3) * character_value(characters[position - 1]);
    int check = sum % 10 == 0 ? 0 : 10 - sum % 10;
    return check == character_value(characters[12]);
}

std::size_t check_candidate(const char *token, std::size_t length, char *hyphen_free)
{
    std::size_t n = 0;
    for (std::size_t i = 0; i < length; ++i)
        if (token[i] != '-')
            hyphen_free[n++] = token[i];
    hyphen_free[n] = '\0';
    if (n != 10 && n != 13)
        return 0;
    if (n == 10 ? check_ISBN_10(hyphen_free) : check_ISBN_13(hyphen_free))
        return n;
    char message[100];
    if (n == 10)
        std::snprintf(message, sizeof message, "invalid ISBN-10 value [%.10s]", hyphen_free);
    else
        std::snprintf(message, sizeof message, "invalid ISBN-13 value [%.13s]", hyphen_free);
    report_warning(message);
    return 0;
}

void filter_text(const char *text, std::size_t length)
{
    if (std::string_view(text, length).find(URL_MARK) != std::string_view::npos)
        write_output(text, length);
    else
        filter_span(text, text + length, nullptr);
}

void filter_text(const char *text)
{
    filter_text(text, std::strlen(text));
}

// Lines that hold "://" are found by one search over the whole block and copied whole; the
// stretches between them are scanned as one span, since no token can cross a newline.
void filter_lines(const char *text, std::size_t length)
{
    if (length == 0)
        return;
    const char *p = text;
    const char *end = text + length;
    line_number += 1;
    line_cursor lines{p};
    while (p < end) {
        const void *mark = memmem(p, static_cast<std::size_t>(end - p), URL_MARK.data(), URL_MARK.size());
        if (mark == nullptr) {
            filter_span(p, end, &lines);
            break;
        }
        const char *url = static_cast<const char *>(mark);
        const void *before = memrchr(p, '\n', static_cast<std::size_t>(url - p));
        const char *line_start = before == nullptr ? p : static_cast<const char *>(before) + 1;
        const void *after = std::memchr(url, '\n', static_cast<std::size_t>(end - url));
        const char *line_end = after == nullptr ? end : static_cast<const char *>(after) + 1;
        filter_span(p, line_start, &lines);
        write_output(line_start, static_cast<std::size_t>(line_end - line_start));
        p = line_end;
    }
    advance_to(&lines, end);
    if (end[-1] == '\n')
        line_number -= 1;
}
