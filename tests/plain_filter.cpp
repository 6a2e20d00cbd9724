#include "plain_filter.h"

#include "isbn.h"

#include <cstdint>
#include <map>
#include <utility>

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool is_isbn_character(char c) {
    return is_digit(c) || c == 'x' || c == 'X';
}

int value_of(char c) {
    return is_digit(c) ? c - '0' : 10;
}

bool valid_10(const std::string &t) {
    int sum = 0;
    for (int i = 0; i < 9; ++i)
        sum += (i + 1) * value_of(t[static_cast<std::size_t>(i)]);
    return sum % 11 == value_of(t[9]);
}

bool valid_13(const std::string &t) {
    int sum = 0;
    for (int i = 0; i < 12; ++i)
        sum += (i % 2 == 0 ? 1 : 3) * value_of(t[static_cast<std::size_t>(i)]);
    return (10 - sum % 10) % 10 == value_of(t[12]);
}

// The plain walk over the table, remembered per key: the walk takes thousands of comparisons,
// and the fuzz targets call this on every ISBN of every input. Only the built-in table, which
// never changes, is filtered here.
const ISBN_range_row *walk(const std::string &key, ISBN_rows rows) {
    static std::map<std::pair<std::string, ISBN_rows>, const ISBN_range_row *> walked;
    auto [place, fresh] = walked.try_emplace({key, rows}, nullptr);
    if (fresh)
        place->second = walk_ISBN_range(built_in_ISBN_table(), key.c_str(), rows);
    return place->second;
}

// Splits body (the characters after any 978/979 prefix, check character included) by the
// row's begin text "GROUP-PUBLISHER": group, publisher, title, check.
std::string split_by_row(const ISBN_range_row &row, const std::string &body) {
    std::string begin = row.begin;
    std::size_t hyphen = begin.find('-');
    std::size_t group = hyphen;
    std::size_t publisher = begin.size() - hyphen - 1;
    std::string title = body.substr(group + publisher, body.size() - group - publisher - 1);
    return body.substr(0, group) + "-" + body.substr(group, publisher) + "-" + title + "-" +
           body.back();
}

void warn(plain_result &result, std::int64_t line, const std::string &message) {
    result.err += "-:" + std::to_string(line) + ":" + message + ".\n";
}

// The hyphenated form of a valid candidate of 10 or 13 characters, or "" where no row places it
// (then the token is written as it came, and in an ISBN field an ISBN gets a warning).
std::string hyphenated(plain_result &result, std::int64_t line, const std::string &t,
                       bool isbn_field) {
    std::string unplaced = "valid ISBN [" + t +
                           "] is in no range of the table; --ranges with a current export may "
                           "place it";
    if (t.size() == 10) {
        const ISBN_range_row *row = walk(t, ISBN_rows::prefix_978);
        if (row == nullptr && isbn_field)
            warn(result, line, unplaced);
        return row == nullptr ? "" : split_by_row(*row, t);
    }
    std::string prefix = t.substr(0, 3);
    std::string body = t.substr(3);
    if (prefix == "978" || prefix == "979") {
        const ISBN_range_row *row =
            walk(body, prefix == "978" ? ISBN_rows::prefix_978 : ISBN_rows::prefix_979);
        if (row == nullptr && isbn_field)
            warn(result, line, unplaced);
        return row == nullptr ? "" : prefix + "-" + split_by_row(*row, body);
    }
    if (walk(body, ISBN_rows::all) != nullptr)
        warn(result, line, "ISBN-13 must begin with either 978 or 979: ``" + t + "''");
    return "";
}

// A 16-byte text that starts with 978 or 979 without a hyphen after it gets one there.
std::string written(const std::string &text) {
    if (text.size() == 16 && (text.compare(0, 3, "978") == 0 || text.compare(0, 3, "979") == 0) &&
        text[3] != '-')
        return text.substr(0, 3) + "-" + text.substr(3);
    return text;
}

} // namespace

void plain_filter_tokens(plain_result &result, std::int64_t line, std::string_view text,
                         bool isbn_field) {
    std::size_t i = 0;
    while (i < text.size()) {
        if (!is_digit(text[i])) {
            result.out += text[i++];
            continue;
        }
        std::size_t start = i;
        while (i < text.size() && i - start < 4095 &&
               (is_isbn_character(text[i]) || text[i] == '-'))
            ++i;
        std::string token(text.substr(start, i - start));
        std::string characters;
        for (char c : token)
            if (c != '-')
                characters += c;
        if (characters.size() != 10 && characters.size() != 13) {
            result.out += written(token);
            continue;
        }
        bool valid = characters.size() == 10 ? valid_10(characters) : valid_13(characters);
        if (!valid) {
            warn(result, line,
                 "invalid ISBN-" + std::to_string(characters.size()) + " value [" + characters +
                     "]");
            result.out += written(token);
            continue;
        }
        std::string form = hyphenated(result, line, characters, isbn_field);
        result.out += written(form.empty() ? token : form);
    }
}

namespace {

void filter_line(plain_result &result, std::int64_t line, std::string_view text) {
    if (text.find("://") != std::string_view::npos)
        result.out += text;
    else
        plain_filter_tokens(result, line, text, false);
}

} // namespace

plain_result plain_filter_lines(std::string_view input) {
    plain_result result;
    std::int64_t line = 0;
    while (!input.empty()) {
        std::size_t end = input.find('\n');
        end = end == std::string_view::npos ? input.size() : end + 1;
        filter_line(result, ++line, input.substr(0, end));
        input.remove_prefix(end);
    }
    return result;
}

plain_result plain_filter_text(std::string_view text) {
    plain_result result;
    filter_line(result, 0, text);
    return result;
}
