// Warnings, fatal errors and the line counter that warnings quote.
#pragma once

#include <cstdint>

// Number of input lines read so far; 0 while filtering command-line arguments.
extern std::int64_t line_number;

// Lines counted only when a warning needs the number: after start_line_count(position),
// line_number is that of position's line plus the newlines from there up to the position last
// passed to count_lines_up_to, and a warning counts them first. end_line_count(position) counts
// up to position and stops.
void start_line_count(const char *position);
void count_lines_up_to(const char *position);
void end_line_count(const char *position);

// Writes "-:LINE:MESSAGE." to standard error and flushes it.
void report_warning(const char *message);

// Writes "?? MESSAGE" to standard error and exits with status 1.
[[noreturn]] void report_fatal(const char *message);

// Writes "?? WHAT: REASON", where REASON describes the error number, and exits with status 1.
[[noreturn]] void report_errno_fatal(const char *what, int error);

// Returns a heap copy of text that the caller owns; running out of memory is fatal.
char *duplicate_string(const char *text);
