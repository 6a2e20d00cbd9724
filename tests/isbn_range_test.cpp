#include "isbn.h"

#include <cstring>
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

// The row order the lookup depends on: every group begins with its annotated row, 978 groups
// in byte order, then the 979 groups 10, 11, 12 and 8.
TEST(ISBNRangeTable, HoldsTheGroupsInTableOrder) {
    const char *expected_groups[] = {
        "0",   "1",   "2",   "3",   "4",   "5",   "600", "601", "602", "603", "604", "605",
        "606", "607", "608", "609", "612", "613", "614", "615", "616", "617", "618", "619",
        "620", "621", "622", "623", "624", "625", "626", "65",  "7",   "80",  "81",  "82",
        "83",  "84",  "85",  "86",  "87",  "88",  "89",  "90",  "91",  "92",  "93",  "94"};
    std::vector<std::string> want(std::begin(expected_groups), std::end(expected_groups));
    auto add_range = [&](int low, int high) {
        for (int g = low; g <= high; ++g)
            want.push_back(std::to_string(g));
    };
    add_range(950, 989);
    add_range(9914, 9968);
    add_range(9970, 9989);
    for (const char *g : {"99901", "99903", "99904", "99905", "99906", "99908"})
        want.push_back(g);
    add_range(99909, 99950);
    add_range(99952, 99983);
    for (const char *g : {"99985", "99986", "99987", "10", "11", "12", "8"})
        want.push_back(g);
    ASSERT_EQ(want.size(), 250u);

    std::vector<std::string> got;
    std::size_t rows = 0;
    for (; rows < ISBN_RANGE_MAX && ISBN_range[rows].begin != nullptr; ++rows) {
        std::string begin = ISBN_range[rows].begin;
        std::string group = begin.substr(0, begin.find('-'));
        if (got.empty() || got.back() != group) {
            got.push_back(group);
            EXPECT_STRNE(ISBN_range[rows].countries, "") << begin;
        } else {
            EXPECT_STREQ(ISBN_range[rows].countries, "") << begin;
        }
    }
    EXPECT_EQ(got, want);
    EXPECT_EQ(rows, 1305u);
    EXPECT_STREQ(ISBN_range[ISBN_range_979_first_row].begin, "10-00");
    EXPECT_STREQ(ISBN_range[ISBN_range_979_first_row - 1].begin, "99987-850");
}

TEST(ISBNRangeTable, GroupsRowForRow) {
    struct {
        const char *group;
        const char *annotation;
    } groups[] = {
        {"0", "Region name:     English language\tCountry code(s): ??\tLanguage group:  "
              "0\tPublisher(s):    "
              "00 - 19; 200 - 227; 2280 - 2289; 229 - 368; 3690 - 3699; 370 - 638; 6390 - 6397; "
              "6398000 - "
              "6399999; 640 - 644; 6450000 - 6459999; 646 - 647; 6480000 - 6489999; 649 - 654; "
              "6550 - 6559; "
              "656 - 699; 7000 - 8499; 85000 - 89999; 900000 - 949999; 9500000 - 9999999"},
        {"1",
         "Region name:     English language\tCountry code(s): ??\tLanguage group:  "
         "1\tPublisher(s):    "
         "000 - 009; 01 - 02; 030 - 034; 0350 - 0399; 04 - 06; 0700 - 0999; 100 - 397; 3980 - "
         "5499; "
         "55000 - 64999; 6500 - 6799; 68000 - 68599; 6860 - 7139; 714 - 716; 7170 - 7319; 7320000 "
         "- "
         "7399999; 74000 - 77499; 7750000 - 7753999; 77540 - 77639; 7764000 - 7764999; 77650 - "
         "77699; "
         "7770000 - 7782999; 77830 - 78999; 7900 - 7999; 80000 - 80049; 80050 - 80499; 80500 - "
         "83799; "
         "8380000 - 8384999; 83850 - 86719; 8672 - 8675; 86760 - 86979; 869800 - 915999; 9160000 - "
         "9165059; 916506 - 972999; 9730 - 9877; 987800 - 991149; 9911500 - 9911999; 991200 - "
         "998989; "
         "9989900 - 9999999"},
        {"2", "Region name:     French language\tCountry code(s): ??\tLanguage group:  "
              "2\tPublisher(s):    "
              "00 - 19; 200 - 349; 35000 - 39999; 400 - 489; 490000 - 494999; 495 - 495; 4960 - "
              "4966; 49670 - "
              "49699; 497 - 699; 7000 - 8399; 84000 - 89999; 900000 - 919799; 91980 - 91980; "
              "919810 - 919942; "
              "9199430 - 9199689; 919969 - 949999; 9500000 - 9999999"},
        {"600", "Region name:     Iran\tCountry code(s): IR\tLanguage group:  600\tPublisher(s):   "
                " 00 - 09; "
                "100 - 499; 5000 - 8999; 90000 - 98679; 9868 - 9929; 993 - 995; 99600 - 99999"},
        {"65", "Region name:     Brazil\tCountry code(s): BR\tLanguage group:  65\tPublisher(s):   "
               " 00 - 01; "
               "250 - 299; 300 - 302; 5000 - 5129; 5500 - 5999; 80000 - 81824; 86000 - 89999; "
               "900000 - 902449; "
               "990000 - 999999"},
        {"7", "Region name:     China, People's Republic\tCountry code(s): CN\tLanguage group:  "
              "7\tPublisher(s):    "
              "00 - 09; 100 - 499; 5000 - 7999; 80000 - 89999; 900000 - 999999"},
        {"80", "Region name:     former Czechoslovakia\tCountry code(s): ??\tLanguage group:  "
               "80\tPublisher(s):    "
               "00 - 19; 200 - 699; 7000 - 8499; 85000 - 89999; 900000 - 998999; 99900 - 99999"},
        {"82", "Region name:     Norway\tCountry code(s): NO\tLanguage group:  82\tPublisher(s):   "
               " 00 - 19; "
               "200 - 689; 690000 - 699999; 7000 - 8999; 90000 - 98999; 990000 - 999999"},
        {"87", "Region name:     Denmark\tCountry code(s): DK\tLanguage group:  87\tPublisher(s):  "
               "  00 - 29; "
               "400 - 649; 7000 - 7999; 85000 - 94999; 970000 - 999999"},
        {"9914", "Region name:     Kenya\tCountry code(s): KE\tLanguage group:  "
                 "9914\tPublisher(s):    40 - 44; "
                 "700 - 749; 9850 - 9999"},
        {"99901",
         "Region name:     Bahrain\tCountry code(s): BH\tLanguage group:  99901\tPublisher(s):    "
         "00 - 49; 500 - 799; 80 - 99"},
        {"99987", "Region name:     Luxembourg\tCountry code(s): LU\tLanguage group:  "
                  "99987\tPublisher(s):    "
                  "850 - 999"},
        {"10", "Region name:     France\tCountry code(s): FR\tLanguage group:  10\tPublisher(s):   "
               " 00 - 19; "
               "200 - 699; 7000 - 8999; 90000 - 97599; 976000 - 999999"},
        {"11", "Region name:     Korea, Republic\tCountry code(s): KR\tLanguage group:  "
               "11\tPublisher(s):    "
               "00 - 24; 250 - 549; 5500 - 8499; 85000 - 94999; 950000 - 999999"},
        {"12", "Region name:     Italy\tCountry code(s): IT\tLanguage group:  12\tPublisher(s):    "
               "200 - 299; "
               "5950 - 5999; 80000 - 84999"},
        {"8", "Region name:     United States\tCountry code(s): US\tLanguage group:  "
              "8\tPublisher(s):    "
              "200 - 219; 5500 - 7499; 9850000 - 9850009"},
    };
    for (const auto &g : groups) {
        // The annotated row of this group, found in table order (group 8's comes last).
        std::size_t row = 0;
        while (!(ISBN_range[row].countries == std::string(g.annotation)))
            ASSERT_LT(++row, 1305u) << "no row annotated for group " << g.group;
        // The publisher list of the annotation spells out the group's rows in order.
        std::string list = std::string(g.annotation)
                               .substr(std::string(g.annotation).rfind("Publisher(s):    ") + 17);
        std::size_t at = 0;
        for (;;) {
            std::size_t dash = list.find(" - ", at);
            std::size_t stop = list.find("; ", dash);
            std::string low = list.substr(at, dash - at);
            std::string high = list.substr(dash + 3, stop == std::string::npos ? std::string::npos
                                                                               : stop - dash - 3);
            EXPECT_EQ(ISBN_range[row].begin, std::string(g.group) + "-" + low);
            EXPECT_EQ(ISBN_range[row].end, std::string(g.group) + "-" + high);
            ++row;
            if (stop == std::string::npos)
                break;
            at = stop + 2;
        }
        std::string next = ISBN_range[row].begin == nullptr ? "" : ISBN_range[row].begin;
        EXPECT_NE(next.substr(0, next.find('-')), g.group)
            << "group " << g.group << " has more rows";
    }
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
            ISBN_placement placement = place_ISBN(candidate.data(), candidate.size(), parts);
            char text[32];
            char scratch[32];
            std::memcpy(text, candidate.c_str(), candidate.size() + 1);
            if (candidate.size() == 10)
                hyphenate_ISBN_10(text, scratch, sizeof text);
            else
                hyphenate_ISBN_13(text, scratch, sizeof text);
            ASSERT_NE(placement, ISBN_placement::ask_the_walk) << candidate;
            if (placement == ISBN_placement::not_placed) {
                ASSERT_EQ(text, candidate);
                continue;
            }
            std::string form(ISBN_form_length(candidate.size(), parts), '?');
            format_ISBN(candidate.data(), candidate.size(), parts, form.data());
            ASSERT_EQ(form, text) << candidate;
        }
    }
    // A prefix other than 978 and 979 is left to the walk, which also warns.
    ISBN_parts parts{};
    EXPECT_EQ(place_ISBN("4000201633614", 13, parts), ISBN_placement::ask_the_walk);
}

TEST(FindISBNRange, KeepsToThePrefixGroups) {
    // Group 82 precedes 979-8 in the table; 8730007796 is covered by no row of group 87.
    EXPECT_STREQ(find_ISBN_range("8200000000", ISBN_rows::all)->begin, "82-00");
    EXPECT_STREQ(find_ISBN_range("8730007796", ISBN_rows::all)->begin, "8-5500");
    EXPECT_EQ(find_ISBN_range("8730007796", ISBN_rows::prefix_978), nullptr);
    EXPECT_STREQ(find_ISBN_range("1000000000", ISBN_rows::prefix_979)->begin, "10-00");
    EXPECT_STREQ(find_ISBN_range("1000000000", ISBN_rows::prefix_978)->begin, "1-000");
}
