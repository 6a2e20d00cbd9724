#include "diagnostics.h"
#include "filter.h"
#include "isbn.h"
#include "plain_filter.h"
#include "scan.h"
#include "test_support.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

using namespace std::string_literals;

// check_ISBN, the vector form of both tests, on a padded copy, must agree with them.
bool vector_check(const std::string &characters) {
    char padded[ISBN_BUFFER_SIZE] = {};
    std::memcpy(padded, characters.data(), characters.size());
    return check_ISBN(padded, characters.size());
}

TEST(CheckDigits, ISBN10) {
    // An X counts 10 in every position, not only as the check character.
    for (const char *valid : {"0201633612", "080442957X", "080442957x", "X00000000X", "0X00000009",
                              "00X0000008", "000X000007", "0000X00006", "00000x0005", "000000X004",
                              "0000000X03", "00000000X2", "02016336X6", "0000000000"})
        EXPECT_TRUE(check_ISBN_10(valid) && vector_check(valid)) << valid;
    for (const char *invalid :
         {"0201633613", "0804429570", "000000000X", "X000000000", "0201633611"})
        EXPECT_FALSE(check_ISBN_10(invalid) || vector_check(invalid)) << invalid;
}

TEST(CheckDigits, ISBN13) {
    for (const char *valid : {"9780201633610", "97802016336X3", "4000201633614", "X000000000000",
                              "0x00000000000", "0000000000000", "9791000000008"})
        EXPECT_TRUE(check_ISBN_13(valid) && vector_check(valid)) << valid;
    // An X in the check position never passes, whatever the sum.
    for (const char *invalid :
         {"9780201633612", "978020163361X", "978020163361x", "000000000000X", "9780201633611"})
        EXPECT_FALSE(check_ISBN_13(invalid) || vector_check(invalid)) << invalid;
}

// Random bodies with every possible check character, so that about one in ten or eleven passes;
// x and X fall anywhere.
TEST(CheckDigits, VectorFormAgreesWithTheLoops) {
    std::mt19937 random(14);
    const std::string alphabet = "0123456789012345678901234567890123456789Xx";
    for (int round = 0; round < 20000; ++round) {
        std::size_t count = round % 2 == 0 ? 10 : 13;
        std::string characters(count, '0');
        for (char &c : characters)
            c = alphabet[random() % alphabet.size()];
        for (char check : std::string("0123456789Xx")) {
            characters.back() = check;
            bool loop =
                count == 10 ? check_ISBN_10(characters.c_str()) : check_ISBN_13(characters.c_str());
            ASSERT_EQ(vector_check(characters), loop) << characters;
        }
    }
}

struct filter_case {
    std::string input;
    std::string out;
    std::string err;
};

void expect_filter(const filter_case &c) {
    captured_output got = filter_one(c.input);
    EXPECT_EQ(got.out, c.out) << "input: " << c.input;
    EXPECT_EQ(got.err, c.err) << "input: " << c.input;
}

TEST(FilterText, TokensThatAreNotValidISBNsPassThrough) {
    const filter_case cases[] = {
        {"", "", ""},
        {"plain text, no digits\n", "plain text, no digits\n", ""},
        {"0 201 63361 2", "0 201 63361 2", ""},
        {"ab-12x-3cd", "ab-12x-3cd", ""},
        {"2021-12-26", "2021-12-26", ""},
        {"\xff\xfe 0201633613\r\n", "\xff\xfe 0201633613\r\n",
         "-:0:invalid ISBN-10 value [0201633613].\n"},
        {"0-201-63361-3", "0-201-63361-3", "-:0:invalid ISBN-10 value [0201633613].\n"},
        {"0201633613-", "0201633613-", "-:0:invalid ISBN-10 value [0201633613].\n"},
        {"X0201633613", "X0201633613", "-:0:invalid ISBN-10 value [0201633613].\n"},
        {"978-0-201-63361-2", "978-0-201-63361-2", "-:0:invalid ISBN-13 value [9780201633612].\n"},
        {"020163361X3", "020163361X3", ""},
    };
    for (const auto &c : cases)
        expect_filter(c);
}

TEST(FilterText, LinesWithAURLAreCopiedUntouched) {
    const filter_case cases[] = {
        {"see doi://10.1000/0201633612", "see doi://10.1000/0201633612", ""},
        {"0201633613 http://x 9781234567890123", "0201633613 http://x 9781234567890123", ""},
        {":/ / 0201633613", ":/ / 0201633613", "-:0:invalid ISBN-10 value [0201633613].\n"},
    };
    for (const auto &c : cases)
        expect_filter(c);
}

TEST(FilterText, SixteenByteRule) {
    const filter_case cases[] = {
        {"9781234567890123", "978-1234567890123", ""},
        {"9791234567890123.", "979-1234567890123.", ""},
        {"9771234567890123", "9771234567890123", ""},
        {"97812345678901234", "97812345678901234", ""},
        // A failed ISBN-13 of 16 bytes is written through the same rule.
        {"9780-201-63361-2", "978-0-201-63361-2", "-:0:invalid ISBN-13 value [9780201633612].\n"},
        // One that already has its hyphen after the prefix stays as it came.
        {"978-123456789012", "978-123456789012", ""},
        {"978-0-201-633612", "978-0-201-633612", "-:0:invalid ISBN-13 value [9780201633612].\n"},
        {"979-1234567890-1", "979-1234567890-1", ""},
    };
    for (const auto &c : cases)
        expect_filter(c);
}

TEST(FilterText, LongRunsAreCutAfterTheTokenLimit) {
    // A run of 4095 bytes ends the token; the ISBN right after it is a token of its own.
    std::string run = "1" + std::string(TOKEN_MAX - 1, '-');
    for (const std::string &tail : {"0201633613"s, "-0201633613"s}) {
        filter_case c{run + tail, run + tail, "-:0:invalid ISBN-10 value [0201633613].\n"};
        expect_filter(c);
    }
    // One byte shorter and the same text is one token of 11 ISBN characters: no test at all.
    std::string shorter = "1" + std::string(TOKEN_MAX - 2, '-') + "0201633613";
    expect_filter({shorter, shorter, ""});
    std::string digits(10000, '7');
    expect_filter({digits, digits, ""});
}

TEST(FilterText, NULBytesAreOrdinaryBytes) {
    std::string text = "0201633613\0"s + "0201633613\0\n"s;
    std::string warning = "-:0:invalid ISBN-10 value [0201633613].\n";
    expect_filter({text, text, warning + warning});
}

TEST(FilterText, ValidISBNsAreHyphenatedFromTheTable) {
    const filter_case cases[] = {
        {"ISBN 0201633612.", "ISBN 0-201-63361-2.", ""},
        {"ISBN 0-2016-3361-2.", "ISBN 0-201-63361-2.", ""},
        {"0201633612-", "0-201-63361-2", ""},
        {"978-0-201-63361-0", "978-0-201-63361-0", ""},
        {"{9791000000008}", "{979-10-00-00000-8}", ""},
        // Valid, but placed by no row: written as it came, hyphens and all, with no warning
        // (a range newer than the table may place them so); the 16-byte rule still applies.
        {"6-5123-4567-3", "6-5123-4567-3", ""},
        {"9798000000007", "9798000000007", ""},
        {"979-8-89176-195-7", "979-8-89176-195-7", ""},
        {"8730007798", "8730007798", ""},
        {"9789-99-9900-003", "978-9-99-9900-003", ""},
        {"4000201633614", "4000201633614",
         "-:0:ISBN-13 must begin with either 978 or 979: ``4000201633614''.\n"},
        {"400-0201633614", "400-0201633614",
         "-:0:ISBN-13 must begin with either 978 or 979: ``4000201633614''.\n"},
    };
    for (const auto &c : cases)
        expect_filter(c);
}

// The block filter must write exactly what the plain reference filter writes, with the same
// warnings on the same line numbers, however the input is cut into blocks of whole lines.
TEST(FilterLines, AgreesWithThePlainFilter) {
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::string input = random_lines(seed, 60);
        plain_result expected = plain_filter_lines(input);
        captured_output got = capture([&] {
            text_input text;
            text.run = &test_run();
            start_text_input(text);
            // Cut into blocks at every seed-th newline.
            std::size_t start = 0;
            int newlines = 0;
            for (std::size_t i = 0; i < input.size(); ++i) {
                if (input[i] == '\n' && ++newlines % static_cast<int>(seed) == 0) {
                    filter_lines(text, input.data() + start, i + 1 - start);
                    start = i + 1;
                }
            }
            filter_lines(text, input.data() + start, input.size() - start);
        });
        ASSERT_EQ(got.out, expected.out) << "seed " << seed;
        ASSERT_EQ(got.err, expected.err) << "seed " << seed;
    }
}
