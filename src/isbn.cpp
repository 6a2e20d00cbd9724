// The isbn module's range comparison, its walk over the table, and hyphenation of whole texts.

#include "isbn.h"

#include "characters.h"
#include "diagnostics.h"
#include "run.h"

#include <cstdio>
#include <cstring>

namespace {

// At most this many ISBN characters of a text take part in a range comparison.
constexpr std::size_t EXTRACT_MAX = 14;

// Collects the ISBN characters of text, passing over the bytes that are not ISBN characters, up
// to EXTRACT_MAX of them.
void extract(const char *text, char (&out)[EXTRACT_MAX + 1]) {
    std::size_t n = 0;
    for (; *text != '\0' && n < EXTRACT_MAX; ++text)
        if (is_ISBN_character(*text))
            out[n++] = *text;
    out[n] = '\0';
}

// The constants in which the two hyphenation routines differ.
struct ISBN_kind {
    std::size_t length;       // ISBN characters in a candidate
    std::size_t key_offset;   // bytes from a candidate's first byte to its lookup key
    std::size_t before_check; // length of a complete form before the check digit's hyphen goes
                              // in: 12 for 0-201-633612, 16 for 978-0-201-633610
    bool prefix_step;         // whether the form starts with 978- or 979-
};

constexpr ISBN_kind ISBN_10{10, 0, 12, false};
constexpr ISBN_kind ISBN_13{13, 3, 16, true};

// Finds the next candidate at or after from: N ISBN characters with nothing but spaces and
// hyphens between them. Returns false when the text ends first.
bool find_candidate(const char *from, std::size_t n, const char *&first, const char *&last) {
    const char *p = from;
    for (;;) {
        while (*p != '\0' && !is_ISBN_character(*p))
            ++p;
        if (*p == '\0')
            return false;
        first = p;
        std::size_t count = 0;
        for (;; ++p) {
            if (is_ISBN_character(*p)) {
                if (++count == n) {
                    last = p;
                    return true;
                }
            } else if (*p == '\0') {
                return false;
            } else if (*p != ' ' && *p != '-') {
                break; // the search goes on from this byte
            }
        }
    }
}

// Warns about an ISBN-13 whose prefix is neither 978 nor 979, quoting its ISBN characters, on
// the run's line.
void warn_about_prefix(orvane_run &run, const char *first, const char *last) {
    char characters[EXTRACT_MAX + 1];
    std::size_t n = 0;
    for (const char *p = first; p <= last && n < EXTRACT_MAX; ++p)
        if (is_ISBN_character(*p))
            characters[n++] = *p;
    characters[n] = '\0';
    report_ISBN_13_prefix(run, "-", run.line, NO_OFFSET, characters, n);
}

// Builds the hyphenated form of the candidate [first, last] into form: the prefix and a hyphen
// for an ISBN-13 of 978 or 979, then the candidate's characters laid over the covering row's
// begin text, a hyphen for each of its hyphens and one after its last character, then the rest,
// and a hyphen before the check character. Returns the form's length, or 0 when the candidate
// fails: no row, or a form that does not come out exactly kind.before_check long with every
// character of the candidate used. Characters are taken from [first, last] only; the byte after
// last is read to see that the candidate ends there.
std::size_t place_hyphens(orvane_run &run, const ISBN_kind &kind, const char *first,
                          const char *last, char *form) {
    // An ISBN-10 is placed among the 978 groups.
    ISBN_rows rows = kind.prefix_step ? ISBN_13_rows(first) : ISBN_rows::prefix_978;
    const ISBN_range_row *row = find_ISBN_range(table_of(run), first + kind.key_offset, rows);
    if (row == nullptr)
        return 0;
    std::size_t k = 0;
    const char *r = first;
    if (kind.prefix_step && rows != ISBN_rows::all) {
        std::memcpy(form, first, 3);
        form[3] = '-';
        k = 4;
        r += 3;
    } else if (kind.prefix_step) {
        warn_about_prefix(run, first, last);
        // The walk goes on: with the built-in rows the form comes out one hyphen short and
        // fails, but a row that a caller put in the table may still complete it.
    }
    const char *pattern = row->begin;
    while (k < kind.before_check) {
        char step = *pattern;
        if (step == '-') {
            form[k++] = '-';
        } else {
            while (r <= last && !is_ISBN_character(*r))
                ++r;
            if (r > last)
                return 0;
            form[k++] = *r++;
            if (step != '\0' && pattern[1] == '\0')
                form[k++] = '-';
        }
        if (step != '\0')
            ++pattern;
        if (*r == '\0')
            break;
    }
    if (k != kind.before_check || is_ISBN_character(*r) || r != last + 1)
        return 0;
    form[k] = form[k - 1];
    form[k - 1] = '-';
    return k + 1;
}

// Appends count bytes to output at length, if the result stays below limit. Returns whether it
// did.
bool append(char *output, std::size_t &length, std::size_t limit, const char *bytes,
            std::size_t count) {
    if (length + count >= limit)
        return false;
    std::memcpy(output + length, bytes, count);
    length += count;
    return true;
}

// The shared body of the two hyphenation routines: each candidate of the text is replaced by
// its form, or its first byte is passed on and the search goes on after it; output collects the
// result, and text is rewritten only when the whole result stays shorter than limit.
void hyphenate(orvane_run &run, const ISBN_kind &kind, char *text, char *output,
               std::size_t limit) {
    std::size_t length = 0;
    const char *mark = text;
    char form[20];
    const char *first = nullptr;
    const char *last = nullptr;
    while (*mark != '\0' && find_candidate(mark, kind.length, first, last)) {
        if (!append(output, length, limit, mark, static_cast<std::size_t>(first - mark)))
            return;
        std::size_t form_length = place_hyphens(run, kind, first, last, form);
        bool placed = form_length != 0;
        if (!append(output, length, limit, placed ? form : first, placed ? form_length : 1))
            return;
        mark = placed ? last + 1 : first + 1;
    }
    if (!append(output, length, limit, mark, std::strlen(mark)))
        return;
    std::memcpy(text, output, length);
    text[length] = '\0';
}

} // namespace

void report_ISBN_13_prefix(orvane_run &run, const char *name, std::int64_t line,
                           std::uint64_t offset, const char *characters, std::size_t count) {
    char message[100];
    std::snprintf(message, sizeof message, "ISBN-13 must begin with either 978 or 979: ``%.*s''",
                  static_cast<int>(count), characters);
    report_warning(run, name, line, offset, message);
}

ISBN_row_span ISBN_rows_of(const range_table &table, ISBN_rows rows) {
    std::size_t used = table.rows.size();
    std::size_t boundary = table.first_979_row < used ? table.first_979_row : used;
    return {rows == ISBN_rows::prefix_979 ? boundary : 0,
            rows == ISBN_rows::prefix_978 ? boundary : used};
}

// A K shorter than B compares below it, since strncmp meets K's terminator first.
int compare_ISBN_range(const char *begin, const char *candidate, const char *end) {
    char b[EXTRACT_MAX + 1];
    char k[EXTRACT_MAX + 1];
    extract(begin, b);
    extract(candidate, k);
    if (std::strncmp(k, b, std::strlen(b)) < 0)
        return -1;
    char e[EXTRACT_MAX + 1];
    extract(end, e);
    if (std::strncmp(e, k, std::strlen(e)) < 0)
        return 1;
    return 0;
}

// Rows whose begin starts with a hyphen are passed over; the first covering row wins.
const ISBN_range_row *walk_ISBN_range(const range_table &table, const char *key, ISBN_rows rows) {
    ISBN_row_span span = ISBN_rows_of(table, rows);
    for (std::size_t i = span.first; i < span.last; ++i) {
        const ISBN_range_row &row = table.rows[i];
        if (row.begin[0] != '-' && compare_ISBN_range(row.begin, key, row.end) == 0)
            return &row;
    }
    return nullptr;
}

// The key is the candidate itself, looked up among the 978 groups.
void hyphenate_ISBN_10(orvane_run &run, char *text, char *output, std::size_t limit) {
    hyphenate(run, ISBN_10, text, output, limit);
}

// The key starts three bytes after the candidate; 978 and 979 choose their own groups.
void hyphenate_ISBN_13(orvane_run &run, char *text, char *output, std::size_t limit) {
    hyphenate(run, ISBN_13, text, output, limit);
}
