// The fast lookup of a key's covering row: an index over the range table that finds, with a
// bucket and a short search, the row that the walk in table order would find.
//
// Each row covers the keys whose first d ISBN characters (d = the width of its prefix) lie
// between its begin and end digits. Read as base-11 numbers of 8 places (x and X count 10, above
// every digit), the keys a row covers form one interval. The rows of each prefix are disjoint,
// and every 978 row comes before every 979 row, so the walk's first covering row is the only
// covering row of the 978 set, else of the 979 set: the index keeps one sorted table of
// intervals per prefix. It is built with the table, which is never changed after; a table whose
// rows overlap within a prefix, or that it cannot represent, takes the walk instead.

#include "characters.h"
#include "isbn.h"
#include "scan.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

constexpr int PLACES = static_cast<int>(ISBN_PREFIX_DIGITS_MAX);
constexpr std::uint32_t SPACE = 214358881; // 11^8

// 11 to the power n, for n from 0 to 8.
std::uint32_t power_of_11(int n) {
    std::uint32_t p = 1;
    while (n-- > 0)
        p *= 11;
    return p;
}

// The keys a row covers, [low, high), the row, and the lengths of the group and publisher
// parts of its begin text where that is GROUP-PUBLISHER (group 0 otherwise).
struct row_interval {
    std::uint32_t low;
    std::uint32_t high;
    std::int16_t row;
    std::uint8_t group;
    std::uint8_t publisher;
};

// Keys that agree in their first 4 characters share a bucket: 11^4 buckets of 11^4 keys, few
// enough intervals in each for a short search.
constexpr std::uint32_t BUCKETS = 14641;
constexpr std::uint32_t BUCKET_WIDTH = SPACE / BUCKETS;

// The bucket search may read this many high ends from any interval on.
constexpr std::size_t HIGHS_READ = HIGHS_READ_AHEAD;

// The intervals of one prefix's rows, sorted and disjoint, and for each bucket the first
// interval that ends after the bucket's first key (count where there is none).
struct prefix_table {
    std::size_t count;
    std::array<row_interval, ISBN_RANGE_MAX> intervals;
    // The intervals' high ends again, packed for the search, and past count SPACE, which no
    // key reaches: a search may read HIGHS_READ of them from any interval on.
    std::array<std::int32_t, ISBN_RANGE_MAX + HIGHS_READ> highs;
    std::array<std::uint16_t, BUCKETS + 1> first;
};

// Reads the digits of one prefix text as ISBN characters, the way the range comparison
// extracts them. Returns false for texts the index cannot represent.
bool prefix_digits(const char *text, std::uint32_t &value, int &width) {
    value = 0;
    width = 0;
    for (; *text != '\0'; ++text) {
        if (*text >= '0' && *text <= '9') {
            if (++width > PLACES)
                return false;
            value = value * 11 + static_cast<std::uint32_t>(*text - '0');
        } else if (is_ISBN_character(*text)) {
            return false;
        }
    }
    return true;
}

// The keys a row covers, as an interval of 8-place numbers; empty when begin is above end.
// Returns false for a row the index cannot represent.
bool row_interval_of(const ISBN_range_row &row, row_interval &interval) {
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
    int begin_width = 0;
    int end_width = 0;
    if (row.end == nullptr || !prefix_digits(row.begin, begin, begin_width) ||
        !prefix_digits(row.end, end, end_width) || begin_width != end_width)
        return false;
    std::uint32_t scale = power_of_11(PLACES - begin_width);
    interval.low = begin * scale;
    interval.high = begin <= end ? (end + 1) * scale : interval.low;
    std::size_t group = std::strspn(row.begin, "0123456789");
    std::size_t publisher =
        row.begin[group] == '-' ? std::strspn(row.begin + group + 1, "0123456789") : 0;
    bool parts = group != 0 && publisher != 0 && row.begin[group + 1 + publisher] == '\0';
    interval.group = static_cast<std::uint8_t>(parts ? group : 0);
    interval.publisher = static_cast<std::uint8_t>(parts ? publisher : 0);
    return true;
}

// Builds the table of one prefix's rows; false when a row cannot be represented or two rows
// overlap. Rows whose begin starts with a hyphen take no part, as in the walk, nor do empty ones.
bool build_table(prefix_table &table, const range_table &rows_of, ISBN_rows rows) {
    ISBN_row_span span = ISBN_rows_of(rows_of, rows);
    table.count = 0;
    for (std::size_t i = span.first; i < span.last; ++i) {
        row_interval interval{};
        if (rows_of.rows[i].begin[0] == '-')
            continue;
        if (!row_interval_of(rows_of.rows[i], interval))
            return false;
        if (interval.low == interval.high)
            continue;
        interval.row = static_cast<std::int16_t>(i);
        table.intervals[table.count++] = interval;
    }
    auto end = table.intervals.begin() + static_cast<std::ptrdiff_t>(table.count);
    std::sort(table.intervals.begin(), end,
              [](const row_interval &a, const row_interval &b) { return a.low < b.low; });
    for (std::size_t i = 1; i < table.count; ++i)
        if (table.intervals[i].low < table.intervals[i - 1].high)
            return false;
    for (std::size_t i = 0; i < table.count + HIGHS_READ; ++i)
        table.highs[i] =
            static_cast<std::int32_t>(i < table.count ? table.intervals[i].high : SPACE);
    std::size_t k = 0;
    for (std::uint32_t b = 0; b <= BUCKETS; ++b) {
        while (k < table.count && table.intervals[k].high <= b * BUCKET_WIDTH)
            ++k;
        table.first[b] = static_cast<std::uint16_t>(k);
    }
    return true;
}

// The interval of the table that holds value, or nullptr: the first interval that ends after
// value, searched from the first one that ends after the bucket's first key by the kernel room's
// bucket search.
const row_interval *look_up(const prefix_table &table, std::uint32_t value) {
    std::size_t k = first_high_above(table.highs.data(), table.first[value / BUCKET_WIDTH], value);
    return k < table.count && table.intervals[k].low <= value ? &table.intervals[k] : nullptr;
}

// The key's first 8 ISBN characters as a base-11 number; false if it has fewer.
bool key_value(const char *key, std::uint32_t &value) {
    value = 0;
    int n = 0;
    for (; *key != '\0' && n < PLACES; ++key) {
        if (is_ISBN_character(*key)) {
            value = value * 11 + static_cast<std::uint32_t>(ISBN_character_value(*key));
            ++n;
        }
    }
    return n == PLACES;
}

} // namespace

// The two tables of intervals, of 978 and of 979, on cache lines of their own: made on the heap
// with the 16-byte alignment of plain new, the bucket search's reads straddled lines, and the
// dense corpus took 1.14 times as long for the same instructions (medians of 21 interleaved
// rounds).
struct alignas(64) range_index {
    prefix_table of_978;
    prefix_table of_979;
};

void range_index_deleter::operator()(range_index *index) const {
    delete index;
}

namespace {

// The index of a table's rows, or nullptr where it cannot represent them or memory ran out: the
// lookups then take the walk, which needs nothing more.
range_index *build_index(const range_table &table) {
    auto *index = new (std::nothrow) range_index;
    if (index != nullptr && build_table(index->of_978, table, ISBN_rows::prefix_978) &&
        build_table(index->of_979, table, ISBN_rows::prefix_979))
        return index;
    delete index;
    return nullptr;
}

// The row of a lookup, or nullptr.
const ISBN_range_row *row_of(const range_table &table, const row_interval *interval) {
    return interval == nullptr ? nullptr : &table.rows[static_cast<std::size_t>(interval->row)];
}

} // namespace

bool make_ISBN_table(range_table &table, const ISBN_range_row *rows, std::size_t capacity,
                     std::size_t first_979_row) {
    table = range_table{};
    std::size_t used = 0;
    while (used < capacity && rows[used].begin != nullptr)
        ++used;
#if __cpp_exceptions
    try {
        table.rows.assign(rows, rows + used);
    } catch (const std::bad_alloc &) {
        return false;
    }
#else
    table.rows.assign(rows, rows + used);
#endif
    table.first_979_row = first_979_row;
    table.index.reset(build_index(table));
    return true;
}

// Made once, on first use, and never changed after: C++ makes the first use safe on any thread.
const range_table &built_in_ISBN_table() {
    static const range_table table = [] {
        range_table made;
        make_ISBN_table(made, ISBN_range, ISBN_RANGE_MAX, ISBN_range_979_first_row);
        return made;
    }();
    return table;
}

// A key with fewer than 8 ISBN characters, which no valid range can place by its first 8, takes
// the walk like every key of a table the index cannot represent.
const ISBN_range_row *find_ISBN_range(const range_table &table, const char *key, ISBN_rows rows) {
    std::uint32_t value = 0;
    const range_index *index = table.index.get();
    if (index == nullptr || !key_value(key, value))
        return walk_ISBN_range(table, key, rows);
    if (rows == ISBN_rows::prefix_979)
        return row_of(table, look_up(index->of_979, value));
    const row_interval *found = look_up(index->of_978, value);
    return found != nullptr || rows == ISBN_rows::prefix_978
               ? row_of(table, found)
               : row_of(table, look_up(index->of_979, value));
}

// The key is the 8 characters after the prefix as one base-11 number, read from a 64-bit word:
// byte values become 0 to 10 ('x' and 'X' are the only bytes above '9'), then neighbours are
// combined pairwise three times, most significant first. With at most 8 digits in a row's begin
// text, the title part is never empty.
ISBN_placement place_ISBN(const range_table &ranges, const char *characters, std::size_t count,
                          ISBN_parts &parts) {
    const range_index *index = ranges.index.get();
    if (index == nullptr)
        return ISBN_placement::ask_the_walk;
    const prefix_table *table = &index->of_978;
    parts.prefix = 0;
    if (count == 13) {
        ISBN_rows rows = ISBN_13_rows(characters);
        if (rows == ISBN_rows::all)
            return ISBN_placement::ask_the_walk;
        table = rows == ISBN_rows::prefix_978 ? &index->of_978 : &index->of_979;
        parts.prefix = 3;
    }
    std::uint64_t word = 0;
    std::memcpy(&word, characters + parts.prefix, 8);
    constexpr std::uint64_t ONES = 0x0101010101010101;
    word -= '0' * ONES;
    std::uint64_t above_9 = ((word + 0x76 * ONES) & 0x80 * ONES) >> 7; // 1 in each X byte
    word = (word & ~(above_9 * 0xFF)) | above_9 * 10;
    // The first byte, the most significant digit, is to be the lowest byte of the word.
    if constexpr (std::endian::native == std::endian::big)
        word = __builtin_bswap64(word);
    word = (word & 0x00FF00FF00FF00FF) * 11 + ((word >> 8) & 0x00FF00FF00FF00FF);
    word = (word & 0x0000FFFF0000FFFF) * 121 + ((word >> 16) & 0x0000FFFF0000FFFF);
    auto value = static_cast<std::uint32_t>((word & 0xFFFFFFFF) * 14641 + (word >> 32));
    const row_interval *found = look_up(*table, value);
    if (found == nullptr)
        return ISBN_placement::not_placed;
    if (found->group == 0)
        return ISBN_placement::ask_the_walk;
    parts.group = found->group;
    parts.publisher = found->publisher;
    return ISBN_placement::placed;
}
