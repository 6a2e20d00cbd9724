#include "plain_bibtex.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr std::size_t NONE = std::string_view::npos;

// Space, tab and the line ends; a lone CR ends a line for BibTeX too.
bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Bytes of names (entry types, field names, macro names): all but control bytes, blanks among
// them, and those BibTeX reserves.
bool is_name_byte(char c) {
    return static_cast<unsigned char>(c) >= 32 && c != ' ' &&
           std::string_view("\"#%'(),={}").find(c) == NONE;
}

// Where the text between entries reads a type: a name byte but a digit ('@' too).
bool starts_type(char c) {
    return is_name_byte(c) && !is_digit(c);
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool holds_isbn(std::string_view name) {
    for (std::size_t i = 0; i + 4 <= name.size(); ++i)
        if (lower(name[i]) == 'i' && lower(name[i + 1]) == 's' && lower(name[i + 2]) == 'b' &&
            lower(name[i + 3]) == 'n')
            return true;
    return false;
}

struct reader {
    std::string_view in;
    bool argument;
    plain_result result;
    std::size_t copied = 0; // the input before this is in result.out
    std::vector<std::size_t> line_starts{0};
    std::int64_t entry_line = 0;

    reader(std::string_view input, bool is_argument) : in(input), argument(is_argument) {
        for (std::size_t i = 0; i < in.size(); ++i)
            if (in[i] == '\n')
                line_starts.push_back(i + 1);
    }

    std::int64_t line_of(std::size_t position) const {
        if (argument)
            return 0;
        auto after = std::upper_bound(line_starts.begin(), line_starts.end(), position);
        return after - line_starts.begin();
    }

    void warn(std::int64_t line, const std::string &message) {
        result.err += "-:" + std::to_string(line) + ":" + message + ".\n";
    }

    void copy_to(std::size_t position) {
        result.out.append(in.substr(copied, position - copied));
        copied = position;
    }

    // The text [begin, end) of an ISBN field's value, a line at a time: a line that holds "://"
    // anywhere, in the value or not, is copied as it is.
    void isbn_value(std::size_t begin, std::size_t end) {
        copy_to(begin);
        for (std::size_t p = begin; p < end;) {
            std::size_t newline = in.find('\n', p);
            std::size_t piece_end = newline == NONE || newline >= end ? end : newline + 1;
            std::size_t before = p == 0 ? NONE : in.rfind('\n', p - 1);
            std::size_t line_start = before == NONE ? 0 : before + 1;
            std::size_t line_end = newline == NONE ? in.size() : newline + 1;
            std::string_view piece = in.substr(p, piece_end - p);
            if (in.substr(line_start, line_end - line_start).find("://") != NONE)
                result.out += piece;
            else
                plain_filter_tokens(result, line_of(p), piece, true);
            p = piece_end;
        }
        copied = end;
    }

    std::size_t skip_blanks(std::size_t p) const {
        while (p < in.size() && is_blank(in[p]))
            ++p;
        return p;
    }

    // A byte the entry's syntax does not allow at p: the text goes on at the next '@' from p.
    std::size_t not_understood(std::size_t p, const std::string &expected) {
        warn(entry_line, "BibTeX entry not understood on line " + std::to_string(line_of(p)) +
                             " (expected " + expected + "), copied as it is up to the next @");
        return p;
    }

    // Where a ',' or the end is due: an '@' there starts the next entry.
    std::size_t not_ended(std::size_t p, const std::string &expected) {
        return in[p] == '@' ? not_closed(p) : not_understood(p, expected);
    }

    std::size_t not_closed(std::size_t p) {
        warn(entry_line,
             "BibTeX entry not closed before the entry on line " + std::to_string(line_of(p)));
        return p;
    }

    std::size_t ends_inside() {
        warn(entry_line, "BibTeX entry not closed at the end of the input");
        return in.size();
    }

    // The entry whose '{' or '(' stands before p, of type (in lower case). Returns where the
    // text between entries goes on.
    std::size_t entry(std::size_t p, const std::string &type, char close) {
        bool regular = type != "preamble" && type != "string";
        bool single = !regular; // one value, then the end
        enum {
            key,
            after_key,
            fields,
            after_name,
            value,
            after_value
        } at = type == "preamble" ? value
               : type == "string" ? fields
                                  : key;
        bool isbn_field = false;
        for (;;) {
            p = skip_blanks(p);
            if (p == in.size())
                return ends_inside();
            char c = in[p];
            switch (at) {
            case key:
                while (p < in.size() && in[p] != ',' && !is_blank(in[p]) &&
                       !(in[p] == '}' && close == '}'))
                    ++p;
                at = after_key;
                break;
            case after_key:
                if (c == close)
                    return p + 1;
                if (c != ',')
                    return not_ended(p, "\",\" after the key");
                at = fields;
                ++p;
                break;
            case fields: {
                if (c == close && !single)
                    return p + 1;
                if (!is_name_byte(c) || is_digit(c))
                    return not_understood(p, single ? "a string name" : "a field name");
                std::size_t start = p;
                while (p < in.size() && is_name_byte(in[p]))
                    ++p;
                isbn_field = regular && holds_isbn(in.substr(start, p - start));
                at = after_name;
                break;
            }
            case after_name:
                if (c != '=')
                    return not_understood(p, "\"=\" after the field name");
                at = value;
                ++p;
                break;
            case value:
                if (c == '{' || c == '"') {
                    part_end end = part(p, isbn_field);
                    if (end.next == NONE)
                        return ends_inside();
                    if (end.stray_brace)
                        return not_understood(end.next, "a closing quote before \"}\"");
                    p = end.next;
                } else if (is_digit(c)) {
                    while (p < in.size() && is_digit(in[p]))
                        ++p;
                } else if (is_name_byte(c)) {
                    while (p < in.size() && is_name_byte(in[p]))
                        ++p;
                } else {
                    return not_understood(p, "a value");
                }
                at = after_value;
                break;
            case after_value:
                if (c == close)
                    return p + 1;
                if (c == '#')
                    at = value;
                else if (c == ',' && !single)
                    at = fields;
                else
                    return not_ended(p, single ? "\"#\" or the end of the entry"
                                               : "\",\" or the end of the entry");
                ++p;
                break;
            }
        }
    }

    // How a value part ends: next is the position after its closing byte, or NONE where the
    // input ends inside it; with stray_brace, next is a '}' in quotes that closes no brace.
    struct part_end {
        std::size_t next;
        bool stray_brace;
    };

    // A value part in braces or quotes that opens at p.
    part_end part(std::size_t p, bool isbn_field) {
        char opening = in[p];
        std::size_t start = p + 1;
        int depth = opening == '{' ? 1 : 0;
        for (std::size_t q = start; q < in.size(); ++q) {
            char c = in[q];
            bool ends = false;
            if (c == '{') {
                ++depth;
            } else if (c == '}') {
                if (depth == 0) {
                    if (isbn_field)
                        isbn_value(start, q);
                    return {q, true};
                }
                --depth;
                ends = depth == 0 && opening == '{';
            } else if (c == '"') {
                ends = depth == 0 && opening == '"';
            }
            if (ends) {
                if (isbn_field)
                    isbn_value(start, q);
                return {q + 1, false};
            }
        }
        if (isbn_field)
            isbn_value(start, in.size());
        return {NONE, false};
    }

    void read() {
        std::size_t p = 0;
        for (;;) {
            std::size_t at = in.find('@', p);
            if (at == NONE)
                break;
            entry_line = line_of(at);
            p = skip_blanks(at + 1);
            if (p == in.size() || !starts_type(in[p]))
                continue;
            std::string type;
            for (; p < in.size() && is_name_byte(in[p]); ++p)
                type += lower(in[p]);
            if (p == in.size())
                break;
            if (type == "comment")
                continue;
            p = skip_blanks(p);
            if (p == in.size())
                break;
            if (in[p] != '{' && in[p] != '(')
                continue;
            char close = in[p] == '{' ? '}' : ')';
            p = entry(p + 1, type, close);
        }
        copy_to(in.size());
    }
};

} // namespace

plain_result plain_filter_bibtex(std::string_view input, bool argument) {
    reader r(input, argument);
    r.read();
    return r.result;
}
