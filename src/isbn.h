// The ISBN range table, the lookup of a candidate's range, and hyphenation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

struct orvane_run;

// One publisher range of a registration group. begin and end are prefixes such as "0-200" and
// "0-227"; countries annotates the first row of each group and is "" on the others. A row whose
// begin is absent ends the table.
struct ISBN_range_row {
    const char *begin;
    const char *end;
    const char *countries;
};

constexpr std::size_t ISBN_RANGE_MAX = 2560;

// The most digits a group-and-publisher prefix holds, so that at least two remain for an
// ISBN-10's title and check digit.
constexpr std::size_t ISBN_PREFIX_DIGITS_MAX = 8;

// The built-in table's data, generated from the range data file: rows in table order, the
// groups of 978 and then those of 979, ending at the first row without begin. Rows before
// ISBN_range_979_first_row belong to the groups of 978. The filter reads them only through the
// built-in table value (below), made from them once.
extern ISBN_range_row ISBN_range[ISBN_RANGE_MAX];
extern std::size_t ISBN_range_979_first_row;

// A range table as a value: its rows in table order and the index that finds a key's row. It is
// made whole and then only read, so runs on any thread may share one, and a new table is made
// beside the old one, which a failure leaves as it was. The rows' texts belong to whoever made
// the rows, or, for a table made from an export, to the table itself.
struct range_index;
struct range_index_deleter {
    void operator()(range_index *index) const;
};
struct range_table {
    std::vector<ISBN_range_row> rows; // the rows in use
    std::size_t first_979_row = 0;    // rows from here on belong to the groups of 979
    std::unique_ptr<range_index, range_index_deleter> index; // nullptr: lookups take the walk
    std::deque<std::string> texts;                           // the texts of an export's rows
};

// Makes table of the rows before the first row without begin (at most capacity), the rows from
// first_979_row on being those of 979. The texts stay the caller's. Returns false where memory
// ran out; the table is then empty. (In a build without exceptions, the page's module, memory
// that runs out ends the program instead, as every allocation's failure there does: the worker
// then makes a new module with the table that was in use.)
bool make_ISBN_table(range_table &table, const ISBN_range_row *rows, std::size_t capacity,
                     std::size_t first_979_row);

// The table of the built-in ranges, made on first use and shared by every run.
const range_table &built_in_ISBN_table();

// Which rows a lookup searches: all of them, or those of one prefix's groups.
enum class ISBN_rows { all, prefix_978, prefix_979 };

// The rows that place an ISBN-13 by its first three characters: the groups of 978 or of 979,
// or all groups for any other prefix. Inline: the filter asks it for every ISBN-13.
inline ISBN_rows ISBN_13_rows(const char *characters) {
    if (characters[0] != '9' || characters[1] != '7')
        return ISBN_rows::all;
    return characters[2] == '8'   ? ISBN_rows::prefix_978
           : characters[2] == '9' ? ISBN_rows::prefix_979
                                  : ISBN_rows::all;
}

// The rows [first, last) of a set, in the table's rows.
struct ISBN_row_span {
    std::size_t first;
    std::size_t last;
};
ISBN_row_span ISBN_rows_of(const range_table &table, ISBN_rows rows);

// Returns -1, 0 or +1 as the candidate's leading ISBN characters, taken to the width of the
// range's prefix, lie below, inside or above the range from begin to end.
int compare_ISBN_range(const char *begin, const char *candidate, const char *end);

// Returns the first row of the set that covers key, or nullptr. Fast, and always the same row
// as walk_ISBN_range.
const ISBN_range_row *find_ISBN_range(const range_table &table, const char *key, ISBN_rows rows);

// The same lookup as a plain walk over the rows in table order.
const ISBN_range_row *walk_ISBN_range(const range_table &table, const char *key, ISBN_rows rows);

// Where the hyphens of a lone candidate go: the lengths of its 978/979 prefix (0 for an
// ISBN-10), group and publisher parts.
struct ISBN_parts {
    unsigned prefix;
    unsigned group;
    unsigned publisher;
};

enum class ISBN_placement { placed, not_placed, ask_the_walk };

// The answer of the index alone for a candidate of exactly 10 or 13 ISBN characters and nothing
// else, at the start of a buffer of ISBN_BUFFER_SIZE bytes (below): placed (with its parts), not
// placed by any row, or ask_the_walk where only the text walk of hyphenate_ISBN_10/13 can say (a
// prefix other than 978 and 979, a table the index cannot represent, a row whose begin text is not
// GROUP-PUBLISHER). Where it answers, it is what the text walk makes of the same candidate.
ISBN_placement place_ISBN(const range_table &table, const char *characters, std::size_t count,
                          ISBN_parts &parts);

// The length of the form of a placed candidate: its characters and 3 or 4 hyphens.
constexpr std::size_t ISBN_form_length(std::size_t count, const ISBN_parts &parts) {
    return count + (parts.prefix != 0 ? 4 : 3);
}

// The size of the buffers that place_ISBN and format_ISBN work on: a candidate's characters
// stand at the start of one, and its form is built at the start of another. Whatever follows
// the characters is read and never used; the bytes past the form may be overwritten.
constexpr std::size_t ISBN_BUFFER_SIZE = 32;

// Writes the form of a placed candidate, [prefix-]group-publisher-title-check, ISBN_form_length
// bytes without a terminating NUL. characters and form each hold ISBN_BUFFER_SIZE bytes. Each
// part goes with the rest of the candidate behind it, in one 16-byte copy shifted past the
// hyphens before it, and the next part's copy overwrites that rest: no loop, no branch, as the
// filter calls it for every ISBN. An ISBN-10's hyphen after the (empty) prefix lands on the first
// byte, which the group's copy then overwrites.
inline void format_ISBN(const char *characters, std::size_t count, const ISBN_parts &parts,
                        char *form) {
    std::size_t shift = parts.prefix != 0 ? 1 : 0; // hyphens so far, after the prefix's
    std::size_t group = parts.prefix;
    std::size_t publisher = group + parts.group;
    std::size_t title = publisher + parts.publisher;
    std::size_t check = count - 1;
    std::memcpy(form, characters, 16);
    form[group] = '-';
    std::memcpy(form + group + shift, characters + group, 16);
    form[publisher + shift] = '-';
    std::memcpy(form + publisher + shift + 1, characters + publisher, 16);
    form[title + shift + 1] = '-';
    std::memcpy(form + title + shift + 2, characters + title, 16);
    form[check + shift + 2] = '-';
    form[check + shift + 3] = characters[check];
}

// Warns on line of the input named name about a 13-character number whose prefix is neither 978
// nor 979, quoting its count ISBN characters; offset is the number's place in the input.
void report_ISBN_13_prefix(orvane_run &run, const char *name, std::int64_t line,
                           std::uint64_t offset, const char *characters, std::size_t count);

// Rewrites text in place, hyphenating every ISBN-10 (or ISBN-13) in it that the run's table
// places; a prefix other than 978 and 979 is warned about on the run's line. text and output
// must each hold limit bytes; if the result would not stay shorter than limit, text is left as
// it was.
void hyphenate_ISBN_10(orvane_run &run, char *text, char *output, std::size_t limit);
void hyphenate_ISBN_13(orvane_run &run, char *text, char *output, std::size_t limit);

struct range_message;

// Makes table of the groups of an agency range export (see range_message.h), in table order,
// annotated as the built-in table is but for the country codes ("??"). Returns false where
// memory ran out; the table is then empty, and nothing else changed.
bool make_ISBN_table(range_table &table, const range_message &message);
