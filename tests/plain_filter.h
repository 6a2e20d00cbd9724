// A deliberately plain filter for the tests: a line at a time, a token at a time, its own check
// digits and hyphen placement, and the plain walk over the range table. It shares no code with
// the fast path but the table and its walk, so that the two cannot be wrong the same way.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct plain_result {
    std::string out;
    std::string err;
};

// Filters input as standard input is filtered: line by line, warnings quoting lines from 1.
plain_result plain_filter_lines(std::string_view input);

// Filters one argument: the whole text is one line, and warnings quote line 0.
plain_result plain_filter_text(std::string_view text);

// Filters the tokens of text, a stretch of one line that holds no "://", as on line; in an ISBN
// field's value a valid ISBN that no range places gets a warning.
void plain_filter_tokens(plain_result &result, std::int64_t line, std::string_view text,
                         bool isbn_field);
