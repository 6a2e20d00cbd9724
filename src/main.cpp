// orvane: hyphenate the ISBNs in text from the command line or standard input.

#include "bibtex.h"
#include "diagnostics.h"
#include "filter.h"
#include "input.h"
#include "output.h"

#include <cstdio>
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
    "With a leading --bibtex, change only the values of ISBN fields of BibTeX entries.\n"
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

} // namespace

// The leading options choose the mode; the texts after them, if any, are filtered instead of
// standard input.
int main(int argc, char **argv) {
    bool bibtex = false;
    int first = 1;
    for (; first < argc; ++first) {
        if (std::strcmp(argv[first], "--bibtex") == 0)
            bibtex = true;
        else
            break;
    }
    line_number = 0;
    start_output();
    if (first < argc) {
        filter_arguments(first, argc, argv, bibtex);
    } else {
        refuse_input_that_is_output();
        filter_input(STDIN_FILENO, bibtex ? filter_bibtex_lines : filter_lines, read);
        if (bibtex)
            finish_bibtex_input();
    }
    finish_output();
    return 0;
}
