// The library face: a text in memory gives through the hooks what the command line gives for the
// same file, warnings and changes as data; range exports from bytes, refused in the command
// line's words, and the built-in ranges put back; a warning outside any run is never lost.

#include "isbn.h"
#include "library.h"
#include "output.h"
#include "range_message.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct taken {
    std::string output;
    std::string errors; // the warnings' lines, as standard error would get them
    std::vector<std::tuple<std::int64_t, std::string, bool>> warnings;
    std::vector<std::tuple<std::int64_t, std::string, std::string>> changes;
    std::size_t last_progress = 0;
    int progress_calls = 0;
};

// The hooks that gather what a run hands over into a taken.
filter_hooks taking(taken &t) {
    filter_hooks hooks;
    hooks.context = &t;
    hooks.output = [](void *c, const char *bytes, std::size_t count) {
        static_cast<taken *>(c)->output.append(bytes, count);
    };
    hooks.warning = [](void *c, const warning &w) {
        auto &run = *static_cast<taken *>(c);
        run.errors.append(w.text);
        run.warnings.emplace_back(w.line, std::string(w.message), w.counted);
    };
    hooks.change = [](void *c, const token_change &change) {
        static_cast<taken *>(c)->changes.emplace_back(change.line, std::string(change.old_text),
                                                      std::string(change.new_text));
    };
    hooks.progress = [](void *c, std::size_t done, std::size_t) {
        auto &run = *static_cast<taken *>(c);
        EXPECT_GE(done, run.last_progress);
        run.last_progress = done;
        run.progress_calls += 1;
    };
    return hooks;
}

taken filter(const std::string &text, filter_options options = {}, const char *name = "-") {
    taken t;
    input_end end = filter_memory(text.data(), text.size(), name, options, taking(t));
    EXPECT_EQ(end.how, input_end::complete);
    return t;
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::string SMALL_EXPORT = ORVANE_SOURCE_DIR "/tests/fixtures/ranges/RangeMessage-small.xml";

TEST(LibraryFace, GivesOutputWarningsAndChangesAsData) {
    taken t = filter("x 0201633612\n\n0201633613 and 9780201896831\nlast 400-0201633614");
    EXPECT_EQ(t.output, "x 0-201-63361-2\n\n0201633613 and 978-0-201-89683-1\nlast 400-0201633614");
    EXPECT_EQ(t.errors, "-:3:invalid ISBN-10 value [0201633613].\n"
                        "-:4:ISBN-13 must begin with either 978 or 979: ``4000201633614''.\n");
    ASSERT_EQ(t.warnings.size(), 2u);
    EXPECT_EQ(
        t.warnings[0],
        std::make_tuple(std::int64_t{3}, std::string("invalid ISBN-10 value [0201633613]"), true));
    ASSERT_EQ(t.changes.size(), 2u);
    EXPECT_EQ(t.changes[0], std::make_tuple(std::int64_t{1}, std::string("0201633612"),
                                            std::string("0-201-63361-2")));
    EXPECT_EQ(std::get<0>(t.changes[1]), 3);
}

TEST(LibraryFace, ModesOptionsAndNames) {
    std::string bib = "@book{k, doi = {10.1/9781107358331},\n isbn = {0201633612}}\n";
    taken bibtex = filter(bib, {true, true}, "refs\n.bib");
    EXPECT_EQ(bibtex.output,
              "@book{k, doi = {10.1/9781107358331},\n isbn = {978-0-201-63361-0}}\n");
    taken plain = filter("@book{k, isbn = {0201633613}}", {}, "refs\n.bib");
    EXPECT_EQ(plain.errors, "refs\\n.bib:1:invalid ISBN-10 value [0201633613].\n");
    // A notice about the table is a warning that does not count.
    taken notice = filter("@book{k, isbn = {99-0628213-4}}\n", {true, false});
    ASSERT_EQ(notice.warnings.size(), 1u);
    EXPECT_FALSE(std::get<2>(notice.warnings[0]));
}

TEST(LibraryFace, ProgressReachesTheWholeLengthOnceABlock) {
    std::string big;
    while (big.size() < 3 * (std::size_t{256} << 10))
        big += "a line of prose with 0201633612 in it\n";
    taken t = filter(big);
    EXPECT_EQ(t.last_progress, big.size());
    EXPECT_GE(t.progress_calls, 3);
    EXPECT_EQ(t.changes.size(), big.size() / 38);
}

TEST(LibraryFace, RangeExportsFromBytesAndTheBuiltInRangesBack) {
    std::string ranges = read_file(SMALL_EXPORT);
    ASSERT_FALSE(ranges.empty());
    EXPECT_EQ(filter("9789969500127\n").output, "9789969500127\n");
    EXPECT_EQ(load_range_export(ranges.data(), ranges.size(), "small.xml"), "");
    EXPECT_EQ(filter("9789969500127\n").output, "978-9969-500-12-7\n");
    // A refusal is worded as --ranges words it, and leaves the loaded table as it was.
    std::string broken = "This is a list of ranges.\n";
    EXPECT_EQ(load_range_export(broken.data(), broken.size(), "bad\x1b.xml"),
              "bad\\033.xml: line 1, column 0: not well-formed XML (syntax error)");
    EXPECT_EQ(filter("9789969500127\n").output, "978-9969-500-12-7\n");
    std::string huge(RANGE_MESSAGE_MAX + 1, ' ');
    EXPECT_EQ(load_range_export(huge.data(), huge.size(), "huge.xml"),
              "huge.xml: larger than 16 MiB, far more than a range export");
    // The built-in rows come back, those of 979 where they were.
    ISBN_restore_table();
    EXPECT_EQ(filter("9789969500127 0201633612 9791032305690\n").output,
              "9789969500127 0-201-63361-2 979-10-323-0569-0\n");
}

// A source that gives the text a few bytes or a line at a time gives what the whole text gives:
// the input loop carries every state across its reads, in both modes.
struct paced_text {
    const std::string *text;
    std::size_t at;
    bool by_line;
};

std::size_t read_paced(void *context, char *buffer, std::size_t count) {
    auto &paced = *static_cast<paced_text *>(context);
    std::size_t end = paced.at + 1;
    if (paced.by_line) {
        end = paced.text->find('\n', paced.at);
        end = end == std::string::npos ? paced.text->size() : end + 1;
    }
    std::size_t taken = std::min({count, end - paced.at, paced.text->size() - paced.at});
    paced.text->copy(buffer, taken, paced.at);
    paced.at += taken;
    return taken;
}

TEST(LibraryFace, ATextGivenAByteOrALineAtATimeGivesTheSameAnswer) {
    const std::string text =
        "@book{a,\n  isbn = {0201633612},\n  note = {0201633613},\n"
        "  isbn = \"978020189683\n1 and 0201633613\"}\n@misc{b, isbn = {0201633612}\n"
        "http://x/0201633612 0201633612\r\nlast 9780201896831";
    for (bool bibtex : {false, true}) {
        taken whole = filter(text, {bibtex, false});
        for (bool by_line : {false, true}) {
            taken t;
            paced_text paced{&text, 0, by_line};
            filter_source(read_paced, &paced, text.size(), "-", {bibtex, false}, taking(t));
            EXPECT_EQ(t.output, whole.output) << bibtex << by_line;
            EXPECT_EQ(t.errors, whole.errors) << bibtex << by_line;
            EXPECT_EQ(t.changes, whole.changes) << bibtex << by_line;
        }
    }
}

std::string error_text;

// A warning of the table's routines called alone, outside any run, goes out at once: a program
// that returns without flushing loses none.
TEST(LibraryFace, AWarningOutsideAnyRunIsNotHeldBack) {
    filter("a run before, ended 0201633613\n");
    set_error_writer([](const char *text, std::size_t length) { error_text.append(text, length); });
    char text[64] = "4000201633614";
    char output[64];
    hyphenate_ISBN_13(text, output, sizeof text);
    set_error_writer(nullptr);
    EXPECT_NE(error_text.find("ISBN-13 must begin with either 978 or 979"), std::string::npos)
        << error_text;
}

} // namespace

struct ended {};

// A fatal error ends the run through the embedder's handler, after its message.
TEST(LibraryFace, AFatalErrorGoesToTheEmbeddersHandler) {
    error_text.clear();
    set_error_writer([](const char *text, std::size_t length) { error_text.append(text, length); });
    set_fatal_handler([](const char *) { throw ended{}; });
    EXPECT_THROW(report_fatal("Out of string memory"), ended);
    set_fatal_handler(nullptr);
    set_error_writer(nullptr);
    EXPECT_EQ(error_text, "?? Out of string memory\n");
}
