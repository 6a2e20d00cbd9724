#include "diagnostics.h"
#include "test_support.h"

#include <cstdlib>
#include <cstring>

TEST(ReportWarning, PrintsFileLineAndMessageVerbatim) {
    struct {
        std::int64_t line;
        const char *message;
        const char *expected;
    } cases[] = {
        {0, "invalid ISBN-10 value [0201633613]", "-:0:invalid ISBN-10 value [0201633613].\n"},
        {12, "100% %s %n sure", "-:12:100% %s %n sure.\n"},
        {5000000000, "", "-:5000000000:.\n"},
    };
    for (const auto &c : cases) {
        captured_output got = capture([&] { report_warning("-", c.line, c.message); });
        EXPECT_EQ(got.err, c.expected);
        EXPECT_EQ(got.out, "");
    }
    // A file's name, and a message longer than the usual buffer, whole.
    std::string long_message(3000, 'm');
    captured_output got = capture([&] { report_warning("refs.bib", 7, long_message.c_str()); });
    EXPECT_EQ(got.err, "refs.bib:7:" + long_message + ".\n");
}

TEST(ReportFatal, PrintsPrefixAndExitsWithStatus1) {
    EXPECT_EXIT(report_fatal("Out of string memory"), testing::ExitedWithCode(1),
                "^\\?\\? Out of string memory\n$");
}

TEST(DuplicateString, CopiesTheTextWithItsTerminator) {
    for (const char *text : {"", "0-200", "Region name:     Japan"}) {
        char *copy = duplicate_string(text);
        EXPECT_NE(copy, text);
        EXPECT_STREQ(copy, text);
        std::free(copy);
    }
}
