// Warnings about the input and errors of a run: their texts, and what they go out through.
#pragma once

#include "shown.h"

#include <cstdint>
#include <string>
#include <string_view>

struct orvane_run;

// The offset of a warning or change that has no place in an input (a lone argument's text).
constexpr std::uint64_t NO_OFFSET = ~std::uint64_t{0};

// A warning as data: the input's name, the line, the offset in the input of what it is about
// (a number, or an entry's '@'), the message without its final period, the whole line that
// standard error would get ("NAME:LINE:MESSAGE.\n"), and whether it counts (a notice does not).
struct warning {
    const char *name;
    std::int64_t line;
    std::uint64_t offset;
    std::string_view message;
    std::string_view text;
    bool counted;
};

// Gives the run the warning "NAME:LINE:MESSAGE." about the input named name ("-" for standard
// input and arguments, or a file's name): to its listener, or else to standard error through the
// output's gathering of warnings; it is counted.
void report_warning(orvane_run &run, const char *name, std::int64_t line, std::uint64_t offset,
                    const char *message);

// A warning in the same form that is about the range table, not the input (a valid ISBN that no
// range places): it is not counted.
void report_notice(orvane_run &run, const char *name, std::int64_t line, std::uint64_t offset,
                   const char *message);

// Writes "?? MESSAGE" to standard error, after the warnings before it, and goes on.
void report_error(orvane_run &run, const char *message);
