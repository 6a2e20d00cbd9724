#include "diagnostics.h"
#include "test_support.h"

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
        captured_output got =
            capture([&] { report_warning(test_run(), "-", c.line, NO_OFFSET, c.message); });
        EXPECT_EQ(got.err, c.expected);
        EXPECT_EQ(got.out, "");
    }
    // A file's name, and a message longer than the usual buffer, whole.
    std::string long_message(3000, 'm');
    captured_output got =
        capture([&] { report_warning(test_run(), "refs.bib", 7, 0, long_message.c_str()); });
    EXPECT_EQ(got.err, "refs.bib:7:" + long_message + ".\n");
}
