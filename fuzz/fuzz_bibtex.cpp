// BibTeX mode on arbitrary bytes, held to the plain BibTeX reader of the tests, which shares
// nothing with it: output and warnings must be what the plain reader makes of the input, which
// finds the values of the ISBN fields by BibTeX's rules and hands them to the plain filter, in
// one block, a line at a time and as an argument. Also checks that hyphens are the only thing
// it adds, moves or drops, that a line holding "://" comes out as it went in, that text without
// '@' comes out unchanged and without a warning, and that the scanning kernels agree with their
// scalar twins.

#include "bibtex.h"
#include "diagnostics.h"
#include "fuzz_support.h"
#include "plain_bibtex.h"

#include <cstdint>
#include <string>

namespace {

std::string without_hyphens(std::string_view text) {
    std::string out;
    for (char c : text)
        if (c != '-')
            out += c;
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char *>(data), size);
    check_kernels(input);

    captured_stdout.clear();
    captured_stderr.clear();
    text_input whole_input;
    whole_input.run = &fresh_run({true, false});
    start_bibtex_input(whole_input);
    filter_bibtex_lines(whole_input, input.data(), input.size());
    finish_bibtex_input(whole_input);
    std::string whole(filter_output());
    std::string whole_warnings(error_output());
    plain_result plain = plain_filter_bibtex(input, false);
    if (whole != plain.out)
        fuzz_failure("BibTeX mode and the plain BibTeX reader write different text\n");
    if (whole_warnings != plain.err)
        fuzz_failure("BibTeX mode and the plain BibTeX reader warn differently\n");

    if (without_hyphens(whole) != without_hyphens(input))
        fuzz_failure("the output differs from the input in more than hyphens\n");
    std::size_t in_line = 0;
    std::size_t out_line = 0;
    while (in_line < input.size() && out_line < whole.size()) {
        std::size_t in_end = input.find('\n', in_line);
        std::size_t out_end = whole.find('\n', out_line);
        std::string_view before = input.substr(in_line, in_end - in_line);
        std::string_view after = std::string_view(whole).substr(out_line, out_end - out_line);
        if (before.find("://") != std::string_view::npos && before != after)
            fuzz_failure("a line with :// was changed\n");
        if (in_end == std::string_view::npos || out_end == std::string::npos)
            break;
        in_line = in_end + 1;
        out_line = out_end + 1;
    }
    if (input.find('@') == std::string_view::npos && (whole != input || !whole_warnings.empty()))
        fuzz_failure("text without '@' was changed or warned about\n");

    // A line at a time, as the input loop hands over lines when they come one by one.
    captured_stdout.clear();
    captured_stderr.clear();
    text_input lines_input;
    lines_input.run = &fresh_run({true, false});
    start_bibtex_input(lines_input);
    for (std::size_t start = 0; start < input.size();) {
        std::size_t end = input.find('\n', start);
        end = end == std::string_view::npos ? input.size() : end + 1;
        filter_bibtex_lines(lines_input, input.data() + start, end - start);
        start = end;
    }
    finish_bibtex_input(lines_input);
    if (filter_output() != whole || error_output() != whole_warnings)
        fuzz_failure("one block and a line at a time disagree\n");

    // As an argument: the same text, warnings at line 0.
    captured_stdout.clear();
    captured_stderr.clear();
    filter_bibtex_text(fresh_run({true, false}), input.data(), input.size());
    plain = plain_filter_bibtex(input, true);
    if (filter_output() != plain.out || error_output() != plain.err)
        fuzz_failure("BibTeX mode and the plain BibTeX reader disagree on an argument\n");
    return 0;
}
