// The embedding API as embedders use it: each way of driving runs and tables gives exactly what
// separate runs of the command line give for the same texts, warnings and changes as data.

#include "files.h"
#include "orvane.h"
#include "range_message.h"
#include "run.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <new>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct taken {
    std::string output;
    std::string errors; // the warnings' lines, as standard error would get them
    std::vector<std::tuple<std::int64_t, std::uint64_t, std::string, bool>> warnings;
    std::vector<std::tuple<std::int64_t, std::uint64_t, std::uint64_t, std::string, std::string>>
        changes;
};

// The hooks that gather what a run hands over into a taken.
orvane_hooks taking(taken &t) {
    orvane_hooks hooks;
    hooks.context = &t;
    hooks.output = [](void *c, const char *bytes, std::size_t count) {
        static_cast<taken *>(c)->output.append(bytes, count);
        return true;
    };
    hooks.warning = [](void *c, const orvane_warning *w) {
        auto &into = *static_cast<taken *>(c);
        into.errors.append(w->text, w->text_length);
        into.warnings.emplace_back(w->line, w->offset, std::string(w->message, w->message_length),
                                   w->counted);
        return true;
    };
    hooks.change = [](void *c, const orvane_change *change) {
        static_cast<taken *>(c)->changes.emplace_back(
            change->line, change->offset, change->output_offset,
            std::string(change->old_text, change->old_length),
            std::string(change->new_text, change->new_length));
        return true;
    };
    return hooks;
}

// One run of text, fed in parts of part bytes (0: whole).
taken filter(const std::string &text, orvane_options options = {}, const char *name = "-",
             const orvane_table *table = nullptr, std::size_t part = 0) {
    taken t;
    orvane_hooks hooks = taking(t);
    orvane_run *run = orvane_run_create(&options, table, name, &hooks);
    EXPECT_NE(run, nullptr);
    for (std::size_t at = 0; at < text.size(); at += part == 0 ? text.size() : part)
        EXPECT_EQ(orvane_run_feed(run, text.data() + at,
                                  std::min(text.size() - at, part == 0 ? text.size() : part)),
                  ORVANE_OK);
    EXPECT_EQ(orvane_run_finish(run), ORVANE_OK);
    orvane_run_free(run);
    return t;
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What the command line writes for text on standard input: standard output and error.
struct cli_result {
    std::string out;
    std::string err;
};

cli_result cli(const std::string &arguments, const std::string &text) {
    // Names of this process's own: ctest runs the tests in processes side by side.
    std::string stem = testing::TempDir() + "/api-" + std::to_string(getpid());
    std::string in = stem + "-in", out = stem + "-out", err = stem + "-err";
    std::ofstream(in, std::ios::binary) << text;
    std::string command =
        std::string(ORVANE_BINARY) + " " + arguments + " < " + in + " > " + out + " 2> " + err;
    EXPECT_NE(std::system(command.c_str()), -1);
    cli_result result{read_file(out), read_file(err)};
    for (const std::string &path : {in, out, err})
        std::remove(path.c_str());
    return result;
}

const std::string SMALL_EXPORT = ORVANE_SOURCE_DIR "/tests/fixtures/ranges/RangeMessage-small.xml";
const std::string TEXT = "x 0201633612\n\n0201633613 and 9780201896831\nlast 400-0201633614 "
                         "9789969500127\n";
const std::string BIB = "@book{k, doi = {10.1/9781107358331},\n isbn = {0201633612}}\n"
                        "@book{l, isbn = {0201633613}, isbn = {9789969500127}\n";

// A table of the small export, which places 978-9969 that the built-in ranges do not.
orvane_table *small_table() {
    std::string bytes = read_file(SMALL_EXPORT);
    orvane_table *table = nullptr;
    char fault[512];
    EXPECT_EQ(
        orvane_table_load(bytes.data(), bytes.size(), "small.xml", &table, fault, sizeof fault),
        ORVANE_OK)
        << fault;
    return table;
}

TEST(API, GivesOutputWarningsAndChangesWithLinesAndOffsets) {
    taken t = filter(TEXT);
    cli_result want = cli("", TEXT);
    EXPECT_EQ(t.output, want.out);
    EXPECT_EQ(t.errors, want.err);
    ASSERT_EQ(t.warnings.size(), 2u);
    EXPECT_EQ(t.warnings[0],
              std::make_tuple(std::int64_t{3}, std::uint64_t{14},
                              std::string("invalid ISBN-10 value [0201633613]"), true));
    ASSERT_EQ(t.changes.size(), 2u);
    // Offsets in the input and of the new text in the output, which the first change grew by 3.
    EXPECT_EQ(t.changes[0],
              std::make_tuple(std::int64_t{1}, std::uint64_t{2}, std::uint64_t{2},
                              std::string("0201633612"), std::string("0-201-63361-2")));
    EXPECT_EQ(t.changes[1],
              std::make_tuple(std::int64_t{3}, std::uint64_t{29}, std::uint64_t{32},
                              std::string("9780201896831"), std::string("978-0-201-89683-1")));
    EXPECT_EQ(t.output.substr(32, 17), "978-0-201-89683-1");
    // Every change's new text stands at its output offset, however many changes came before.
    std::string many;
    for (int i = 0; i < 300; ++i)
        many += i % 3 == 0 ? "0201633612 9780201896831 x\n" : "z 0-201-63361-2\n";
    taken m = filter(many, {}, "-", nullptr, 100);
    ASSERT_EQ(m.changes.size(), 200u);
    for (const auto &[line, offset, output_offset, old_text, new_text] : m.changes) {
        ASSERT_EQ(many.compare(offset, old_text.size(), old_text), 0) << line;
        ASSERT_EQ(m.output.compare(output_offset, new_text.size(), new_text), 0) << line;
    }
    // Names are escaped as in every message; a notice about the table does not count.
    taken bib = filter(BIB, {true, false}, "refs\n.bib");
    const std::string warned = ":3:invalid ISBN-10 value [0201633613].\n"
                               "NAME:3:valid ISBN [9789969500127] is in no range of the table; "
                               "--ranges with a current export may place it.\n"
                               "NAME:3:BibTeX entry not closed at the end of the input.\n";
    auto named = [&](const std::string &name) {
        std::string lines = name + warned;
        for (std::size_t at; (at = lines.find("NAME")) != std::string::npos;)
            lines.replace(at, 4, name);
        return lines;
    };
    EXPECT_EQ(bib.errors, named("refs\\n.bib"));
    EXPECT_EQ(cli("--bibtex", BIB).err, named("-"));
    ASSERT_EQ(bib.warnings.size(), 3u);
    EXPECT_FALSE(std::get<3>(bib.warnings[1]));
    EXPECT_EQ(std::get<1>(bib.warnings[2]), std::uint64_t{59}); // the entry's '@'
}

// Each row is one way that embedders drive runs; every run gives what the command line gives.
TEST(API, EveryWayOfDrivingRunsGivesTheCommandLinesAnswer) {
    cli_result text = cli("", TEXT);
    cli_result bib13 = cli("--bibtex --isbn13", BIB);
    cli_result small = cli("--ranges=" + SMALL_EXPORT, TEXT);

    // Two runs interleaved a block at a time, each with its own options.
    {
        taken a, b;
        orvane_hooks ha = taking(a), hb = taking(b);
        orvane_options bibtex13{true, true};
        orvane_run *first = orvane_run_create(nullptr, nullptr, "-", &ha);
        orvane_run *second = orvane_run_create(&bibtex13, nullptr, "-", &hb);
        for (std::size_t at = 0; at < std::max(TEXT.size(), BIB.size()); at += 7) {
            if (at < TEXT.size())
                orvane_run_feed(first, TEXT.data() + at,
                                std::min<std::size_t>(7, TEXT.size() - at));
            if (at < BIB.size())
                orvane_run_feed(second, BIB.data() + at, std::min<std::size_t>(7, BIB.size() - at));
        }
        EXPECT_EQ(orvane_run_finish(second), ORVANE_OK);
        EXPECT_EQ(orvane_run_finish(first), ORVANE_OK);
        orvane_run_free(first);
        orvane_run_free(second);
        EXPECT_EQ(a.output, text.out);
        EXPECT_EQ(a.errors, text.err);
        EXPECT_EQ(b.output, bib13.out);
        EXPECT_EQ(b.errors, bib13.err);
    }

    // A run made, fed and finished inside another run's hooks.
    {
        struct nest {
            taken outer, inner;
        } n;
        orvane_hooks hooks = taking(n.outer);
        hooks.context = &n;
        hooks.change = [](void *c, const orvane_change *) {
            auto &nested = *static_cast<nest *>(c);
            nested.inner = filter(BIB, {true, true});
            return true;
        };
        orvane_run *run = orvane_run_create(nullptr, nullptr, "-", &hooks);
        orvane_run_feed(run, TEXT.data(), TEXT.size());
        EXPECT_EQ(orvane_run_finish(run), ORVANE_OK);
        orvane_run_free(run);
        EXPECT_EQ(n.outer.output, text.out);
        EXPECT_EQ(n.outer.errors, text.err);
        EXPECT_EQ(n.inner.output, bib13.out);
        EXPECT_EQ(n.inner.errors, bib13.err);
    }

    // Runs on two threads at once, with different options and tables, many times over.
    {
        orvane_table *table = small_table();
        std::atomic<int> wrong{0};
        std::thread one([&] {
            for (int i = 0; i < 200; ++i) {
                taken t = filter(TEXT, {}, "-", table);
                wrong += t.output != small.out || t.errors != small.err;
            }
        });
        std::thread two([&] {
            for (int i = 0; i < 200; ++i) {
                taken t = filter(BIB, {true, true}, "-", nullptr, 5);
                wrong += t.output != bib13.out || t.errors != bib13.err;
            }
        });
        one.join();
        two.join();
        EXPECT_EQ(wrong, 0);
        orvane_table_free(table);
    }

    // A hook that cancels, and one that throws, each followed by an unrelated run.
    for (bool throws : {false, true}) {
        taken t;
        orvane_hooks hooks = taking(t);
        hooks.output = throws ? [](void *, const char *, std::size_t) -> bool {
            throw std::runtime_error("the embedder gives up");
        }
        : [](void *, const char *, std::size_t) { return false; };
        std::string big;
        while (big.size() < std::size_t{600} << 10)
            big += "a line with 0201633613 and 0201633612 in it\n";
        orvane_run *run = orvane_run_create(nullptr, nullptr, "-", &hooks);
        if (throws) {
            EXPECT_THROW(orvane_run_feed(run, big.data(), big.size()), std::runtime_error);
        } else {
            EXPECT_EQ(orvane_run_feed(run, big.data(), big.size()), ORVANE_CANCELLED);
            EXPECT_EQ(orvane_run_finish(run), ORVANE_CANCELLED);
        }
        orvane_run_free(run);
        taken next = filter(TEXT);
        EXPECT_EQ(next.output, text.out) << throws;
        EXPECT_EQ(next.errors, text.err) << throws;
    }

    // A warning hook that cancels: nothing more is handed over, not even what was written
    // before the warning and not yet handed over.
    {
        taken t;
        orvane_hooks hooks = taking(t);
        hooks.warning = [](void *, const orvane_warning *) { return false; };
        std::string big;
        while (big.size() < std::size_t{600} << 10)
            big += "0201633613 and 0201633612\n";
        orvane_run *run = orvane_run_create(nullptr, nullptr, "-", &hooks);
        EXPECT_EQ(orvane_run_feed(run, big.data(), big.size()), ORVANE_CANCELLED);
        EXPECT_EQ(orvane_run_finish(run), ORVANE_CANCELLED);
        orvane_run_free(run);
        EXPECT_EQ(t.output, "");
        EXPECT_EQ(filter(TEXT).output, text.out);
    }

    // A refused export leaves the table in use as it was; a run on it is the export's.
    {
        orvane_table *table = small_table();
        orvane_table *refused = nullptr;
        char fault[256];
        std::string broken = "This is a list of ranges.\n";
        EXPECT_EQ(orvane_table_load(broken.data(), broken.size(), "bad\x1b.xml", &refused, fault,
                                    sizeof fault),
                  ORVANE_BAD_EXPORT);
        EXPECT_EQ(refused, nullptr);
        EXPECT_STREQ(fault, "bad\\033.xml: line 1, column 0: not well-formed XML (syntax error)");
        taken t = filter(TEXT, {}, "-", table);
        EXPECT_EQ(t.output, small.out);
        EXPECT_EQ(filter(TEXT).output, text.out); // the built-in table is untouched
        orvane_table_free(table);
    }

    // --check after a run with warnings: its status is its files' alone.
    {
        taken warned = filter("0201633613\n");
        ASSERT_EQ(warned.warnings.size(), 1u);
        std::string clean = testing::TempDir() + "/api-clean-" + std::to_string(getpid());
        std::ofstream(clean) << "nothing to change, 0-201-63361-2\n";
        char *names[] = {clean.data()};
        EXPECT_EQ(check_files(names, 1, orvane_options{}, nullptr), 0);
    }
}

// Tables through their life: loaded, a load refused, another loaded, the first freed while the
// second is in use; each run gives the command line's answer for its table.
TEST(API, TablesLoadedRefusedAndFreedInTurn) {
    const std::string REAL = ORVANE_SOURCE_DIR "/tests/fixtures/ranges/RangeMessage-2024-01-08.xml";
    const std::string probe = "9789969500127 9786010000009 9791032305690 0201633612\n";
    orvane_table *small = small_table();
    orvane_table *refused = nullptr;
    char fault[256];
    std::string broken = read_file(REAL).substr(0, 5000);
    EXPECT_EQ(
        orvane_table_load(broken.data(), broken.size(), "cut.xml", &refused, fault, sizeof fault),
        ORVANE_BAD_EXPORT);
    std::string bytes = read_file(REAL);
    orvane_table *real = nullptr;
    ASSERT_EQ(orvane_table_load(bytes.data(), bytes.size(), "real.xml", &real, fault, sizeof fault),
              ORVANE_OK);
    EXPECT_EQ(filter(probe, {}, "-", small).output, cli("--ranges=" + SMALL_EXPORT, probe).out);
    orvane_table_free(small);
    EXPECT_EQ(filter(probe, {}, "-", real).output, cli("--ranges=" + REAL, probe).out);
    EXPECT_EQ(filter(probe).output, cli("", probe).out);
    orvane_table_free(real);
    EXPECT_EQ(filter(probe, {true, true}).output, cli("--bibtex --isbn13", probe).out);
}

// Names and warnings of any length come whole, as standard error would get them.
TEST(API, LongNamesAndWarningsComeWhole) {
    std::string name(1500, 'n');
    name.replace(700, 1, "\t");
    taken t = filter("0201633613\n@book{k, isbn = {0201633612}", {true, false}, name.c_str());
    std::string shown = name.substr(0, 700) + "\\t" + name.substr(701);
    ASSERT_EQ(t.warnings.size(), 1u);
    EXPECT_EQ(t.errors, shown + ":2:BibTeX entry not closed at the end of the input.\n");
    taken plain = filter("0201633613\n", {}, name.c_str());
    EXPECT_EQ(plain.errors, shown + ":1:invalid ISBN-10 value [0201633613].\n");
    EXPECT_EQ(std::get<2>(plain.warnings[0]), "invalid ISBN-10 value [0201633613]");
}

TEST(API, ATextGivenAByteOrALineAtATimeGivesTheSameAnswer) {
    const std::string text =
        "@book{a,\n  isbn = {0201633612},\n  note = {0201633613},\n"
        "  isbn = \"978020189683\n1 and 0201633613\"}\n@misc{b, isbn = {0201633612}\n"
        "http://x/0201633612 0201633612\r\nlast 9780201896831";
    for (bool bibtex : {false, true}) {
        taken whole = filter(text, {bibtex, false});
        for (std::size_t part : {1, 2, 13}) {
            taken t = filter(text, {bibtex, false}, "-", nullptr, part);
            EXPECT_EQ(t.output, whole.output) << bibtex << part;
            EXPECT_EQ(t.errors, whole.errors) << bibtex << part;
            EXPECT_EQ(t.changes, whole.changes) << bibtex << part;
        }
    }
}

// What a part's whole lines make is handed over when the part is fed, not held until the end:
// an embedder shows its output as it comes.
TEST(API, EachPartsOutputIsHandedOverAtOnce) {
    taken t;
    orvane_hooks hooks = taking(t);
    orvane_run *run = orvane_run_create(nullptr, nullptr, "-", &hooks);
    EXPECT_EQ(orvane_run_feed(run, "a 0201633612\nb 02016", 20), ORVANE_OK);
    EXPECT_EQ(t.output, "a 0-201-63361-2\n");
    EXPECT_EQ(orvane_run_feed(run, "33612\n", 6), ORVANE_OK);
    EXPECT_EQ(t.output, "a 0-201-63361-2\nb 0-201-63361-2\n");
    EXPECT_EQ(orvane_run_finish(run), ORVANE_OK);
    orvane_run_free(run);
}

TEST(API, MisuseAndStatusesAreWorded) {
    EXPECT_EQ(orvane_run_feed(nullptr, "x", 1), ORVANE_MISUSE);
    orvane_run *run = orvane_run_create(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(orvane_run_feed(run, "0201633612", 10), ORVANE_OK);
    EXPECT_EQ(orvane_run_finish(run), ORVANE_OK);
    EXPECT_EQ(orvane_run_feed(run, "x", 1), ORVANE_MISUSE);
    orvane_run_free(run);
    for (orvane_status status :
         {ORVANE_OK, ORVANE_OUT_OF_MEMORY, ORVANE_CANCELLED, ORVANE_BAD_EXPORT, ORVANE_MISUSE})
        EXPECT_STRNE(orvane_status_text(status), "Unknown status");
    std::string huge(RANGE_MESSAGE_MAX + 1, ' ');
    orvane_table *table = nullptr;
    char fault[128];
    EXPECT_EQ(orvane_table_load(huge.data(), huge.size(), "huge.xml", &table, fault, sizeof fault),
              ORVANE_BAD_EXPORT);
    EXPECT_STREQ(fault, "huge.xml: larger than 16 MiB, far more than a range export");
}

} // namespace

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Every allocation of a load, made to fail in turn: each load fails as out of memory or
// succeeds, and the table in use before it gives the command line's answer after it.
namespace {
std::atomic<long> allocations_left{-1}; // -1: never fail
} // namespace

void *operator new(std::size_t size) {
    if (allocations_left >= 0 && allocations_left-- == 0)
        throw std::bad_alloc();
    if (void *p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept {
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept {
    std::free(p);
}

TEST(API, ALoadThatRunsOutOfMemoryAnywhereLeavesTheTableInUse) {
    std::string bytes = read_file(SMALL_EXPORT);
    cli_result small = cli("--ranges=" + SMALL_EXPORT, TEXT);
    orvane_table *in_use = small_table();
    int failed = 0;
    for (long n = 0;; ++n) {
        orvane_table *table = nullptr;
        char fault[256];
        allocations_left = n;
        orvane_status status =
            orvane_table_load(bytes.data(), bytes.size(), "small.xml", &table, fault, sizeof fault);
        allocations_left = -1;
        if (status == ORVANE_OK) {
            // Only a whole table is ever given.
            EXPECT_EQ(filter(TEXT, {}, "-", table).output, small.out) << n;
            orvane_table_free(table);
            break;
        }
        ++failed;
        ASSERT_EQ(status, ORVANE_OUT_OF_MEMORY) << n << ": " << fault;
        ASSERT_STREQ(fault, "small.xml: out of memory while loading it");
        ASSERT_EQ(table, nullptr);
        taken t = filter(TEXT, {}, "-", in_use);
        ASSERT_EQ(t.output, small.out) << n;
    }
    EXPECT_GT(failed, 10);
    orvane_table_free(in_use);
}
#endif
