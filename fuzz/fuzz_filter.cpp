// The filter on arbitrary bytes. Checks that hyphens are the only thing it adds, moves or drops,
// that a line holding "://" comes out as it went in, that the block filter writes what the
// line-by-line filter writes, and that the scanning kernels agree with their scalar twins.

#include "diagnostics.h"
#include "filter.h"
#include "fuzz_support.h"
#include "scan.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::string without_hyphens(std::string_view text) {
    std::string out;
    for (char c : text)
        if (c != '-')
            out += c;
    return out;
}

std::vector<std::string_view> lines_of(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        end = end == std::string_view::npos ? text.size() : end + 1;
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end);
    }
    return lines;
}

// The SIMD kernels and their scalar twins, walked through the input as the filter walks.
void check_kernels(std::string_view input) {
    const char *end = input.data() + input.size();
    for (const char *p = input.data(); p < end;) {
        std::size_t fast = 0;
        std::size_t plain = 0;
        const char *digit = find_digit(p, end, fast);
        if (digit != find_digit_scalar(p, end, plain) || fast != plain)
            fuzz_failure("find_digit and its scalar twin disagree\n");
        p = digit + 1;
    }
    for (const char *p = input.data(); p < end;) {
        const char *mark = find_url_mark(p, end);
        if (mark != find_url_mark_scalar(p, end))
            fuzz_failure("find_url_mark and its scalar twin disagree\n");
        p = mark + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    capture_standard_streams();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char *>(data), size);
    check_kernels(input);

    captured_stdout.clear();
    captured_stderr.clear();
    line_number = 0;
    filter_lines(input.data(), input.size());
    std::string block(filter_output());
    std::string block_warnings(captured_stderr.contents());

    if (without_hyphens(block) != without_hyphens(input))
        fuzz_failure("the output differs from the input in more than hyphens\n");
    std::vector<std::string_view> in = lines_of(input);
    std::vector<std::string_view> out = lines_of(block);
    if (in.size() != out.size())
        fuzz_failure("the output has another number of lines\n");
    for (std::size_t i = 0; i < in.size(); ++i)
        if (in[i].find("://") != std::string_view::npos && in[i] != out[i])
            fuzz_failure("a line with :// was changed\n");

    captured_stdout.clear();
    captured_stderr.clear();
    line_number = 0;
    for (std::string_view line : in) {
        ++line_number;
        filter_text(line.data(), line.size());
    }
    if (filter_output() != block || captured_stderr.contents() != block_warnings)
        fuzz_failure("the block filter and the line-by-line filter disagree\n");
    return 0;
}
