#include "diagnostics.h"

#include "output.h"
#include "scan.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

std::int64_t line_number = 0;

namespace {

// The newlines of [counted, reached) are still to be added to line_number; null when no
// count is under way.
const char *counted = nullptr;
const char *reached = nullptr;

void count_lines() {
    line_number += static_cast<std::int64_t>(count_newlines(counted, reached));
    counted = reached;
}

} // namespace

void start_line_count(const char *position) {
    counted = reached = position;
}

void count_lines_up_to(const char *position) {
    reached = position;
}

void end_line_count(const char *position) {
    reached = position;
    count_lines();
    counted = reached = nullptr;
}

// The message is passed as an argument, never as the format, so a '%' in it is printed as is.
// On a terminal, what the filter has written so far goes to the output stream first, so the
// two streams interleave as if standard output were written directly.
void report_warning(const char *message) {
    sync_output();
    if (counted != nullptr)
        count_lines();
    // Formatted by hand into one buffer: standard error is unbuffered, so the line goes out in a
    // single write, and in dense input warnings are frequent enough for printf's cost to show.
    char line[512];
    char number[24];
    char *digits = number + sizeof number;
    std::uint64_t magnitude = line_number < 0 ? 0 - static_cast<std::uint64_t>(line_number)
                                              : static_cast<std::uint64_t>(line_number);
    do {
        *--digits = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (line_number < 0)
        *--digits = '-';
    std::size_t number_length = static_cast<std::size_t>(number + sizeof number - digits);
    std::size_t message_length = std::strlen(message);
    if (message_length + number_length + 5 > sizeof line) {
        std::fprintf(stderr, "%s:%.*s:%s.\n", "-", static_cast<int>(number_length), digits,
                     message);
    } else {
        char *p = line;
        *p++ = '-';
        *p++ = ':';
        p = static_cast<char *>(std::memcpy(p, digits, number_length)) + number_length;
        *p++ = ':';
        p = static_cast<char *>(std::memcpy(p, message, message_length)) + message_length;
        *p++ = '.';
        *p++ = '\n';
        std::fwrite(line, 1, static_cast<std::size_t>(p - line), stderr);
    }
    std::fflush(stderr);
}

// What was written before the failure is delivered first: the gathered output now, the
// stream's buffer by exit(). After a write error there is nothing left to hand over.
void report_fatal(const char *message) {
    hand_over_output();
    std::fprintf(stderr, "%s %s\n", "??", message);
    std::exit(1);
}

void report_errno_fatal(const char *what, int error) {
    char message[200];
    std::snprintf(message, sizeof message, "%s: %s", what, std::strerror(error));
    report_fatal(message);
}

// The copy includes the terminating NUL; a failed allocation never returns.
char *duplicate_string(const char *text) {
    std::size_t size = std::strlen(text) + 1;
    char *copy = static_cast<char *>(std::malloc(size));
    if (copy == nullptr)
        report_fatal("Out of string memory");
    std::memcpy(copy, text, size);
    return copy;
}
