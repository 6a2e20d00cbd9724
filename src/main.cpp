// orvane: hyphenate the ISBNs in text from the command line or standard input.

#include "bibtex.h"
#include "diagnostics.h"
#include "files.h"
#include "filter.h"
#include "input.h"
#include "isbn.h"
#include "lsp.h"
#include "output.h"
#include "range_message.h"
#include "run.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char *VERSION = ORVANE_VERSION;
constexpr const char *RELEASE_DATE = "26-Dec-2021";

constexpr const char *HELP_TEXT =
    "orvane [ --help ] [ --version ] [ --bibtex ] [ --isbn13 ] [ --ranges=FILE ] [ arguments ]\n"
    "orvane [ --bibtex ] [ --isbn13 ] [ --ranges=FILE ] --in-place FILE ...\n"
    "orvane [ --bibtex ] [ --isbn13 ] [ --ranges=FILE ] --check [ FILE ... ]\n"
    "orvane --lsp\n"
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
    "With --lsp, serve an editor over the Language Server Protocol on stdin and stdout.\n"
    "\n"
    "Exit status: 0; 1 after an error, or with --check when anything would change\n"
    "or a warning about the input was given; 2 after a usage error.\n"
    "\n"
    "After careful comparison of input and output streams, it may be safe to\n"
    "apply this program to most BibTeX files.\n";

// Ends the process with status 1 after "?? MESSAGE" on standard error, once everything the run
// wrote before has gone out.
[[noreturn]] void fatal(orvane_run &run, const char *message) {
    hand_over_output(run.out);
    report_error(run, message);
    std::exit(1);
}

// The same with "?? WHAT: REASON", where REASON describes the error number.
[[noreturn]] void errno_fatal(orvane_run &run, const char *what, int error) {
    fatal(run, (std::string(what) + ": " + std::strerror(error)).c_str());
}

// Filters the arguments in order, one space between two and a newline after the last. An
// option stops the run where it stands, after the text already written.
void filter_arguments(orvane_run &run, int first, int argc, char **argv) {
    for (int i = first; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            write_output(run.out, HELP_TEXT, std::strlen(HELP_TEXT));
            return;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            char line[64];
            int length =
                std::snprintf(line, sizeof line, "orvane %s [%s]\n", VERSION, RELEASE_DATE);
            write_output(run.out, line, static_cast<std::size_t>(length));
            return;
        }
        if (run.options.bibtex)
            filter_bibtex_text(run, argv[i], std::strlen(argv[i]));
        else
            filter_text(run, argv[i]);
        write_output_byte(run.out, i + 1 < argc ? ' ' : '\n');
    }
}

// Makes table of the export at path, or ends the run before any output; its messages name the
// path after the text that says where it came from (the option or the variable, as given).
void load_ranges(orvane_run &run, range_table &table, const char *path, const char *source) {
    range_message message;
    std::string name = source + shown_name(path);
    std::string fault = read_range_message(path, name, message);
    if (!fault.empty())
        fatal(run, fault.c_str());
    if (!make_ISBN_table(table, message))
        fatal(run, (name + ": out of memory while loading it").c_str());
}

// The output is read again when it appends, or when it starts before where the input stands at
// its end: the bytes written would come back as input. A file that is empty when both are the
// same is most likely one that the shell emptied for the output (orvane < f > f): its content
// was lost before orvane started, and saying nothing would hide that.
void refuse_input_that_is_output(orvane_run &run) {
    struct stat in {};
    struct stat out {};
    if (fstat(STDIN_FILENO, &in) != 0 || fstat(STDOUT_FILENO, &out) != 0)
        return;
    if (!S_ISREG(in.st_mode) || !S_ISREG(out.st_mode) || in.st_dev != out.st_dev ||
        in.st_ino != out.st_ino)
        return;
    int flags = fcntl(STDOUT_FILENO, F_GETFL);
    off_t input_at = lseek(STDIN_FILENO, 0, SEEK_CUR);
    off_t output_at = lseek(STDOUT_FILENO, 0, SEEK_CUR);
    if ((flags != -1 && (flags & O_APPEND) != 0) || output_at < in.st_size ||
        input_at < output_at || in.st_size == 0)
        fatal(run, "Input file is output file");
}

// Filters standard input to standard output, after refusing standard input that is the output
// file. A failure is fatal, with its message.
void filter_standard_input(orvane_run &run) {
    refuse_input_that_is_output(run);
    start_input(run, "-");
    input_end end = filter_descriptor(run, STDIN_FILENO, read);
    switch (end.how) {
    case input_end::complete:
        return;
    case input_end::read_error:
        errno_fatal(run, "Read error on standard input", end.error);
    case input_end::write_error:
        errno_fatal(run, "Write error on standard output", end.error);
    case input_end::out_of_memory:
        fatal(run, OUT_OF_MEMORY_FOR_A_LINE);
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
[[noreturn]] void usage_error(orvane_run &run, const char *message) {
    report_error(run, message);
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
    // The language server takes its settings from the editor; it stands alone, and among other
    // leading options or before arguments it is a usage error.
    if (argc == 2 && std::strcmp(argv[1], "--lsp") == 0)
        return serve_language_server(STDIN_FILENO, STDOUT_FILENO);
    constexpr const char *LSP_ALONE = "?? --lsp takes no other option or argument: orvane --lsp\n";
    constexpr std::string_view RANGES = "--ranges=";
    orvane_options options;
    bool in_place = false;
    bool check = false;
    const char *ranges = nullptr;
    bool options_ended = false; // by "--", after --in-place or --check
    int first = 1;
    for (; first < argc; ++first) {
        if (std::strcmp(argv[first], "--bibtex") == 0)
            options.bibtex = true;
        else if (std::strcmp(argv[first], "--in-place") == 0)
            in_place = true;
        else if (std::strcmp(argv[first], "--check") == 0)
            check = true;
        else if (std::strcmp(argv[first], "--isbn13") == 0)
            options.isbn13 = true;
        else if (std::string_view(argv[first]).substr(0, RANGES.size()) == RANGES)
            ranges = argv[first] + RANGES.size();
        else if (std::strcmp(argv[first], "--lsp") == 0) {
            std::fputs(LSP_ALONE, stderr);
            return 2;
        } else if ((in_place || check) && std::strcmp(argv[first], "--") == 0) {
            options_ended = true;
            ++first;
            break;
        } else
            break;
    }
    bool answers =
        !options_ended && first < argc &&
        (std::strcmp(argv[first], "--help") == 0 || std::strcmp(argv[first], "--version") == 0);
    // The run of standard input or the arguments, whose output is standard output; the table it
    // and every file's run use is the built-in one, or the export's.
    range_table loaded;
    const range_table *table = nullptr; // the built-in one
    auto run = std::make_unique<orvane_run>(options, table);
    set_error_destination(run->out, STDERR_FILENO);
    if (in_place && check)
        usage_error(*run, "--in-place and --check cannot be used together");
    if (in_place && first == argc)
        usage_error(*run, "--in-place needs a file: orvane [ --bibtex ] [ --isbn13 ] "
                          "[ --ranges=FILE ] --in-place FILE ...");
    if (in_place && !answers)
        for (int i = first; i < argc; ++i)
            if (std::strcmp(argv[i], "-") == 0)
                usage_error(*run, "--in-place cannot replace standard input (-)");
    start_output(run->out, STDOUT_FILENO);
    // --ranges wins over the variable, which the Perl ISBN library reads too.
    const char *variable = std::getenv("ISBN_RANGE_MESSAGE");
    if (ranges != nullptr && !answers)
        load_ranges(*run, loaded, ranges, *ranges == '\0' ? "--ranges=" : "");
    else if (variable != nullptr && *variable != '\0' && !answers)
        load_ranges(*run, loaded, variable, "ISBN_RANGE_MESSAGE=");
    if (!loaded.rows.empty())
        run->table = table = &loaded;
    bool files = in_place || check;
    if (files && !answers)
        return in_place ? filter_files_in_place(argv + first, argc - first, options, table)
                        : check_files(argv + first, argc - first, options, table);
    if (first < argc)
        filter_arguments(*run, first, files ? first + 1 : argc, argv);
    else
        filter_standard_input(*run);
    finish_output(run->out);
    if (output_error(run->out) != 0)
        errno_fatal(*run, "Write error on standard output", output_error(run->out));
    return 0;
}
