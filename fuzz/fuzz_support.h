// Shared by the fuzz targets: a run whose text and standard error go to memory streams, and the
// standard streams swapped for them too, so a target can read what the code under test wrote,
// and warnings do not flood the fuzzer's terminal.
#pragma once

#include "kernel_walk.h"
#include "output.h"
#include "run.h"
#include "table_upkeep.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <memory>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

struct memory_stream {
    char *data = nullptr;
    std::size_t size = 0;
    FILE *file = nullptr;

    void open() { file = open_memstream(&data, &size); }

    // Starts over, empty.
    void clear() {
        std::fflush(file);
        fseeko(file, 0, SEEK_SET);
        std::fflush(file);
    }

    std::string_view contents() {
        std::fflush(file);
        return {data, size};
    }
};

inline memory_stream captured_stdout;
inline memory_stream captured_stderr;
inline FILE *real_stderr = nullptr;

// Called once: the filter's output and warnings go to memory from here on.
inline void capture_standard_streams() {
    captured_stdout.open();
    captured_stderr.open();
    real_stderr = stderr;
    stdout = captured_stdout.file;
    stderr = captured_stderr.file;
}

// The built-in rows, copied before any input changes them (the rows are static data, set up
// before this copy is made), for targets that put rows of their own in their place and then put
// these back.
inline const std::array<ISBN_range_row, ISBN_RANGE_MAX> built_in = [] {
    std::array<ISBN_range_row, ISBN_RANGE_MAX> rows;
    std::copy(std::begin(ISBN_range), std::end(ISBN_range), rows.begin());
    return rows;
}();

inline std::unique_ptr<orvane_run> fuzz_run_now;

// A fresh run with the options over the tests' table, its text written to captured_stdout and
// its standard error to captured_stderr.
inline orvane_run &fresh_run(const orvane_options &options = orvane_options{}) {
    fuzz_run_now = std::make_unique<orvane_run>(options, &test_table());
    start_output(fuzz_run_now->out, HOOKED_OUTPUT, [](void *, int, const iovec *pieces, int count) {
        std::size_t written = 0;
        for (int i = 0; i < count; ++i)
            written += std::fwrite(pieces[i].iov_base, 1, pieces[i].iov_len, stdout);
        return static_cast<ssize_t>(written);
    });
    set_error_destination(fuzz_run_now->out, -1, [](void *, const char *text, std::size_t length) {
        std::fwrite(text, 1, length, stderr);
    });
    return *fuzz_run_now;
}

// The run of the last fresh_run().
inline orvane_run &fuzz_run() {
    return fuzz_run_now ? *fuzz_run_now : fresh_run();
}

// What the filter wrote since the last clear.
inline std::string_view filter_output() {
    hand_over_output(fuzz_run().out);
    return captured_stdout.contents();
}

// What went to standard error since the last clear, the warnings the run gathered included.
inline std::string_view error_output() {
    flush_warnings(fuzz_run().out);
    return captured_stderr.contents();
}

// Says what broke on the real standard error, and aborts, which libFuzzer reports as a crash
// and saves the input for.
[[noreturn]] inline void fuzz_failure(const char *what) {
    std::fputs(what, real_stderr);
    std::fflush(real_stderr);
    std::abort();
}

// Fails where a scanning kernel and its scalar twin disagree on input.
inline void check_kernels(std::string_view input) {
    if (const char *kernel = kernel_disagreement(input)) {
        std::string what = std::string(kernel) + " and its scalar twin disagree\n";
        fuzz_failure(what.c_str());
    }
}
