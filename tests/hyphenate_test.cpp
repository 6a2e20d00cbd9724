#include "diagnostics.h"
#include "isbn.h"
#include "test_support.h"

#include <string>
#include <vector>

namespace {

// Runs a hyphenation routine on text with the given limit and returns the text afterwards.
std::string hyphenated(void (*routine)(orvane_run &, char *, char *, std::size_t),
                       const std::string &text, std::size_t limit = 4096) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.resize(4096, '\0');
    std::vector<char> output(limit + 1, '#');
    routine(test_run(), buffer.data(), output.data(), limit);
    return buffer.data();
}

} // namespace

TEST(Hyphenate, SingleCandidates) {
    struct {
        const char *text, *expected;
    } ten[] = {
        {"0201633612", "0-201-63361-2"},
        {"080442957X", "0-8044-2957-X"},
        {"080442957x", "0-8044-2957-x"},
        {"7123456785", "7-123-45678-5"},
        {"8000123452", "80-00-12345-2"},
        {"6001234566", "600-123-456-6"},
        {"9914400019", "9914-40-001-9"},
        {"9998785014", "99987-850-1-4"},
        {"9990180016", "99901-80-01-6"},
        {"02016336X6", "0-201-6336X-6"},
        {"6512345673", "6512345673"},
        // No row of group 87 covers it, and a 979 row must not.
        {"8730007796", "8730007796"},
    };
    for (const auto &c : ten)
        EXPECT_EQ(hyphenated(hyphenate_ISBN_10, c.text), c.expected) << c.text;
    struct {
        const char *text, *expected;
    } thirteen[] = {
        {"9780201633610", "978-0-201-63361-0"}, {"9789998785014", "978-99987-850-1-4"},
        {"97802016336X3", "978-0-201-6336X-3"}, {"9789999900003", "9789999900003"},
        {"9791000000008", "979-10-00-00000-8"}, {"9791100000007", "979-11-00-00000-7"},
        {"9791220000000", "979-12-200-0000-0"}, {"9798200000005", "979-8-200-00000-5"},
        {"9798000000007", "9798000000007"},
    };
    for (const auto &c : thirteen) {
        captured_output got = capture(
            [&] { EXPECT_EQ(hyphenated(hyphenate_ISBN_13, c.text), c.expected) << c.text; });
        EXPECT_EQ(got.err, "") << c.text;
    }
}

TEST(Hyphenate, PrefixOtherThan978Or979) {
    captured_output got = capture([] {
        test_run().line = 4;
        EXPECT_EQ(hyphenated(hyphenate_ISBN_13, "4000201633614"), "4000201633614");
    });
    EXPECT_EQ(got.err, "-:4:ISBN-13 must begin with either 978 or 979: ``4000201633614''.\n");
    // The walk never borrows characters from beyond the candidate. The run is tried again from
    // its second digit, where the candidate (spaces may stand inside one) warns again.
    got = capture([] {
        test_run().line = 4;
        EXPECT_EQ(hyphenated(hyphenate_ISBN_13, "4000201633614 7."), "4000201633614 7.");
    });
    EXPECT_EQ(got.err, "-:4:ISBN-13 must begin with either 978 or 979: ``4000201633614''.\n"
                       "-:4:ISBN-13 must begin with either 978 or 979: ``0002016336147''.\n");
    // A key that no row covers gives no warning.
    got =
        capture([] { EXPECT_EQ(hyphenated(hyphenate_ISBN_13, "4009999900003"), "4009999900003"); });
    EXPECT_EQ(got.err, "");
}

TEST(Hyphenate, GeneralTexts) {
    struct {
        const char *text, *expected;
    } cases[] = {
        {"ISBN 0201633612 and 0-201-63361-2, 12345678901",
         "ISBN 0-201-63361-2 and 0-201-63361-2, 12-345-67890-1"},
        {"020163361 2", "0-201-63361-2"},
        {"", ""},
        {"no candidates here, 12-34", "no candidates here, 12-34"},
        // An ISBN character right after the form fails it; the text is tried again one byte on
        // (no check digit is tested here).
        {"0201633612x", "02-01-633612-x"},
        {"0201633612 tail", "0-201-63361-2 tail"},
        {"x0201633612", "x0-201-63361-2"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(hyphenated(hyphenate_ISBN_10, c.text), c.expected) << c.text;
    EXPECT_EQ(hyphenated(hyphenate_ISBN_13, "see 978 0 201 63361 0 and 9780201633610."),
              "see 978-0-201-63361-0 and 978-0-201-63361-0.");
}

TEST(Hyphenate, ResultMustStayBelowTheLimit) {
    struct {
        bool thirteen;
        const char *text;
        std::size_t limit;
        const char *expected;
    } cases[] = {
        {false, "0201633612", 13, "0201633612"},
        {false, "0201633612", 14, "0-201-63361-2"},
        {true, "9780201633610", 17, "9780201633610"},
        {true, "9780201633610", 18, "978-0-201-63361-0"},
        // Text before the candidate, a failing candidate and the rest each count against the
        // limit.
        {false, "ab 0201633612", 17, "ab 0-201-63361-2"},
        {false, "ab 0201633612", 16, "ab 0201633612"},
        {false, "0201633612 cd", 17, "0-201-63361-2 cd"},
        {false, "0201633612 cd", 16, "0201633612 cd"},
        {false, "6512345673", 11, "6512345673"},
        {false, "6512345673", 10, "6512345673"},
        {false, "abc", 3, "abc"},
        {false, "abc", 4, "abc"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(hyphenated(c.thirteen ? hyphenate_ISBN_13 : hyphenate_ISBN_10, c.text, c.limit),
                  c.expected)
            << c.text << " within " << c.limit;
}

// Every range of the data file hyphenates an ISBN at its low and at its high end into the
// group and publisher the file gives, alone and inside a text.
TEST(Hyphenate, EveryRangeOfTheDataFile) {
    std::vector<data_group> groups = read_range_data();
    ASSERT_FALSE(groups.empty()) << "cannot read the data file";
    for (const data_group &g : groups) {
        for (const auto &[low, high] : g.ranges) {
            for (const auto &[publisher, fill] : {std::pair{low, '0'}, std::pair{high, '9'}}) {
                std::string title(9 - g.digits.size() - publisher.size(), fill);
                std::string body = g.digits + publisher + title;
                std::string thirteen = with_check_digit(g.prefix + body);
                std::string form13 = g.prefix + "-" + g.digits + "-" + publisher + "-" + title +
                                     "-" + thirteen.back();
                EXPECT_EQ(hyphenated(hyphenate_ISBN_13, thirteen), form13);
                // The same candidate inside a text.
                EXPECT_EQ(hyphenated(hyphenate_ISBN_13, "(" + thirteen + ")"), "(" + form13 + ")");
                if (g.prefix == "978") {
                    std::string ten = with_check_digit(body);
                    std::string form10 =
                        g.digits + "-" + publisher + "-" + title + "-" + ten.back();
                    EXPECT_EQ(hyphenated(hyphenate_ISBN_10, ten), form10);
                    EXPECT_EQ(hyphenated(hyphenate_ISBN_10, "(" + ten + ")"), "(" + form10 + ")");
                }
            }
        }
    }
}
