// Micro-benchmarks of the per-ISBN work: the check-digit test, the lookup of the covering row
// (the index and the plain walk), and hyphenation of a lone candidate, by the index's answer
// and by the text walk.

#include "filter.h"
#include "isbn.h"
#include "run.h"
#include "scan.h"

#include <benchmark/benchmark.h>
#include <cstring>
#include <memory>

namespace {

// In buffers of ISBN_BUFFER_SIZE bytes, as the candidate check and the index take them.
const char ISBN_10S[][ISBN_BUFFER_SIZE] = {"0201633612", "7123456785", "8000123452", "6001234566",
                                           "9914400019", "9998785014", "9990180016", "080442957X"};
const char ISBN_13S[][ISBN_BUFFER_SIZE] = {"9780201633610", "9789998785014", "9791000000008",
                                           "9791100000007"};

void check_digits(benchmark::State &state) {
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(check_ISBN(ISBN_10S[i % 8], 10));
        benchmark::DoNotOptimize(check_ISBN(ISBN_13S[i % 4], 13));
        ++i;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 2);
}

template <bool walk> void lookup(benchmark::State &state) {
    const range_table &table = built_in_ISBN_table();
    std::size_t i = 0;
    for (auto _ : state) {
        const char *key = ISBN_10S[i++ % 8];
        benchmark::DoNotOptimize(walk ? walk_ISBN_range(table, key, ISBN_rows::prefix_978)
                                      : find_ISBN_range(table, key, ISBN_rows::prefix_978));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void hyphenate(benchmark::State &state) {
    char text[4096];
    char output[4096];
    auto run = std::make_unique<orvane_run>(orvane_options{}, nullptr);
    std::size_t i = 0;
    for (auto _ : state) {
        if (i % 2 == 0) {
            std::strcpy(text, ISBN_10S[i / 2 % 8]);
            hyphenate_ISBN_10(*run, text, output, sizeof output);
        } else {
            std::strcpy(text, ISBN_13S[i / 2 % 4]);
            hyphenate_ISBN_13(*run, text, output, sizeof output);
        }
        benchmark::DoNotOptimize(text[0]);
        ++i;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

// What the filter does for a valid candidate: the index's parts, then the form.
void place_and_format(benchmark::State &state) {
    char form[ISBN_BUFFER_SIZE];
    const range_table &table = built_in_ISBN_table();
    std::size_t i = 0;
    for (auto _ : state) {
        const char *isbn = i % 2 == 0 ? ISBN_10S[i / 2 % 8] : ISBN_13S[i / 2 % 4];
        std::size_t count = i % 2 == 0 ? 10 : 13;
        ISBN_parts parts{};
        if (place_ISBN(table, isbn, count, parts) == ISBN_placement::placed)
            format_ISBN(isbn, count, parts, form);
        benchmark::DoNotOptimize(form[0]);
        ++i;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

} // namespace

BENCHMARK(check_digits);
BENCHMARK(place_and_format);
BENCHMARK(lookup<false>)->Name("lookup_index");
BENCHMARK(lookup<true>)->Name("lookup_walk");
BENCHMARK(hyphenate);
BENCHMARK_MAIN();
