// The reader of range exports on arbitrary bytes: no crash and no leak; it takes exactly the
// exports that the plain checker of the tests takes, which checks the same rules apart; and an
// export it takes gives a range table that passes the table's own validation and that the lookup
// index serves exactly as the walk does.

#include "fuzz_support.h"
#include "isbn.h"
#include "plain_ranges.h"
#include "range_message.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    range_message message;
    std::string fault =
        parse_range_message(reinterpret_cast<const char *>(data), size, "fuzz.xml", message);
    bool plain =
        plain_range_export_acceptable(std::string_view(reinterpret_cast<const char *>(data), size));
    if (fault.empty() != plain)
        fuzz_failure(plain ? "the reader refuses an export that the plain checker takes\n"
                           : "the reader takes an export that the plain checker refuses\n");
    if (!fault.empty())
        return 0;
    range_table table;
    if (!make_ISBN_table(table, message))
        fuzz_failure("memory ran out for a table of an export\n");
    // Its rows pass the validation of the built-in rows.
    std::fill(std::begin(ISBN_range), std::end(ISBN_range),
              ISBN_range_row{nullptr, nullptr, nullptr});
    std::copy(table.rows.begin(), table.rows.end(), std::begin(ISBN_range));
    ISBN_range_changed();
    captured_stderr.clear();
    ISBN_initialize();
    if (!captured_stderr.contents().empty())
        fuzz_failure("a table loaded from an export fails the table's validation\n");
    ISBN_free_table();
    std::copy(built_in.begin(), built_in.end(), std::begin(ISBN_range));
    ISBN_range_changed();
    // Every row's first key in each set: the index must find the walk's row.
    for (const ISBN_range_row &row : table.rows) {
        std::string key;
        for (const char *p = row.begin; *p != '\0'; ++p)
            if (*p != '-')
                key += *p;
        key.resize(10, '0');
        for (ISBN_rows rows : {ISBN_rows::all, ISBN_rows::prefix_978, ISBN_rows::prefix_979})
            if (find_ISBN_range(table, key.c_str(), rows) !=
                walk_ISBN_range(table, key.c_str(), rows))
                fuzz_failure("the index and the walk disagree on a loaded table\n");
    }
    return 0;
}
