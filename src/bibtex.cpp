// BibTeX mode: the parser that finds the values of ISBN fields and hands them to the text filter.

#include "bibtex.h"

#include "diagnostics.h"
#include "filter.h"
#include "run.h"
#include "scan.h"

#include <any>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

// Byte classes, as BibTeX has them: blanks (space, tab and the line ends, a lone CR among them)
// separate the parts of an entry; name bytes make entry types, field names and macro names
// (anything but blanks, the other control bytes and the bytes that BibTeX reserves; '@' is an
// ordinary byte there), which never start with a digit; a key is anything up to a ',', a blank
// or, in an entry in braces, a '}'.
enum : unsigned char {
    BLANK = 1,
    NAME = 2,
    NAME_START = 4,
    ENDS_KEY_IN_BRACES = 8,
    ENDS_KEY_IN_PARENTHESES = 16
};

constexpr std::array<unsigned char, 256> make_classes() {
    std::array<unsigned char, 256> classes{};
    for (std::size_t c = 0; c < 256; ++c)
        classes[c] = c < 32 ? 0 : NAME | (c >= '0' && c <= '9' ? 0 : NAME_START);
    for (char c : {' ', '\t', '\n', '\r'})
        classes[static_cast<unsigned char>(c)] =
            BLANK | ENDS_KEY_IN_BRACES | ENDS_KEY_IN_PARENTHESES;
    for (char c : {'"', '#', '%', '\'', '(', ')', ',', '=', '{', '}'})
        classes[static_cast<unsigned char>(c)] = 0;
    classes[','] = ENDS_KEY_IN_BRACES | ENDS_KEY_IN_PARENTHESES;
    classes['}'] = ENDS_KEY_IN_BRACES;
    return classes;
}

constexpr std::array<unsigned char, 256> classes = make_classes();

bool is_blank(char c) {
    return (classes[static_cast<unsigned char>(c)] & BLANK) != 0;
}

bool is_name_byte(char c) {
    return (classes[static_cast<unsigned char>(c)] & NAME) != 0;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The first byte of a name: a name byte, but not a digit.
bool starts_name(char c) {
    return (classes[static_cast<unsigned char>(c)] & NAME_START) != 0;
}

// Passes over the run of name bytes from p, at most to end, and returns where it stops.
const char *name_run(const char *p, const char *end) {
    while (p < end && is_name_byte(*p))
        ++p;
    return p;
}

// Passes over a citation key from p: up to a ',', a blank, or close where that is '}'.
const char *key_run(const char *p, const char *end, char close) {
    unsigned char ends = close == '}' ? ENDS_KEY_IN_BRACES : ENDS_KEY_IN_PARENTHESES;
    while (p < end && (classes[static_cast<unsigned char>(*p)] & ends) == 0)
        ++p;
    return p;
}

// Whether [begin, end) holds "isbn" in any case: four bytes at a time, with the case bit of each
// set (no byte but a letter's other case becomes a letter of "isbn" that way).
bool holds_isbn(const char *begin, const char *end) {
    std::uint32_t isbn = 0;
    std::memcpy(&isbn, "isbn", 4);
    for (const char *p = begin; end - p >= 4; ++p) {
        std::uint32_t word = 0;
        std::memcpy(&word, p, 4);
        if ((word | 0x20202020u) == isbn)
            return true;
    }
    return false;
}

// Where the parser stands.
enum class where : unsigned char {
    text,        // between entries: an '@' may start one
    at,          // after '@': blanks, then the entry type
    type,        // in the entry type
    after_type,  // blanks, then '{' or '(' opens the entry; anything else was text
    key,         // blanks, then the citation key
    after_key,   // blanks, then ',' or the end of the entry
    fields,      // after a ',': blanks, then a field name or the end of the entry
    name,        // in a field name
    after_name,  // blanks, then '='
    value,       // blanks, then a value part
    braced,      // in a value part in braces
    quoted,      // in a value part in double quotes
    number,      // in a value part of digits
    macro,       // in a value part that names a macro
    after_value, // blanks, then '#', ',' or the end of the entry
};

// Everything that carries from one block of input to the next.
struct parser {
    where at = where::text;
    char close = '}';        // the byte that ends the current entry
    bool regular = false;    // a regular entry, whose ISBN fields are filtered
    bool single = false;     // @string or @preamble: one value, then the end
    bool isbn_field = false; // the current field's name contains "isbn"
    std::size_t depth = 0;   // braces open in the current value part
    char type[10] = {};      // the entry type in lower case, cut after 9 bytes
    std::size_t type_length = 0;
    std::int64_t entry_line = 0;    // where the current entry starts
    std::uint64_t entry_offset = 0; // the offset of its '@'
};

// One block under the parser. Lines are counted only where a number is needed (an ISBN value,
// a warning, the block's end), from where the last count stopped; an entry's start is noted,
// and its line counted on the way to the next number.
struct block_scan {
    parser &state;
    text_block out;                 // the block's bytes, from out.begin to out.end
    const char *entry_at = nullptr; // the '@' of an entry whose line is not counted yet
};

// The line of position, after the line of an entry that starts before it.
std::int64_t line_at(block_scan &scan, const char *position) {
    if (scan.entry_at != nullptr && scan.entry_at <= position) {
        scan.state.entry_line = block_line(scan.out, scan.entry_at);
        scan.entry_at = nullptr;
    }
    return block_line(scan.out, position);
}

// A warning about the current entry, quoting the line where it starts, after all the text
// before position.
void warn(block_scan &scan, const char *position, const char *message) {
    line_at(scan, position); // counts the entry's line on the way
    copy_block_to(scan.out, position);
    report_warning(*scan.out.run, block_name(scan.out), scan.state.entry_line,
                   scan.state.entry_offset, message);
}

// An entry still open where a new one starts: the new one is read from its '@'.
void not_closed(block_scan &scan, const char *at_sign) {
    char message[120];
    std::snprintf(message, sizeof message, "BibTeX entry not closed before the entry on line %lld",
                  static_cast<long long>(line_at(scan, at_sign)));
    warn(scan, at_sign, message);
    scan.state.at = where::text;
}

// A byte that the entry's syntax does not allow where it stands: BibTeX rejects the entry and
// reads on at the next '@' from that byte, wherever it stands (on the same line, or in a line
// that starts with '%': BibTeX has no comments); what lies before it is copied as it is.
void not_understood(block_scan &scan, const char *position, const char *expected) {
    char message[200];
    std::snprintf(message, sizeof message,
                  "BibTeX entry not understood on line %lld (expected %s), copied as it is up "
                  "to the next @",
                  static_cast<long long>(line_at(scan, position)), expected);
    warn(scan, position, message);
    scan.state.at = where::text;
}

// Where the entry's end or a ',' is due: an '@' there ends the entry, unclosed, and BibTeX reads
// on from that '@'; any other byte is not understood.
void not_ended(block_scan &scan, const char *position, const char *expected) {
    if (*position == '@')
        not_closed(scan, position);
    else
        not_understood(scan, position, expected);
}

// A valid ISBN in an ISBN field that no range of the table places is written as it came, with a
// notice: a newer export may place it. (In text outside such fields a number that only looks
// like an ISBN is no news.)
void notice_unplaced(text_block &block, const char *token, std::string_view characters) {
    char message[160];
    std::snprintf(message, sizeof message,
                  "valid ISBN [%.*s] is in no range of the table; --ranges with a current "
                  "export may place it",
                  static_cast<int>(characters.size()), characters.data());
    report_notice(*block.run, block_name(block), block_line(block, token),
                  block_offset(block, token), message);
}

// The ISBN value text [begin, end) goes through the text filter with its true line numbers.
void filter_value(block_scan &scan, const char *begin, const char *end) {
    line_at(scan, begin);
    filter_block_part(scan.out, begin, end, notice_unplaced);
}

// The entry type decides how the entry is read: @preamble holds a value, @string fields that
// are never filtered, every other type a key and fields. (@comment never gets here: BibTeX
// passes over the word alone and reads on, so whatever follows it is text between entries, or
// an entry.)
void open_entry(parser &state, char opening) {
    state.close = opening == '{' ? '}' : ')';
    std::string_view type(state.type, state.type_length);
    state.regular = false;
    state.single = type == "preamble" || type == "string";
    state.isbn_field = false;
    state.depth = 0;
    if (type == "preamble") {
        state.at = where::value;
    } else if (type == "string") {
        state.at = where::fields;
    } else {
        state.regular = true;
        state.at = where::key;
    }
}

// Opens a value part in braces or quotes at p.
void open_value(parser &state, char opening) {
    state.at = opening == '{' ? where::braced : where::quoted;
    state.depth = opening == '{' ? 1 : 0;
}

// A field from its name at p, in its usual shape: the name, blanks, '=', blanks and the opening of
// a value in braces or quotes. Returns where the walk goes on: at the value's first byte, with
// the parser in the value; or, where the shape breaks off, at the byte where it did, with the
// parser in the state that reads that byte, so the general steps take over there.
const char *field_from_name(block_scan &scan, const char *p) {
    parser &state = scan.state;
    const char *end = scan.out.end;
    const char *name = p;
    p = name_run(p, end);
    state.isbn_field = state.regular && holds_isbn(name, p);
    state.at = where::name;
    if (p == end)
        return p;
    state.at = where::after_name;
    while (p < end && is_blank(*p))
        ++p;
    if (p == end || *p != '=')
        return p;
    state.at = where::value;
    for (++p; p < end && is_blank(*p);)
        ++p;
    if (p == end || (*p != '{' && *p != '"'))
        return p;
    open_value(state, *p);
    return p + 1;
}

// The head of the next field after a ',', taken in one go where it has the usual shape: blanks,
// then a name that starts with a letter or another usual byte.
const char *field_head(block_scan &scan, const char *p) {
    const char *end = scan.out.end;
    while (p < end && is_blank(*p))
        ++p;
    if (p == end || !starts_name(*p)) {
        scan.state.at = where::fields;
        return p;
    }
    return field_from_name(scan, p);
}

// After a value part: where a ',' follows after blanks, as it usually does, the next field's
// head is taken at once; otherwise the general steps read on from the first byte not blank.
const char *after_value(block_scan &scan, const char *p) {
    scan.state.at = where::after_value;
    while (p < scan.out.end && is_blank(*p))
        ++p;
    return p < scan.out.end && *p == ',' && !scan.state.single ? field_head(scan, p + 1) : p;
}

// One step in a state that reads a word (an entry type, a field name, a number or macro name)
// or what follows the '@' and the type, which a block may end in the middle of. Returns where
// the scan goes on.
const char *step_in_word(block_scan &scan, const char *p) {
    parser &state = scan.state;
    char c = *p;
    switch (state.at) {
    case where::at:
        if (is_blank(c))
            return p + 1;
        state.type_length = 0;
        state.at = starts_name(c) ? where::type : where::text;
        return p;
    case where::type:
        for (; p < scan.out.end && is_name_byte(*p); ++p)
            if (state.type_length < sizeof state.type)
                state.type[state.type_length++] =
                    static_cast<char>(*p >= 'A' && *p <= 'Z' ? *p + 32 : *p);
        if (p < scan.out.end)
            state.at = std::string_view(state.type, state.type_length) == "comment"
                           ? where::text
                           : where::after_type;
        return p;
    case where::after_type:
        if (is_blank(c))
            return p + 1;
        if (c == '{' || c == '(') {
            open_entry(state, c);
            return p + 1;
        }
        state.at = where::text;
        return p;
    case where::name:
        p = name_run(p, scan.out.end);
        if (p < scan.out.end)
            state.at = where::after_name;
        return p;
    default: // number or macro
        // A block ends at a line end, so these go on into the next block only where a caller
        // splits a line.
        if (state.at == where::number)
            while (p < scan.out.end && is_digit(*p))
                ++p;
        else
            p = name_run(p, scan.out.end);
        if (p < scan.out.end)
            state.at = where::after_value;
        return p;
    }
}

// One step inside an entry, between its parts: blanks first, then the part. Returns where the
// scan goes on.
const char *step_between_parts(block_scan &scan, const char *p) {
    parser &state = scan.state;
    while (p < scan.out.end && is_blank(*p))
        ++p;
    if (p == scan.out.end)
        return p;
    char c = *p;
    switch (state.at) {
    case where::key:
        p = key_run(p, scan.out.end, state.close);
        state.at = where::after_key;
        return p < scan.out.end && *p == ',' ? field_head(scan, p + 1) : p;
    case where::after_key:
        if (c == ',')
            return field_head(scan, p + 1);
        if (c == state.close) {
            state.at = where::text;
            return p + 1;
        }
        not_ended(scan, p, "\",\" after the key");
        return p;
    case where::fields:
        // @string holds one name; a regular entry may end after a ','.
        if (c == state.close && !state.single) {
            state.at = where::text;
            return p + 1;
        }
        if (!is_name_byte(c) || is_digit(c)) {
            not_understood(scan, p, state.single ? "a string name" : "a field name");
            return p;
        }
        return field_from_name(scan, p);
    case where::after_name:
        if (c != '=') {
            not_understood(scan, p, "\"=\" after the field name");
            return p;
        }
        state.at = where::value;
        return p + 1;
    case where::value:
        if (c == '{' || c == '"') {
            open_value(state, c);
            return p + 1;
        }
        if (!is_name_byte(c)) {
            not_understood(scan, p, "a value");
            return p;
        }
        state.at = is_digit(c) ? where::number : where::macro;
        return p;
    default: // after_value
        if (c == '#') {
            state.at = where::value;
        } else if (c == ',' && !state.single) {
            return field_head(scan, p + 1);
        } else if (c == state.close) {
            state.at = where::text;
        } else {
            not_ended(scan, p,
                      state.single ? "\"#\" or the end of the entry"
                                   : "\",\" or the end of the entry");
            return p;
        }
        return p + 1;
    }
}

// One step of the syntax between values, a byte at a time; these stretches are short.
const char *step(block_scan &scan, const char *p) {
    switch (scan.state.at) {
    case where::at:
    case where::type:
    case where::after_type:
    case where::name:
    case where::number:
    case where::macro:
        return step_in_word(scan, p);
    default:
        return step_between_parts(scan, p);
    }
}

// Called where a step may have opened a value, by a step of its own or at the end of a field's
// head: the text of a value in braces or quotes of an ISBN field starts at p.
void note_value_start(const parser &state, const char *p, const char *&value_start) {
    if (state.isbn_field && (state.at == where::braced || state.at == where::quoted))
        value_start = p;
}

// In a value part, found by a scan for the bytes that matter there; an '@' in a value is text,
// even at the start of a line, as BibTeX reads it. Returns where
// the scan goes on; value_start is the start of the ISBN value text being read, or nullptr.
const char *scan_balanced(block_scan &scan, const char *p, const char *&value_start) {
    static constexpr char braced[4] = {'{', '}', '}', '}'};
    static constexpr char quoted[4] = {'{', '}', '"', '"'};
    parser &state = scan.state;
    const char *q = find_any_of(p, scan.out.end, state.at == where::braced ? braced : quoted);
    if (q == scan.out.end)
        return q;
    if (*q == '{') {
        state.depth += 1;
        return q + 1;
    }
    if (*q == '}' && state.depth == 0) {
        // Only in quotes: BibTeX takes braces in a quoted value to balance.
        if (value_start != nullptr)
            filter_value(scan, value_start, q);
        value_start = nullptr;
        not_understood(scan, q, "a closing quote before \"}\"");
        return q;
    }
    if (*q == '}')
        state.depth -= 1;
    // A braced part ends at the '}' that balances its '{', a quoted one at a '"' outside braces.
    bool ends = state.depth == 0 && *q == (state.at == where::braced ? '}' : '"');
    if (!ends)
        return q + 1;
    if (value_start != nullptr)
        filter_value(scan, value_start, q);
    value_start = nullptr;
    const char *next = after_value(scan, q + 1);
    note_value_start(state, next, value_start);
    return next;
}

// The parser's walk over one block; the caller writes what remains unwritten at the end.
void scan_block(block_scan &scan) {
    parser &state = scan.state;
    const char *value_start = nullptr;
    if (state.isbn_field && (state.at == where::braced || state.at == where::quoted))
        value_start = scan.out.begin;
    for (const char *p = scan.out.begin; p < scan.out.end;) {
        switch (state.at) {
        case where::text: {
            const char *at_sign = static_cast<const char *>(
                std::memchr(p, '@', static_cast<std::size_t>(scan.out.end - p)));
            if (at_sign == nullptr) {
                p = scan.out.end;
                break;
            }
            scan.entry_at = at_sign;
            state.entry_offset = block_offset(scan.out, at_sign);
            state.at = where::at;
            p = at_sign + 1;
            break;
        }
        case where::braced:
        case where::quoted:
            p = scan_balanced(scan, p, value_start);
            break;
        default: {
            p = step(scan, p);
            note_value_start(state, p, value_start);
            break;
        }
        }
    }
    if (value_start != nullptr)
        filter_value(scan, value_start, scan.out.end);
    line_at(scan, scan.out.end);
}

// Whether the parser stands inside an entry.
bool inside_entry(const parser &state) {
    return state.at != where::text && state.at != where::at && state.at != where::type &&
           state.at != where::after_type;
}

// The warning for an entry that the text of the input named name leaves open; the parser starts
// over.
void finish(orvane_run &run, parser &state, const char *name) {
    if (inside_entry(state))
        report_warning(run, name, state.entry_line, state.entry_offset,
                       "BibTeX entry not closed at the end of the input");
    state = parser{};
}

} // namespace

// The parser's state is the input's own: it carries from one block of the input to the next.
void filter_bibtex_lines(text_input &input, const char *text, std::size_t length) {
    parser &state = std::any_cast<parser &>(input.mode_state);
    block_scan scan{state, open_block(*input.run, &input, text, text + length)};
    scan_block(scan);
    close_block(scan.out);
}

void start_bibtex_input(text_input &input) {
    input.mode_state = parser{};
    start_text_input(input);
}

void finish_bibtex_input(text_input &input) {
    finish(*input.run, std::any_cast<parser &>(input.mode_state), input.name);
}

void filter_bibtex_text(orvane_run &run, const char *text, std::size_t length) {
    parser state;
    block_scan scan{state, open_block(run, nullptr, text, text + length)};
    scan_block(scan);
    copy_block_to(scan.out, scan.out.end);
    finish(run, state, "-");
}
