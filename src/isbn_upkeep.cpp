// Upkeep of the range table as a whole: copying it to the heap with validation, printing it,
// and releasing the copies.

#include "diagnostics.h"
#include "isbn.h"
#include "range_message.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iterator>
#include <string>
#include <vector>

namespace {

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

// A broken table invariant is a programming error: report it and abort, in every build.
[[noreturn]] void assertion_failed(const char *expression, const char *function, int line) {
    report_text(formatted("Assertion failed: (%s), function %s, file isbn_upkeep.cpp, line %d.\n",
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

// The texts of a table loaded at run time; a deque never moves what it holds.
std::deque<std::string> loaded_texts;

const char *keep(std::string text) {
    return loaded_texts.emplace_back(std::move(text)).c_str();
}

// The annotation of a group's first row, in the form of the built-in table; the country code
// needs data that only the build has.
std::string annotation(const range_group &group) {
    std::string publishers;
    for (const auto &[low, high] : group.ranges)
        publishers += (publishers.empty() ? "" : "; ") + low + " - " + high;
    return "Region name:     " + group.name +
           "\tCountry code(s): ??\tLanguage group:  " + group.digits +
           "\tPublisher(s):    " + publishers;
}

// The rows as they were before the first export was loaded, so that they can be put back.
ISBN_range_row rows_before_loading[ISBN_RANGE_MAX];
std::size_t first_979_row_before_loading = 0;
bool rows_saved = false;

} // namespace

// Table order, as the generator of the built-in table has it: the groups of 978 in byte order
// of their digits, then those of 979, each group's ranges in byte order.
void ISBN_load_range_message(const range_message &message) {
    if (!rows_saved) {
        std::copy(std::begin(ISBN_range), std::end(ISBN_range), rows_before_loading);
        first_979_row_before_loading = ISBN_range_979_first_row;
        rows_saved = true;
    }
    std::vector<const range_group *> order;
    for (const range_group &group : message.groups)
        order.push_back(&group);
    std::stable_sort(order.begin(), order.end(), [](const range_group *a, const range_group *b) {
        return a->prefix != b->prefix ? a->prefix < b->prefix : a->digits < b->digits;
    });
    loaded_texts.clear();
    std::size_t n = 0;
    ISBN_range_979_first_row = 0;
    for (const range_group *group : order) {
        if (group->prefix == "978")
            ISBN_range_979_first_row = n + group->ranges.size();
        auto ranges = group->ranges;
        std::sort(ranges.begin(), ranges.end());
        for (std::size_t i = 0; i < ranges.size(); ++i, ++n)
            ISBN_range[n] = {keep(group->digits + "-" + ranges[i].first),
                             keep(group->digits + "-" + ranges[i].second),
                             keep(i == 0 ? annotation(*group) : "")};
    }
    for (std::size_t k = n; k < ISBN_RANGE_MAX; ++k)
        ISBN_range[k] = {nullptr, nullptr, nullptr};
    ISBN_range_changed();
}

void ISBN_restore_table() {
    if (!rows_saved)
        return;
    std::copy(std::begin(rows_before_loading), std::end(rows_before_loading), ISBN_range);
    ISBN_range_979_first_row = first_979_row_before_loading;
    ISBN_range_changed();
    loaded_texts.clear();
}

// Copies first, then validates, so that blanking never meets a static text. Copies made by an
// earlier call are freed as the new ones replace them, and those of rows no longer in use too.
void ISBN_initialize() {
    std::size_t n = ISBN_rows_of(ISBN_rows::all).last;
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
    std::size_t n = ISBN_rows_of(ISBN_rows::all).last;
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
