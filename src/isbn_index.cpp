// The fast lookup of a key's covering row: an index over the range table that finds, with a
// bucket and a short binary search, the row that the walk in table order would find.
//
// Each row covers the keys whose first d ISBN characters (d = the width of its prefix) lie
// between its begin and end digits. Read as base-11 numbers of 8 places (x and X count 10, above
// every digit), the keys a row covers form one interval. The rows of each prefix are disjoint,
// and every 978 row comes before every 979 row, so the walk's first covering row is the only
// covering row of the 978 set, else of the 979 set: the index keeps one sorted table of
// intervals per prefix. It is built from the table on the first lookup after a change; a table
// whose rows overlap within a prefix, or that it cannot represent, takes the walk instead.

#include "characters.h"
#include "isbn.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace {

constexpr int PLACES = 8;
constexpr std::uint32_t SPACE = 214358881; // 11^8

// 11 to the power n, for n from 0 to 8.
std::uint32_t power_of_11(int n) {
    std::uint32_t p = 1;
    while (n-- > 0)
        p *= 11;
    return p;
}

// The keys a row covers, [low, high), and the row.
struct row_interval {
    std::uint32_t low;
    std::uint32_t high;
    std::int16_t row;
};

// Keys that agree in their first 3 characters share a bucket: 11^3 buckets of 11^5 keys.
constexpr std::uint32_t BUCKETS = 1331;
constexpr std::uint32_t BUCKET_WIDTH = SPACE / BUCKETS;

// The intervals of one prefix's rows, sorted and disjoint, and for each bucket the first
// interval that ends after the bucket's first key (count where there is none).
struct prefix_table {
    std::size_t count;
    std::array<row_interval, ISBN_RANGE_MAX> intervals;
    std::array<std::uint16_t, BUCKETS + 1> first;
};

enum class index_state { stale, ready, unusable };

index_state state = index_state::stale;
prefix_table table_978;
prefix_table table_979;

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
    return true;
}

// Builds the table of one prefix's rows; false when a row cannot be represented or two rows
// overlap. Rows whose begin starts with a hyphen take no part, as in the walk, nor do empty ones.
bool build_table(prefix_table &table, ISBN_rows rows) {
    ISBN_row_span span = ISBN_rows_of(rows);
    table.count = 0;
    for (std::size_t i = span.first; i < span.last; ++i) {
        row_interval interval{};
        if (ISBN_range[i].begin[0] == '-')
            continue;
        if (!row_interval_of(ISBN_range[i], interval))
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
    std::size_t k = 0;
    for (std::uint32_t b = 0; b <= BUCKETS; ++b) {
        while (k < table.count && table.intervals[k].high <= b * BUCKET_WIDTH)
            ++k;
        table.first[b] = static_cast<std::uint16_t>(k);
    }
    return true;
}

// Builds both tables from the range table as it is now, or marks the index unusable, so that
// lookups take the walk.
void build_index() {
    bool built = build_table(table_978, ISBN_rows::prefix_978) &&
                 build_table(table_979, ISBN_rows::prefix_979);
    state = built ? index_state::ready : index_state::unusable;
}

// The row of the table whose interval holds value, or nullptr. Only the intervals from the
// bucket's first to the next bucket's first can hold it.
const ISBN_range_row *look_up(const prefix_table &table, std::uint32_t value) {
    std::uint32_t bucket = value / BUCKET_WIDTH;
    std::size_t low = table.first[bucket];
    std::size_t high = std::min<std::size_t>(table.first[bucket + 1] + 1, table.count);
    const row_interval *begin = table.intervals.data();
    const row_interval *after = std::upper_bound(
        begin + low, begin + high, value,
        [](std::uint32_t v, const row_interval &interval) { return v < interval.low; });
    if (after == begin + low)
        return nullptr;
    return value < after[-1].high ? &ISBN_range[after[-1].row] : nullptr;
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

// The index is rebuilt on the next lookup.
void ISBN_range_changed() {
    state = index_state::stale;
}

// A key with fewer than 8 ISBN characters, which no valid range can place by its first 8, takes
// the walk like every key of a table the index cannot represent.
const ISBN_range_row *find_ISBN_range(const char *key, ISBN_rows rows) {
    if (state == index_state::stale)
        build_index();
    std::uint32_t value = 0;
    if (state != index_state::ready || !key_value(key, value))
        return walk_ISBN_range(key, rows);
    if (rows == ISBN_rows::prefix_979)
        return look_up(table_979, value);
    const ISBN_range_row *row = look_up(table_978, value);
    return row != nullptr || rows == ISBN_rows::prefix_978 ? row : look_up(table_979, value);
}
