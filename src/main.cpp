// orvane: hyphenate the ISBNs in text from the command line or standard input.

#include "bibtex.h"
#include "diagnostics.h"
#include "files.h"
#include "filter.h"
#include "input.h"
#include "isbn.h"
#include "output.h"
#include "range_message.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

constexpr const char *VERSION = ORVANE_VERSION;
constexpr const char *RELEASE_DATE = "26-Dec-2021";

constexpr const char *HELP_TEXT =
    "orvane [ --help ] [ --version ] [ --bibtex ] [ --isbn13 ] [ --ranges=FILE ] [ arguments ]\n"
    "orvane [ --bibtex ] [ --isbn13 ] [ --ranges=FILE ] --in-place FILE ...\n"
    "orvane [ --bibtex ] [ --isbn13 ] [ --ranges=FILE ] --check [ FILE ... ]\n"
    "\n"
    "Hyphenate apparent ISBN-10 and ISBN-13 data on the command line, or stdin.\n"
    "Arguments or lines that resemble Web URLs are copied verbatim.\n"
    "\n"
    "With one or more arguments, filter them to stdout, and do not read stdin.\n"
    "\n"
    "Without arguments, filter lines from stdin to stdout.\n"
    "With a leading --bibtex, change only the values of ISBN fields of BibTeX entries.\n"
    "With a leading --isbn13, write each ISBN-10 that the table places as an ISBN-13.\n"
    "With a leading --ranges=FILE, hyphenate by the agency's RangeMessage.xml at FILE;\n"
    "without it, by the one that ISBN_RANGE_MESSAGE names, if set.\n"
    "With --in-place, filter each FILE and replace it where its content changes.\n"
    "With --check, write nothing, and report what would change in each FILE (or stdin).\n"
    "\n"
    "Exit status: 0; 1 after an error, or with --check when anything would change\n"
    "or a warning about the input was given; 2 after a usage error.\n"
    "\n"
    "After careful comparison of input and output streams, it may be safe to\n"
    "apply this program to most BibTeX files.\n";

// Filters the arguments in order, one space between two and a newline after the last. An
// option stops the run where it stands, after the text already written.
void filter_arguments(int first, int argc, char **argv, bool bibtex) {
    for (int i = first; i < argc; ++i) {
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
        if (bibtex)
            filter_bibtex_text(argv[i], std::strlen(argv[i]));
        else
            filter_text(argv[i]);
        write_output_byte(i + 1 < argc ? ' ' : '\n');
    }
}

// Replaces the built-in range table by the export at path, or ends the run before any output;
// its messages name the path after the text that says where it came from (the option or the
// variable, as given).
void load_ranges(const char *path, const char *source) {
    range_message message;
    std::string name = source + shown_name(path);
    std::string fault = read_range_message(path, name, message);
    if (!fault.empty())
        report_fatal(fault.c_str());
    try {
        ISBN_load_range_message(message);
    } catch (const std::bad_alloc &) {
        report_fatal((name + ": out of memory while loading it").c_str());
    }
}

// Opens each of the standard descriptors that is closed on /dev/null, before anything else is
// opened: a file opened later must never become standard error, where warnings would land in it.
// Each is opened so that using it fails as a closed one does (standard input write-only, standard
// output and error read-only), so a closed standard output is still a write error. Without
// /dev/null the run cannot be made safe and ends at once.
void take_closed_standard_descriptors() {
    for (int number : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (fcntl(number, F_GETFD) != -1 || errno != EBADF)
            continue;
        int opened = open("/dev/null", number == STDIN_FILENO ? O_WRONLY : O_RDONLY);
        if (opened != number)
            _exit(1);
    }
}

// Ends the run before anything is touched, with status 2.
[[noreturn]] void usage_error(const char *message) {
    report_error(message);
    std::exit(2);
}

} // namespace

// The leading options, in any order, choose the mode, the ranges and where the work goes: the
// texts after them, if any, are filtered instead of standard input; with --in-place or --check
// they are files. --help and --version answer where a text or file would start.
//
// With --in-place or --check, "--" ends the leading options, so that a file whose name looks
// like an option is a file; for a filter of arguments it stays a text to filter.
int main(int argc, char **argv) {
    take_closed_standard_descriptors();
    constexpr std::string_view RANGES = "--ranges=";
    bool bibtex = false;
    bool in_place = false;
    bool check = false;
    bool isbn13 = false;
    const char *ranges = nullptr;
    bool options_ended = false; // by "--", after --in-place or --check
    int first = 1;
    for (; first < argc; ++first) {
        if (std::strcmp(argv[first], "--bibtex") == 0)
            bibtex = true;
        else if (std::strcmp(argv[first], "--in-place") == 0)
            in_place = true;
        else if (std::strcmp(argv[first], "--check") == 0)
            check = true;
        else if (std::strcmp(argv[first], "--isbn13") == 0)
            isbn13 = true;
        else if (std::string_view(argv[first]).substr(0, RANGES.size()) == RANGES)
            ranges = argv[first] + RANGES.size();
        else if ((in_place || check) && std::strcmp(argv[first], "--") == 0) {
            options_ended = true;
            ++first;
            break;
        } else
            break;
    }
    bool answers =
        !options_ended && first < argc &&
        (std::strcmp(argv[first], "--help") == 0 || std::strcmp(argv[first], "--version") == 0);
    if (in_place && check)
        usage_error("--in-place and --check cannot be used together");
    if (in_place && first == argc)
        usage_error("--in-place needs a file: orvane [ --bibtex ] [ --isbn13 ] [ --ranges=FILE ] "
                    "--in-place FILE ...");
    if (in_place && !answers)
        for (int i = first; i < argc; ++i)
            if (std::strcmp(argv[i], "-") == 0)
                usage_error("--in-place cannot replace standard input (-)");
    start_output(STDOUT_FILENO);
    // --ranges wins over the variable, which the Perl ISBN library reads too.
    const char *variable = std::getenv("ISBN_RANGE_MESSAGE");
    if (ranges != nullptr && !answers)
        load_ranges(ranges, *ranges == '\0' ? "--ranges=" : "");
    else if (variable != nullptr && *variable != '\0' && !answers)
        load_ranges(variable, "ISBN_RANGE_MESSAGE=");
    write_ISBN_10_as_13(isbn13);
    const input_mode &mode = filter_mode(bibtex);
    bool files = in_place || check;
    if (files && !answers)
        return in_place ? filter_files_in_place(argv + first, argc - first, mode)
                        : check_files(argv + first, argc - first, mode);
    if (first < argc)
        filter_arguments(first, files ? first + 1 : argc, argv, bibtex);
    else
        filter_standard_input(mode);
    finish_output();
    if (output_error() != 0)
        report_errno_fatal("Write error on standard output", output_error());
    return 0;
}
