// compare_ISBN_range on arbitrary triples, and the table's upkeep on arbitrary small tables:
// ISBN_initialize, do_print_ISBN_table and ISBN_free_table, with lookups in between that must
// agree with the plain walk. LeakSanitizer checks that no copy is lost.

#include "fuzz_support.h"
#include "isbn.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // Texts separated by NUL bytes.
    std::vector<std::string> texts;
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            texts.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    texts.push_back(current);

    for (std::size_t i = 0; i + 2 < texts.size(); i += 3) {
        int order =
            compare_ISBN_range(texts[i].c_str(), texts[i + 1].c_str(), texts[i + 2].c_str());
        if (order < -1 || order > 1)
            fuzz_failure("compare_ISBN_range gave a value other than -1, 0 or 1\n");
        if (compare_ISBN_range(texts[i].c_str(), texts[i].c_str(), texts[i].c_str()) != 0)
            fuzz_failure("a text is not within the range from itself to itself\n");
    }

    // Rows of begin, end and countries; the last text is a key to look up.
    std::fill(std::begin(ISBN_range), std::end(ISBN_range),
              ISBN_range_row{nullptr, nullptr, nullptr});
    std::size_t rows = std::min<std::size_t>((texts.size() - 1) / 3, 64);
    for (std::size_t r = 0; r < rows; ++r)
        ISBN_range[r] = {texts[3 * r].c_str(), texts[3 * r + 1].c_str(), texts[3 * r + 2].c_str()};
    ISBN_range_changed();
    const char *key = texts.back().c_str();
    captured_stderr.clear();
    for (int round = 0; round < 2; ++round) {
        ISBN_initialize();
        for (ISBN_rows set : {ISBN_rows::all, ISBN_rows::prefix_978, ISBN_rows::prefix_979})
            if (find_ISBN_range(key, set) != walk_ISBN_range(key, set))
                fuzz_failure("the fast lookup and the walk disagree\n");
        do_print_ISBN_table();
    }
    ISBN_free_table();
    ISBN_free_table();
    std::copy(built_in.begin(), built_in.end(), std::begin(ISBN_range));
    ISBN_range_changed();
    return 0;
}
