// Warnings about the input and fatal errors: their texts, and what they go out through.
#pragma once

#include "shown.h"

#include <cstdint>
#include <string>
#include <string_view>

// The line that the warnings of the isbn module's hyphenation routines quote, for a program
// that calls them on lines of its own; orvane's filters give the line of each warning.
extern std::int64_t line_number;

// Writes "NAME:LINE:MESSAGE." to standard error, through the output's gathering of warnings, for
// the input named name ("-" for standard input and arguments, or a file's name).
void report_warning(const char *name, std::int64_t line, const char *message);

// Writes a warning in the same form that is about the range table, not the input (a valid ISBN
// that no range places): it is not counted.
void report_notice(const char *name, std::int64_t line, const char *message);

// The number of warnings written so far, notices left out.
std::uint64_t warning_count();

// A warning as data, for an embedder: the input's name, the line, the message without its
// final period, the whole line that standard error would get ("NAME:LINE:MESSAGE.\n"), and
// whether it counts (a notice does not).
struct warning {
    const char *name;
    std::int64_t line;
    std::string_view message;
    std::string_view text;
    bool counted;
};

// Who takes each warning instead of standard error; nullptr puts standard error back.
using warning_listener = void (*)(const warning &w);
void set_warning_listener(warning_listener listener);

// Writes out what was written before, then "?? MESSAGE" to standard error, and ends the run:
// with the embedder's handler where one is set (it must not return: it may throw or jump), or
// else by exit with status 1.
[[noreturn]] void report_fatal(const char *message);
using fatal_handler = void (*)(const char *message);
void set_fatal_handler(fatal_handler handler);

// The same with "?? WHAT: REASON", where REASON describes the error number.
[[noreturn]] void report_errno_fatal(const char *what, int error);

// Writes "?? MESSAGE" to standard error, after the warnings before it, and goes on.
void report_error(const char *message);

// Writes text, whole lines, to standard error after the warnings before it: with the warnings,
// the one way anything reaches standard error (the table upkeep's messages and dump use it).
void report_text(const char *text);

// Returns a heap copy of text that the caller owns; running out of memory is fatal.
char *duplicate_string(const char *text);
