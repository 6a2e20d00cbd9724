#include "isbn.h"
#include "table_fixture.h"
#include "test_support.h"

#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string hyphenate_10(const char *text) {
    char buffer[4096];
    char output[4096];
    std::snprintf(buffer, sizeof buffer, "%s", text);
    hyphenate_ISBN_10(test_run(), buffer, output, sizeof output);
    return buffer;
}

} // namespace

TEST(ISBNInitialize, BuiltInTableIsCopiedSilentlyAndDumped) {
    swapped_table restore;
    const char *built_in_begin = ISBN_range[0].begin;
    captured_output init = capture([] { ISBN_initialize(); });
    EXPECT_EQ(init.out + init.err, "");
    EXPECT_NE(ISBN_range[0].begin, built_in_begin);
    EXPECT_STREQ(ISBN_range[0].begin, built_in_begin);
    captured_output dump = capture([] { do_print_ISBN_table(); });
    EXPECT_EQ(dump.out, "");
    std::vector<std::string> lines = lines_of(dump.err);
    // The heading, a line a row, and two empty lines before each group.
    std::size_t rows = 0;
    std::vector<data_group> groups = read_range_data();
    for (const data_group &g : groups)
        rows += g.ranges.size();
    ASSERT_EQ(lines.size(), 1u + rows + 2u * groups.size());
    EXPECT_EQ(lines[0], "%%% ISBN ranges and country/language groups");
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[3],
              "0-00       \t0-19       \tRegion name:     English language\tCountry code(s): ??\t"
              "Language group:  0\tPublisher(s):    00 - 19; 200 - 227; 2280 - 2289; 229 - 368; "
              "3690 - 3699; 370 - 638; 6390 - 6397; 6398000 - 6399999; 640 - 644; 6450000 - "
              "6459999; 646 - 647; 6480000 - 6489999; 649 - 654; 6550 - 6559; 656 - 699; 7000 - "
              "8499; 85000 - 89999; 900000 - 949999; 9500000 - 9999999");
    EXPECT_EQ(lines[4], "0-200      \t0-227      ");
    EXPECT_EQ(lines[5], "0-2280     \t0-2289     ");
    EXPECT_EQ(lines[21], "0-9500000  \t0-9999999  ");
    EXPECT_EQ(lines[22], "");
    EXPECT_EQ(lines[24],
              "1-000      \t1-009      \tRegion name:     English language\tCountry code(s): ??\t"
              "Language group:  1\tPublisher(s):    000 - 009; 01 - 02; 030 - 034; 0350 - 0399; "
              "04 - 06; 0700 - 0999; 100 - 397; 3980 - 5499; 55000 - 64999; 6500 - 6799; 68000 - "
              "68599; 6860 - 7139; 714 - 716; 7170 - 7319; 7320000 - 7399999; 74000 - 77499; "
              "7750000 - 7753999; 77540 - 77639; 7764000 - 7764999; 77650 - 77699; 7770000 - "
              "7782999; 77830 - 78999; 7900 - 7999; 80000 - 80049; 80050 - 80499; 80500 - 83799; "
              "8380000 - 8384999; 83850 - 86719; 8672 - 8675; 86760 - 86979; 869800 - 915999; "
              "9160000 - 9165059; 916506 - 972999; 9730 - 9877; 987800 - 991149; 9911500 - "
              "9911999; 991200 - 998989; 9989900 - 9999999");
    std::size_t n = lines.size();
    EXPECT_EQ(lines[n - 4], "");
    EXPECT_EQ(lines[n - 3],
              "8-200      \t8-219      \tRegion name:     United States\tCountry code(s): US\t"
              "Language group:  8\tPublisher(s):    200 - 219; 5500 - 7499; 9850000 - 9850009");
    EXPECT_EQ(lines[n - 1], "8-9850000  \t8-9850009  ");
    EXPECT_NE(
        dump.err.find(
            "\n\n\n99987-850  \t99987-999  \tRegion name:     Luxembourg\tCountry code(s): LU\t"
            "Language group:  99987\tPublisher(s):    850 - 999\n"),
        std::string::npos);
    // The copies hyphenate as the built-in table does.
    EXPECT_EQ(hyphenate_10("0201633612"), "0-201-63361-2");
    EXPECT_EQ(hyphenate_10("9990180016"), "99901-80-01-6");
}

TEST(ISBNInitialize, ReportsAndBlanksMalformedRows) {
    swapped_table table{
        {"12345-6789", "1-2", "A"}, {"1-", "1-9", ""},       {"-12", "1-9", ""},
        {"1a-2", "1-9", ""},        {"1-5", "1-3", ""},      {"1-5", "1-40", ""},
        {"1-2", "1-x", ""},         {"0-200", "0-227", "B"},
    };
    captured_output first = capture([] { ISBN_initialize(); });
    EXPECT_EQ(first.err,
              "Invalid country/language-publisher ISBN prefix [12345-6789]\n"
              "Invalid country/language-publisher ISBN prefix [1-]\n"
              "Invalid country/language-publisher ISBN prefix [-12]\n"
              "Invalid country/language-publisher ISBN prefix [1a-2]\n"
              "Non-increasing country/language-publisher ISBN range [1-5 .. 1-3] deleted\n"
              "Non-increasing country/language-publisher ISBN range [1-5 .. 1-40] deleted\n"
              "Invalid country/language-publisher ISBN prefix [1-x]\n"
              "Non-increasing country/language-publisher ISBN range [1-2 .. ] deleted\n");
    EXPECT_STREQ(ISBN_range[0].begin, "");
    EXPECT_STREQ(ISBN_range[0].end, "1-2");
    EXPECT_STREQ(ISBN_range[4].begin, "");
    EXPECT_STREQ(ISBN_range[4].end, "");
    EXPECT_STREQ(ISBN_range[7].begin, "0-200");
    // A second call copies again and reports each blanked field once more, empty.
    captured_output second = capture([] { ISBN_initialize(); });
    // Ten fields were blanked: one begin in each of the first four rows, both in the last three.
    std::string blanks;
    for (int i = 0; i < 10; ++i)
        blanks += "Invalid country/language-publisher ISBN prefix []\n";
    EXPECT_EQ(second.err, blanks);
    // A blanked row has no pattern to follow, and it covers every key that no earlier row does.
    EXPECT_EQ(hyphenate_10("0201633612"), "0201633612");
}

TEST(ISBNInitialize, BlankedRowIsFoundByTheFastLookupToo) {
    swapped_table restore;
    ISBN_range[0].begin = "0-0a0";
    ISBN_range[0].end = "0-1x9";
    ISBN_range_changed();
    captured_output init = capture([] { ISBN_initialize(); });
    EXPECT_EQ(init.err, "Invalid country/language-publisher ISBN prefix [0-0a0]\n"
                        "Invalid country/language-publisher ISBN prefix [0-1x9]\n");
    for (const char *key : {"0201633612", "9990180016", "8200000000", "0000000000", "XXXXXXXXXX"})
        for (ISBN_rows rows : {ISBN_rows::all, ISBN_rows::prefix_978, ISBN_rows::prefix_979})
            EXPECT_EQ(find_ISBN_range(key, rows), walk_ISBN_range(key, rows)) << key;
    EXPECT_EQ(find_ISBN_range("0201633612", ISBN_rows::prefix_978), &test_table().rows[0]);
    captured_output filtered = filter_one("ISBN 0201633612, 9789990180014");
    EXPECT_EQ(filtered.out, "ISBN 0201633612, 9789990180014");
}

TEST(ISBNInitialize, FullTableEndsEveryWalkAtTheCapacity) {
    swapped_table restore;
    for (auto &row : ISBN_range)
        row = {"1-2", "1-3", ""};
    ISBN_range[0].countries = "Region name:     Test";
    ISBN_range_changed();
    captured_output init = capture([] { ISBN_initialize(); });
    EXPECT_EQ(init.err, "");
    EXPECT_EQ(find_ISBN_range("1999999999", ISBN_rows::all), nullptr);
    EXPECT_EQ(walk_ISBN_range("1999999999", ISBN_rows::all), nullptr);
    EXPECT_EQ(find_ISBN_range("1200000000", ISBN_rows::prefix_979),
              walk_ISBN_range("1200000000", ISBN_rows::prefix_979));
    captured_output dump = capture([] { do_print_ISBN_table(); });
    EXPECT_EQ(lines_of(dump.err).size(), 1u + ISBN_RANGE_MAX + 2u);
}

TEST(ISBNFreeTable, AnySequenceOfCallsIsSafe) {
    swapped_table restore;
    // Without a copy, nothing is freed: the built-in texts are static.
    ISBN_free_table();
    EXPECT_EQ(ISBN_range[0].begin, nullptr);
    EXPECT_EQ(hyphenate_10("0201633612"), "0201633612");
    ISBN_free_table();
}

TEST(ISBNFreeTable, RepeatedInitializeKeepsNoStaleCopies) {
    swapped_table restore;
    capture([] {
        ISBN_initialize();
        ISBN_initialize();
    });
    ISBN_free_table();
    ISBN_free_table();
    for (const auto &row : ISBN_range)
        ASSERT_TRUE(row.begin == nullptr && row.end == nullptr && row.countries == nullptr);
    // LeakSanitizer, in the sanitizer build, shows that none of the copies was lost.
}

TEST(ISBNUpkeepDeathTest, MissingFieldsAreAssertionFailures) {
    swapped_table table{{"1-2", "1-3", ""}, {"1-4", nullptr, nullptr}};
    EXPECT_DEATH(ISBN_initialize(),
                 "Assertion failed: \\(ISBN_range\\[k\\]\\.end != \\(const char \\*\\)NULL\\), "
                 "function ISBN_initialize, file table_upkeep.cpp");
    EXPECT_DEATH(do_print_ISBN_table(),
                 "Assertion failed: \\(ISBN_range\\[k\\]\\.end != \\(const char \\*\\)NULL\\), "
                 "function do_print_ISBN_table, file table_upkeep.cpp");
    ISBN_range[1].end = "1-5";
    EXPECT_DEATH(
        ISBN_initialize(),
        "Assertion failed: \\(ISBN_range\\[k\\]\\.countries != \\(const char \\*\\)NULL\\), "
        "function ISBN_initialize, file table_upkeep.cpp");
    EXPECT_DEATH(do_print_ISBN_table(),
                 "ISBN_range\\[k\\]\\.countries != \\(const char \\*\\)NULL\\), "
                 "function do_print_ISBN_table, file table_upkeep.cpp");
}

#if !defined(__SANITIZE_ADDRESS__)
TEST(ISBNUpkeepDeathTest, ExhaustedMemoryIsFatal) {
    // A text larger than the address space left to the process: its copy cannot be made.
    static std::string huge(256u << 20, '1');
    swapped_table table{{huge.c_str(), "1-3", ""}};
    EXPECT_EXIT(
        {
            rlimit limit{};
            getrlimit(RLIMIT_AS, &limit);
            limit.rlim_cur = 128u << 20;
            setrlimit(RLIMIT_AS, &limit);
            ISBN_initialize();
        },
        testing::ExitedWithCode(1), "^\\?\\? Out of string memory\n$");
}
#endif
