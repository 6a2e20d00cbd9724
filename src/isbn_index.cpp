// The fast lookup of a key's covering row: an index over the range table that finds, with a
// bucket and a short binary search, the row that the walk in table order would find.
//
// Each row covers the keys whose first d ISBN characters (d = the width of its prefix) lie
// between its begin and end digits. Read as base-11 numbers of 8 places (x and X count 10, above
// every digit), the keys a row covers form one interval. The index cuts the number line at every
// interval's ends and stores, per piece, the lowest row number that covers it. It is built from
// the table on the first lookup after a change, and only for a table it can represent exactly:
// otherwise lookups fall back to the walk.

#include "characters.h"
#include "isbn.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace {

constexpr int PLACES = 8;
constexpr std::uint32_t SPACE = 214358881; // 11^8
constexpr std::size_t SET_COUNT = 3;
constexpr std::size_t MAX_PIECES = 2 * ISBN_RANGE_MAX + 1;
constexpr std::int16_t NO_ROW = -1;

// 11 to the power n, for n from 0 to 8.
std::uint32_t power_of_11(int n) {
    std::uint32_t p = 1;
    while (n-- > 0)
        p *= 11;
    return p;
}

struct row_interval {
    std::uint32_t low;  // first key covered
    std::uint32_t high; // one past the last key covered
};

// Keys that agree in their first 3 characters share a bucket: 11^3 buckets of 11^5 keys.
constexpr std::uint32_t BUCKETS = 1331;
constexpr std::uint32_t BUCKET_WIDTH = SPACE / BUCKETS;

// For one set of rows: the pieces of the number line, sorted by their start, the covering row
// of each piece, and for each bucket the piece that holds the bucket's first key.
struct piece_table {
    std::size_t count;
    std::array<std::uint32_t, MAX_PIECES> start;
    std::array<std::int16_t, MAX_PIECES> row;
    std::array<std::uint16_t, BUCKETS> first_piece;
};

enum class index_state { stale, ready, unusable };

index_state state = index_state::stale;
std::array<piece_table, SET_COUNT> sets;

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
    if (!prefix_digits(row.begin, begin, begin_width) || !prefix_digits(row.end, end, end_width) ||
        begin_width != end_width)
        return false;
    std::uint32_t scale = power_of_11(PLACES - begin_width);
    interval.low = begin * scale;
    interval.high = begin <= end ? (end + 1) * scale : interval.low;
    return true;
}

// Builds one set's pieces from the intervals of rows [first, last); rows whose begin starts
// with a hyphen take no part, as in the walk.
void build_set(piece_table &set, const row_interval *intervals, std::size_t first,
               std::size_t last) {
    std::array<std::uint32_t, MAX_PIECES> cuts;
    std::size_t n = 0;
    cuts[n++] = 0;
    for (std::size_t i = first; i < last; ++i) {
        if (ISBN_range[i].begin[0] == '-')
            continue;
        cuts[n++] = intervals[i].low;
        cuts[n++] = intervals[i].high;
    }
    std::sort(cuts.begin(), cuts.begin() + static_cast<std::ptrdiff_t>(n));
    n = static_cast<std::size_t>(
        std::unique(cuts.begin(), cuts.begin() + static_cast<std::ptrdiff_t>(n)) - cuts.begin());
    set.count = n;
    std::copy(cuts.begin(), cuts.begin() + static_cast<std::ptrdiff_t>(n), set.start.begin());
    std::fill(set.row.begin(), set.row.begin() + static_cast<std::ptrdiff_t>(n), NO_ROW);
    // Rows in table order paint the pieces that no earlier row covers; next_free skips the
    // painted ones, so each piece is painted once.
    std::array<std::uint32_t, MAX_PIECES + 1> next_free;
    for (std::size_t i = 0; i <= n; ++i)
        next_free[i] = static_cast<std::uint32_t>(i);
    auto find_free = [&](std::uint32_t i) {
        std::uint32_t root = i;
        while (next_free[root] != root)
            root = next_free[root];
        while (next_free[i] != root) {
            std::uint32_t next = next_free[i];
            next_free[i] = root;
            i = next;
        }
        return root;
    };
    // The piece that starts at a cut.
    auto piece = [&](std::uint32_t cut) {
        return static_cast<std::uint32_t>(
            std::lower_bound(set.start.begin(), set.start.begin() + static_cast<std::ptrdiff_t>(n),
                             cut) -
            set.start.begin());
    };
    for (std::size_t i = first; i < last; ++i) {
        if (ISBN_range[i].begin[0] == '-' || intervals[i].low == intervals[i].high)
            continue;
        std::uint32_t stop = piece(intervals[i].high);
        for (std::uint32_t p = find_free(piece(intervals[i].low)); p < stop; p = find_free(p)) {
            set.row[p] = static_cast<std::int16_t>(i);
            next_free[p] = p + 1;
        }
    }
    std::size_t p = 0;
    for (std::uint32_t b = 0; b < BUCKETS; ++b) {
        while (p + 1 < n && set.start[p + 1] <= b * BUCKET_WIDTH)
            ++p;
        set.first_piece[b] = static_cast<std::uint16_t>(p);
    }
}

// Builds the three sets of pieces from the table as it is now, or marks the index unusable
// when a row in use cannot be represented, so that lookups take the walk.
void build_index() {
    static std::array<row_interval, ISBN_RANGE_MAX> intervals;
    std::size_t used = 0;
    for (; used < ISBN_RANGE_MAX && ISBN_range[used].begin != nullptr; ++used) {
        const ISBN_range_row &row = ISBN_range[used];
        if (row.begin[0] != '-' && (row.end == nullptr || !row_interval_of(row, intervals[used]))) {
            state = index_state::unusable;
            return;
        }
    }
    std::size_t boundary = std::min(ISBN_RANGE_979_FIRST_ROW, used);
    build_set(sets[static_cast<std::size_t>(ISBN_rows::all)], intervals.data(), 0, used);
    build_set(sets[static_cast<std::size_t>(ISBN_rows::prefix_978)], intervals.data(), 0, boundary);
    build_set(sets[static_cast<std::size_t>(ISBN_rows::prefix_979)], intervals.data(), boundary,
              used);
    state = index_state::ready;
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
    const piece_table &set = sets[static_cast<std::size_t>(rows)];
    // The piece that holds value lies between the first pieces of its bucket and the next.
    std::uint32_t bucket = value / BUCKET_WIDTH;
    std::size_t low = set.first_piece[bucket];
    std::size_t high = bucket + 1 < BUCKETS ? set.first_piece[bucket + 1] + 1 : set.count;
    const std::uint32_t *start = set.start.data();
    std::size_t p =
        static_cast<std::size_t>(std::upper_bound(start + low + 1, start + high, value) - start) -
        1;
    std::int16_t row = set.row[p];
    return row == NO_ROW ? nullptr : &ISBN_range[row];
}
