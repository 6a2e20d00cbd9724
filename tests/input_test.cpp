// The input loop under reads that come short, are interrupted, would block or fail: the output
// is what the whole input gives, or on a failure a prefix of it without invented warnings.

#include "files.h"
#include "input.h"
#include "output.h"
#include "run.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// One read of the script: a number of bytes to hand over, or an error to fail with.
struct event {
    std::size_t bytes;
    int error;
};

std::string script_input;
std::vector<event> script;
std::size_t script_position;
std::size_t script_step;

// Plays the script, then hands over the rest in one read, then reports the end.
ssize_t scripted_read(int, void *buffer, std::size_t count) {
    if (script_step < script.size()) {
        event next = script[script_step++];
        if (next.error != 0) {
            errno = next.error;
            return -1;
        }
        count = std::min(count, next.bytes);
    }
    count = std::min(count, script_input.size() - script_position);
    std::copy_n(script_input.data() + script_position, count, static_cast<char *>(buffer));
    script_position += count;
    return static_cast<ssize_t>(count);
}

struct run_result {
    std::string out;
    std::string err;
    int status;
};

std::string read_file(std::FILE *file) {
    std::string text;
    std::rewind(file);
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, got);
    return text;
}

// Runs the input loop in a child process, since a read error ends the run, with standard
// output off a terminal as in real use.
constexpr orvane_options TEXT{};
constexpr orvane_options BIBTEX{true, false};

run_result run_script(const std::string &input, std::vector<event> events,
                      const orvane_options &options = TEXT) {
    std::FILE *out = std::tmpfile();
    std::FILE *err = std::tmpfile();
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        dup2(fileno(out), STDOUT_FILENO);
        dup2(fileno(err), STDERR_FILENO);
        script_input = input;
        script = std::move(events);
        script_position = script_step = 0;
        auto run = std::make_unique<orvane_run>(options, nullptr);
        set_error_destination(run->out, STDERR_FILENO);
        start_output(run->out, STDOUT_FILENO);
        // Always ready: a script that would block is waited for without a pause.
        int ready = open("/dev/null", O_RDONLY);
        start_input(*run, "-");
        input_end end = filter_descriptor(*run, ready, scripted_read);
        if (end.how == input_end::read_error) {
            hand_over_output(run->out);
            report_error(*run, "Read error on standard input: Input/output error");
            _exit(1);
        }
        finish_output(run->out);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    run_result result{read_file(out), read_file(err), WIFEXITED(status) ? WEXITSTATUS(status) : -1};
    std::fclose(out);
    std::fclose(err);
    return result;
}

const std::string INPUT = "0201633612 see http://x\n"
                          "isbn 9780201637007 and 0201633613\n"
                          "isbn 9780201633610\n"
                          "last 0201633612";

TEST(InputLoop, ShortInterruptedAndBlockedReadsChangeNothing) {
    run_result whole = run_script(INPUT, {});
    ASSERT_EQ(whole.status, 0);
    EXPECT_EQ(whole.out, "0201633612 see http://x\n"
                         "isbn 978-0-201-63700-7 and 0201633613\n"
                         "isbn 978-0-201-63361-0\n"
                         "last 0-201-63361-2");
    EXPECT_EQ(whole.err, "-:2:invalid ISBN-10 value [0201633613].\n");
    for (int error : {0, EINTR, EAGAIN}) {
        for (std::size_t size : {1, 2, 7, 23, 24, 25}) {
            std::vector<event> events;
            for (std::size_t at = 0; at < INPUT.size(); at += size) {
                events.push_back({size, 0});
                if (error != 0)
                    events.push_back({0, error});
            }
            run_result got = run_script(INPUT, events);
            EXPECT_EQ(got.status, 0) << "reads of " << size << ", error " << error;
            EXPECT_EQ(got.out, whole.out) << "reads of " << size << ", error " << error;
            EXPECT_EQ(got.err, whole.err) << "reads of " << size << ", error " << error;
        }
    }
}

TEST(InputLoop, ReadErrorLeavesAPrefixAndNoInventedWarning) {
    run_result whole = run_script(INPUT, {});
    for (std::size_t at = 0; at <= INPUT.size(); ++at) {
        std::vector<event> events{{at, 0}, {0, EIO}};
        if (at == 0)
            events.erase(events.begin()); // a read of 0 bytes would be the end of the input
        run_result got = run_script(INPUT, events);
        EXPECT_EQ(got.status, 1) << "error after " << at << " bytes";
        EXPECT_EQ(whole.out.compare(0, got.out.size(), got.out), 0)
            << "error after " << at << " bytes: " << got.out;
        const std::string fatal = "?? Read error on standard input: Input/output error\n";
        ASSERT_GE(got.err.size(), fatal.size());
        EXPECT_EQ(got.err.substr(got.err.size() - fatal.size()), fatal);
        std::string warnings = got.err.substr(0, got.err.size() - fatal.size());
        EXPECT_EQ(whole.err.compare(0, warnings.size(), warnings), 0)
            << "error after " << at << " bytes: " << warnings;
        // Whole lines read before the error are all written.
        std::size_t lines = std::count(INPUT.begin(), INPUT.begin() + static_cast<long>(at), '\n');
        EXPECT_EQ(std::count(got.out.begin(), got.out.end(), '\n'), static_cast<long>(lines));
    }
}

// The BibTeX parser carries its state from block to block: with reads of a few bytes every
// line is a block of its own, and the result is that of the whole input.
TEST(InputLoop, BibTeXStateCarriesAcrossBlocks) {
    const std::string bib = "@book{a,\n  isbn =\n {0201633612\n 9780201633610},\n  note = \"{\"}\n"
                            "0201633612\",\n  isbn = \"0201633613\" # {0201633612}}\n"
                            "@book{b, title = {closed},\n  isbn = {0201633612}\n@misc\n(c, isbn = "
                            "{0201633612},\n  note = {x\n@book{d, isbn = {0201633612}}";
    run_result whole = run_script(bib, {}, BIBTEX);
    EXPECT_EQ(whole.out, "@book{a,\n  isbn =\n {0-201-63361-2\n 978-0-201-63361-0},\n  note = "
                         "\"{\"}\n0201633612\",\n  isbn = \"0201633613\" # {0-201-63361-2}}\n"
                         "@book{b, title = {closed},\n  isbn = {0-201-63361-2}\n@misc\n(c, isbn = "
                         "{0-201-63361-2},\n  note = {x\n@book{d, isbn = {0201633612}}");
    EXPECT_EQ(whole.err, "-:7:invalid ISBN-10 value [0201633613].\n"
                         "-:8:BibTeX entry not closed before the entry on line 10.\n"
                         "-:10:BibTeX entry not closed at the end of the input.\n");
    for (std::size_t size : {1, 2, 5, 13}) {
        std::vector<event> events(bib.size(), event{size, 0});
        run_result got = run_script(bib, events, BIBTEX);
        EXPECT_EQ(got.out, whole.out) << "reads of " << size;
        EXPECT_EQ(got.err, whole.err) << "reads of " << size;
    }
}

} // namespace
