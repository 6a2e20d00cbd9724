// Shared by the fuzz targets: the standard streams are swapped for memory streams, so a target
// can read what the code under test wrote, and warnings do not flood the fuzzer's terminal.
#pragma once

#include "kernel_walk.h"
#include "output.h"

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

// What the filter wrote since the last clear.
inline std::string_view filter_output() {
    hand_over_output();
    return captured_stdout.contents();
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
