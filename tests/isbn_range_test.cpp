#include "isbn.h"

#include "test_support.h"
#include <cstring>

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

TEST(CompareISBNRange, BelowInsideAbove) {
    struct {
        const char *begin, *candidate, *end;
        int expected;
    } cases[] = {
        {"0-200", "0201633612", "0-227", 0},
        {"0-200", "0199999999", "0-227", -1},
        {"0-200", "0228000000", "0-227", 1},
        {"0-200", "0200", "0-227", 0},
        {"0-200", "0 2-0a1633612", "0-227", 0},
        {"", "anything", "", 0},
        {"", "", "", 0},
        // Fewer characters than the prefix width: below a row whose first digits it matches.
        {"0-200", "02", "0-227", -1},
        // An x or X compares above every digit.
        {"0-200", "02X", "0-227", 1},
        {"99901-80", "9990180016", "99901-99", 0},
        {"99901-500", "9990180016", "99901-799", 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(compare_ISBN_range(c.begin, c.candidate, c.end), c.expected)
            << c.begin << " " << c.candidate << " " << c.end;
}

namespace {

// The data file's groups in table order: the 978 groups in byte order of their digits, then the
// 979 groups likewise.
std::vector<data_group> groups_in_table_order() {
    std::vector<data_group> groups = read_range_data();
    std::stable_sort(groups.begin(), groups.end(), [](const data_group &a, const data_group &b) {
        return a.prefix != b.prefix ? a.prefix < b.prefix : a.digits < b.digits;
    });
    return groups;
}

} // namespace

// The row order the lookup depends on: every group of the data file in table order, each
// beginning with its annotated row, and the 979 rows from ISBN_range_979_first_row on.
TEST(ISBNRangeTable, HoldsTheGroupsInTableOrder) {
    std::vector<data_group> groups = groups_in_table_order();
    ASSERT_FALSE(groups.empty()) << "cannot read the data file";
    std::vector<std::string> want;
    std::size_t rows_978 = 0;
    std::size_t rows = 0;
    for (const data_group &g : groups) {
        want.push_back(g.prefix + "-" + g.digits);
        rows += g.ranges.size();
        rows_978 += g.prefix == "978" ? g.ranges.size() : 0;
    }
    std::vector<std::string> got;
    std::size_t n = 0;
    for (; n < ISBN_RANGE_MAX && ISBN_range[n].begin != nullptr; ++n) {
        std::string begin = ISBN_range[n].begin;
        std::string group =
            (n < ISBN_range_979_first_row ? "978-" : "979-") + begin.substr(0, begin.find('-'));
        if (got.empty() || got.back() != group) {
            got.push_back(group);
            EXPECT_STRNE(ISBN_range[n].countries, "") << begin;
        } else {
            EXPECT_STREQ(ISBN_range[n].countries, "") << begin;
        }
    }
    EXPECT_EQ(got, want);
    EXPECT_EQ(n, rows);
    EXPECT_EQ(ISBN_range_979_first_row, rows_978);
}

// Each group's rows are the data file's ranges in byte order, and its first row carries the
// annotation: region, country code, group digits and the list of its publisher ranges.
TEST(ISBNRangeTable, GroupsRowForRow) {
    std::size_t row = 0;
    for (data_group g : groups_in_table_order()) {
        std::sort(g.ranges.begin(), g.ranges.end());
        std::string publishers;
        for (const auto &[low, high] : g.ranges)
            publishers += (publishers.empty() ? "" : "; ") + low + " - " + high;
        std::string annotation = "Region name:     " + g.name + "\tCountry code(s): " + g.country +
                                 "\tLanguage group:  " + g.digits +
                                 "\tPublisher(s):    " + publishers;
        for (std::size_t i = 0; i < g.ranges.size(); ++i, ++row) {
            ASSERT_NE(ISBN_range[row].begin, nullptr) << "the table ends in group " << g.digits;
            EXPECT_EQ(ISBN_range[row].begin, g.digits + "-" + g.ranges[i].first);
            EXPECT_EQ(ISBN_range[row].end, g.digits + "-" + g.ranges[i].second);
            EXPECT_EQ(ISBN_range[row].countries, i == 0 ? annotation : "");
        }
    }
    EXPECT_EQ(ISBN_range[row].begin, nullptr);
}

namespace {

// Keys of 10 ISBN characters: every row's first and last keys, keys just outside each row, and
// 30,000 random keys (X and x among them).
std::vector<std::string> lookup_keys() {
    std::vector<std::string> keys;
    for (std::size_t i = 0; i < ISBN_RANGE_MAX && ISBN_range[i].begin != nullptr; ++i) {
        for (const char *prefix : {ISBN_range[i].begin, ISBN_range[i].end}) {
            std::string digits;
            for (const char *p = prefix; *p != '\0'; ++p)
                if (*p != '-')
                    digits += *p;
            keys.push_back(digits + std::string(10 - digits.size(), '0'));
            keys.push_back(digits + std::string(10 - digits.size(), '9'));
            keys.push_back(digits + std::string(10 - digits.size(), 'X'));
            // Just outside: the neighbours of the prefix.
            std::string up = digits;
            std::string down = digits;
            for (std::size_t k = up.size(); k-- > 0;) {
                if (up[k] != '9') {
                    ++up[k];
                    break;
                }
                up[k] = '0';
            }
            for (std::size_t k = down.size(); k-- > 0;) {
                if (down[k] != '0') {
                    --down[k];
                    break;
                }
                down[k] = '9';
            }
            keys.push_back(up + std::string(10 - up.size(), '0'));
            keys.push_back(down + std::string(10 - down.size(), '9'));
        }
    }
    std::mt19937 rng(11);
    for (int i = 0; i < 30000; ++i) {
        std::string key;
        for (int k = 0; k < 10; ++k) {
            auto r = rng() % 23;
            key += r < 20 ? static_cast<char>('0' + r % 10) : r == 20 ? 'X' : r == 21 ? 'x' : '9';
        }
        keys.push_back(key);
    }
    return keys;
}

} // namespace

// The index must find exactly the row that the walk in table order finds.
TEST(FindISBNRange, AgreesWithTheWalk) {
    for (const std::string &key : lookup_keys())
        for (ISBN_rows rows : {ISBN_rows::all, ISBN_rows::prefix_978, ISBN_rows::prefix_979})
            ASSERT_EQ(find_ISBN_range(key.c_str(), rows), walk_ISBN_range(key.c_str(), rows))
                << key << " in set " << static_cast<int>(rows);
}

// The index's answer for a lone candidate is what the text walk of hyphenation makes of it.
TEST(PlaceISBN, AgreesWithTheHyphenationWalk) {
    for (const std::string &key : lookup_keys()) {
        for (const std::string &candidate : {key, "978" + key, "979" + key}) {
            ISBN_parts parts{};
            char characters[ISBN_BUFFER_SIZE] = {};
            std::memcpy(characters, candidate.data(), candidate.size());
            ISBN_placement placement = place_ISBN(characters, candidate.size(), parts);
            char text[32];
            char scratch[32];
            std::memcpy(text, candidate.c_str(), candidate.size() + 1);
            if (candidate.size() == 10)
                hyphenate_ISBN_10(test_run(), text, scratch, sizeof text);
            else
                hyphenate_ISBN_13(test_run(), text, scratch, sizeof text);
            ASSERT_NE(placement, ISBN_placement::ask_the_walk) << candidate;
            if (placement == ISBN_placement::not_placed) {
                ASSERT_EQ(text, candidate);
                continue;
            }
            char form[ISBN_BUFFER_SIZE];
            format_ISBN(characters, candidate.size(), parts, form);
            ASSERT_EQ(std::string(form, ISBN_form_length(candidate.size(), parts)), text)
                << candidate;
        }
    }
    // A prefix other than 978 and 979 is left to the walk, which also warns.
    ISBN_parts parts{};
    char characters[ISBN_BUFFER_SIZE] = "4000201633614";
    EXPECT_EQ(place_ISBN(characters, 13, parts), ISBN_placement::ask_the_walk);
}

TEST(FindISBNRange, KeepsToThePrefixGroups) {
    // Group 82 precedes 979-8 in the table; 8730007796 is covered by no row of group 87.
    EXPECT_STREQ(find_ISBN_range("8200000000", ISBN_rows::all)->begin, "82-00");
    EXPECT_STREQ(find_ISBN_range("8730007796", ISBN_rows::all)->begin, "8-5500");
    EXPECT_EQ(find_ISBN_range("8730007796", ISBN_rows::prefix_978), nullptr);
    EXPECT_STREQ(find_ISBN_range("1000000000", ISBN_rows::prefix_979)->begin, "10-00");
    EXPECT_STREQ(find_ISBN_range("1000000000", ISBN_rows::prefix_978)->begin, "1-000");
}
