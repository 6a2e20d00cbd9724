// Upkeep of the built-in table's rows for the tests, which change them in place: validation,
// the dump and release of heap copies, and the table value of the rows as they stand.
#pragma once

#include "isbn.h"

// The table of the rows ISBN_range holds now, made again after ISBN_range_changed().
const range_table &test_table();

// Must be called after a test writes to ISBN_range, so that test_table() sees the change.
void ISBN_range_changed();

// Moves every text of the rows to the heap and validates each row, reporting and blanking
// malformed prefixes and non-increasing ranges on standard error.
void ISBN_initialize();

// Writes the whole table to standard error, one row a line, each group under its annotation.
void do_print_ISBN_table();

// Releases the heap copies that ISBN_initialize made and empties the table.
void ISBN_free_table();

// The lookups over test_table(), for tests that change ISBN_range in place.
inline const ISBN_range_row *find_ISBN_range(const char *key, ISBN_rows rows) {
    return find_ISBN_range(test_table(), key, rows);
}
inline const ISBN_range_row *walk_ISBN_range(const char *key, ISBN_rows rows) {
    return walk_ISBN_range(test_table(), key, rows);
}
inline ISBN_placement place_ISBN(const char *characters, std::size_t count, ISBN_parts &parts) {
    return place_ISBN(test_table(), characters, count, parts);
}
