// Upkeep of the built-in table's rows for the tests: copying them to the heap with validation,
// printing them, releasing the copies; and the table value of the rows as they stand.

#include "table_upkeep.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Writes text, whole lines, to standard error.
void report_text(const char *text) {
    std::fputs(text, stderr);
    std::fflush(stderr);
}

// A heap copy of text; running out of memory ends the process with status 1.
char *duplicate_string(const char *text) {
    std::size_t size = std::strlen(text) + 1;
    char *copy = static_cast<char *>(std::malloc(size));
    if (copy == nullptr) {
        report_text("?? Out of string memory\n");
        std::exit(1);
    }
    std::memcpy(copy, text, size);
    return copy;
}

// The heap copies ISBN_initialize made, field for field. Only these are ever released, so a
// static text in the table, or one a caller put there, is never freed, and a copy that the
// table no longer refers to is still found and freed.
ISBN_range_row copies[ISBN_RANGE_MAX];

// A text formatted as printf does, of any length.
[[gnu::format(printf, 1, 2)]] std::string formatted(const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list again;
    va_copy(again, arguments);
    int length = std::vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

// The rows before the first without begin.
std::size_t rows_in_use() {
    std::size_t n = 0;
    while (n < ISBN_RANGE_MAX && ISBN_range[n].begin != nullptr)
        ++n;
    return n;
}

// A broken table invariant is a programming error: report it and abort, in every build.
[[noreturn]] void assertion_failed(const char *expression, const char *function, int line) {
    report_text(formatted("Assertion failed: (%s), function %s, file table_upkeep.cpp, line %d.\n",
                          expression, function, line)
                    .c_str());
    std::abort();
}

// Rows in use must have an end and a countries text; end is tested first.
void check_row_fields(std::size_t k, const char *function) {
    if (ISBN_range[k].end == nullptr)
        assertion_failed("ISBN_range[k].end != (const char *)NULL", function, __LINE__);
    if (ISBN_range[k].countries == nullptr)
        assertion_failed("ISBN_range[k].countries != (const char *)NULL", function, __LINE__);
}

// Puts a heap copy of *field's text in its place, and frees the copy it replaces, if any.
// The old copy goes after the new one is made, since the text may be that very copy.
void copy_field(const char *&field, const char *&copy) {
    char *fresh = duplicate_string(field);
    std::free(const_cast<char *>(copy));
    copy = fresh;
    field = fresh;
}

// Replaces a field by a fresh empty copy.
void blank_field(const char *&field, const char *&copy) {
    field = "";
    copy_field(field, copy);
}

// Frees the copy made for a field, if any, and leaves the field absent.
void release_field(const char *&field, const char *&copy) {
    std::free(const_cast<char *>(copy));
    copy = nullptr;
    field = nullptr;
}

// Digits, one hyphen, digits, and nothing else, with at most 8 digits in all.
bool is_prefix(const char *text) {
    std::size_t group = std::strspn(text, "0123456789");
    if (group == 0 || text[group] != '-')
        return false;
    const char *publisher = text + group + 1;
    std::size_t digits = std::strspn(publisher, "0123456789");
    return digits != 0 && publisher[digits] == '\0' && group + digits <= ISBN_PREFIX_DIGITS_MAX;
}

// Reports a malformed prefix and replaces it by a fresh empty copy.
void check_prefix(const char *&field, const char *&copy) {
    if (is_prefix(field))
        return;
    report_text(formatted("Invalid country/language-publisher ISBN prefix [%s]\n", field).c_str());
    blank_field(field, copy);
}

// Whether two begin texts agree byte for byte up to and including the first hyphen of b.
bool same_group(const char *a, const char *b) {
    const char *hyphen = std::strchr(b, '-');
    std::size_t length =
        hyphen != nullptr ? static_cast<std::size_t>(hyphen - b) + 1 : std::strlen(b) + 1;
    return std::strncmp(a, b, length) == 0;
}

} // namespace

namespace {

range_table current;
bool stale = true;

} // namespace

void ISBN_range_changed() {
    stale = true;
}

const range_table &test_table() {
    if (stale) {
        make_ISBN_table(current, ISBN_range, ISBN_RANGE_MAX, ISBN_range_979_first_row);
        stale = false;
    }
    return current;
}

// Copies first, then validates, so that blanking never meets a static text. Copies made by an
// earlier call are freed as the new ones replace them, and those of rows no longer in use too.
void ISBN_initialize() {
    std::size_t n = rows_in_use();
    for (std::size_t k = 0; k < n; ++k) {
        check_row_fields(k, __func__);
        copy_field(ISBN_range[k].begin, copies[k].begin);
        copy_field(ISBN_range[k].end, copies[k].end);
        copy_field(ISBN_range[k].countries, copies[k].countries);
    }
    for (std::size_t k = n; k < ISBN_RANGE_MAX; ++k) {
        release_field(ISBN_range[k].begin, copies[k].begin);
        release_field(ISBN_range[k].end, copies[k].end);
        release_field(ISBN_range[k].countries, copies[k].countries);
    }
    for (std::size_t k = 0; k < n; ++k) {
        ISBN_range_row &row = ISBN_range[k];
        check_prefix(row.begin, copies[k].begin);
        check_prefix(row.end, copies[k].end);
        if (std::strcmp(row.begin, row.end) > 0) {
            report_text(
                formatted(
                    "Non-increasing country/language-publisher ISBN range [%s .. %s] deleted\n",
                    row.begin, row.end)
                    .c_str());
            blank_field(row.begin, copies[k].begin);
            blank_field(row.end, copies[k].end);
        }
    }
    ISBN_range_changed();
}

// A group opens after two empty lines with its annotated row; a row repeating the previous
// row's annotation in the same group is printed without it.
void do_print_ISBN_table() {
    report_text("%%% ISBN ranges and country/language groups\n");
    std::size_t n = rows_in_use();
    for (std::size_t k = 0; k < n; ++k) {
        check_row_fields(k, __func__);
        const ISBN_range_row &row = ISBN_range[k];
        bool annotated = row.countries[0] != '\0';
        if (annotated && k > 0) {
            const ISBN_range_row &previous = ISBN_range[k - 1];
            if (std::strcmp(previous.countries, row.countries) == 0 && previous.begin[0] != '\0' &&
                same_group(previous.begin, row.begin))
                annotated = false;
        }
        report_text(formatted("%s%-11s\t%-11s%s%s\n", annotated ? "\n\n" : "", row.begin, row.end,
                              annotated ? "\t" : "", annotated ? row.countries : "")
                        .c_str());
    }
}

// Every row, in use or not, ends with its fields absent; only the copies are freed.
void ISBN_free_table() {
    for (std::size_t k = 0; k < ISBN_RANGE_MAX; ++k) {
        release_field(ISBN_range[k].begin, copies[k].begin);
        release_field(ISBN_range[k].end, copies[k].end);
        release_field(ISBN_range[k].countries, copies[k].countries);
    }
    ISBN_range_changed();
}
