// A test hook: puts other rows into the range table for the life of one object and restores
// the built-in rows afterwards, releasing whatever ISBN_initialize copied in between.
#pragma once

#include "isbn.h"
#include "table_upkeep.h"

#include <algorithm>
#include <array>
#include <initializer_list>

class swapped_table {
  public:
    // Keeps the built-in rows in place: for tests that change them in place.
    swapped_table() { std::copy(std::begin(ISBN_range), std::end(ISBN_range), saved.begin()); }

    // Replaces the whole table by rows (and absent rows after them).
    explicit swapped_table(std::initializer_list<ISBN_range_row> rows) : swapped_table() {
        std::fill(std::begin(ISBN_range), std::end(ISBN_range),
                  ISBN_range_row{nullptr, nullptr, nullptr});
        std::copy(rows.begin(), rows.end(), std::begin(ISBN_range));
        ISBN_range_changed();
    }

    ~swapped_table() {
        ISBN_free_table();
        std::copy(saved.begin(), saved.end(), std::begin(ISBN_range));
        ISBN_range_changed();
    }

    swapped_table(const swapped_table &) = delete;
    swapped_table &operator=(const swapped_table &) = delete;

  private:
    std::array<ISBN_range_row, ISBN_RANGE_MAX> saved;
};
