// The filter on arbitrary bytes, held to the plain reference filter of the tests, which shares
// nothing with it but the range table: the block filter (standard input) and the text filter
// (an argument) must write the same bytes and the same warnings. The scanning kernels must
// agree with their scalar twins.

#include "filter.h"
#include "fuzz_support.h"
#include "plain_filter.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char *>(data), size);
    check_kernels(input);

    captured_stdout.clear();
    captured_stderr.clear();
    orvane_run &run = fresh_run();
    text_input text;
    text.run = &run;
    start_text_input(text);
    filter_lines(text, input.data(), input.size());
    plain_result plain = plain_filter_lines(input);
    if (filter_output() != plain.out)
        fuzz_failure("the block filter and the plain filter write different text\n");
    if (error_output() != plain.err)
        fuzz_failure("the block filter and the plain filter warn differently\n");

    captured_stdout.clear();
    captured_stderr.clear();
    filter_text(fresh_run(), input.data(), input.size());
    plain = plain_filter_text(input);
    if (filter_output() != plain.out || error_output() != plain.err)
        fuzz_failure("the text filter and the plain filter disagree on an argument\n");
    return 0;
}
