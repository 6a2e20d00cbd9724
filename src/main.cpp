// orvane: hyphenate the ISBNs in text from the command line or standard input.

#include "diagnostics.h"
#include "filter.h"
#include "output.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

constexpr const char *VERSION = ORVANE_VERSION;
constexpr const char *RELEASE_DATE = "26-Dec-2021";

constexpr const char *HELP_TEXT =
    "orvane [ --help ] [ --version ] [ arguments ]\n"
    "\n"
    "Hyphenate apparent ISBN-10 and ISBN-13 data on the command line, or stdin.\n"
    "Arguments or lines that resemble Web URLs are copied verbatim.\n"
    "\n"
    "With one or more arguments, filter them to stdout, and do not read stdin.\n"
    "\n"
    "Without arguments, filter lines from stdin to stdout.\n"
    "\n"
    "After careful comparison of input and output streams, it may be safe to\n"
    "apply this program to most BibTeX files.\n";

// Input is read in blocks of this size; the buffer grows only for a longer line.
constexpr std::size_t BLOCK_SIZE = 128 * 1024;

// Filters the arguments in order, one space between two and a newline after the last. An
// option stops the run where it stands, after the text already written.
void filter_arguments(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            write_output(HELP_TEXT, std::strlen(HELP_TEXT));
            return;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            char line[64];
            int length =
                std::snprintf(line, sizeof line, "orvane %s [%s]\n", VERSION, RELEASE_DATE);
            write_output(line, static_cast<std::size_t>(length));
            return;
        }
        filter_text(argv[i]);
        write_output_byte(i + 1 < argc ? ' ' : '\n');
    }
}

[[noreturn]] void report_read_error() {
    char message[160];
    std::snprintf(message, sizeof message, "Read error on standard input: %s",
                  std::strerror(errno));
    report_fatal(message);
}

// Reads standard input in large blocks and hands the filter whole lines only, so a line is
// never cut however long it is: the buffer doubles while a line does not fit.
void filter_standard_input() {
    std::size_t capacity = BLOCK_SIZE;
    char *buffer = static_cast<char *>(std::malloc(capacity));
    if (buffer == nullptr)
        report_fatal("Out of memory for an input line");
    std::size_t held = 0;
    int read_error = 0;
    for (;;) {
        if (held == capacity) {
            char *larger = static_cast<char *>(std::realloc(buffer, capacity * 2));
            if (larger == nullptr)
                report_fatal("Out of memory for an input line");
            buffer = larger;
            capacity *= 2;
        }
        ssize_t got = read(STDIN_FILENO, buffer + held, capacity - held);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            read_error = errno;
            break;
        }
        if (got == 0)
            break;
        const char *fresh = buffer + held;
        held += static_cast<std::size_t>(got);
        const void *last_newline = memrchr(fresh, '\n', static_cast<std::size_t>(got));
        if (last_newline == nullptr)
            continue;
        std::size_t whole =
            static_cast<std::size_t>(static_cast<const char *>(last_newline) - buffer) + 1;
        filter_lines(buffer, whole);
        sync_output();
        std::memmove(buffer, buffer + whole, held - whole);
        held -= whole;
    }
    // The last line, or the part of a line read before an error, is filtered like the rest.
    filter_lines(buffer, held);
    std::free(buffer);
    if (read_error != 0) {
        errno = read_error;
        report_read_error();
    }
}

} // namespace

int main(int argc, char **argv) {
    line_number = 0;
    start_output();
    if (argc < 2)
        filter_standard_input();
    else
        filter_arguments(argc, argv);
    finish_output();
    return 0;
}
