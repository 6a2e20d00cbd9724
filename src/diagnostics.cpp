// Warnings about the input and errors of a run: their texts, formatted and handed to the output.

#include "diagnostics.h"

#include "output.h"
#include "run.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Formatted by hand into one buffer, which goes out as one line (or to the listener): in dense
// input warnings are frequent enough for printf's cost to show. The message is copied, never used
// as a format, so a '%' in it is printed as is.
void report(orvane_run &run, const char *name, std::int64_t line, std::uint64_t offset,
            const char *message, bool counted) {
    char buffer[512];
    char number[24];
    char *digits = number + sizeof number;
    std::uint64_t magnitude =
        line < 0 ? 0 - static_cast<std::uint64_t>(line) : static_cast<std::uint64_t>(line);
    do {
        *--digits = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (line < 0)
        *--digits = '-';
    std::size_t number_length = static_cast<std::size_t>(number + sizeof number - digits);
    std::size_t name_length = std::strlen(name);
    std::size_t message_length = std::strlen(message);
    std::size_t length = name_length + number_length + message_length + 4;
    std::string large;
    char *text = buffer;
    if (length > sizeof buffer) {
        large.resize(length);
        text = large.data();
    }
    char *p = text;
    p = static_cast<char *>(std::memcpy(p, name, name_length)) + name_length;
    *p++ = ':';
    p = static_cast<char *>(std::memcpy(p, digits, number_length)) + number_length;
    *p++ = ':';
    p = static_cast<char *>(std::memcpy(p, message, message_length)) + message_length;
    *p++ = '.';
    *p++ = '\n';
    if (run.listeners.warning != nullptr)
        run.listeners.warning(run.listeners.context,
                              warning{name, line, offset, std::string_view(message, message_length),
                                      std::string_view(text, length), counted});
    else
        write_warning_line(run.out, text, length);
}

} // namespace

void report_notice(orvane_run &run, const char *name, std::int64_t line, std::uint64_t offset,
                   const char *message) {
    report(run, name, line, offset, message, false);
}

void report_warning(orvane_run &run, const char *name, std::int64_t line, std::uint64_t offset,
                    const char *message) {
    run.warnings += 1;
    report(run, name, line, offset, message, true);
}

// Formatted on the stack, with no heap copy, since it may report that memory ran out; one write,
// so that the line is not cut by another writer. A longer message goes in pieces.
void report_error(orvane_run &run, const char *message) {
    char line[1024];
    std::size_t length = std::strlen(message);
    if (length + 4 > sizeof line) {
        write_error_text(run.out, "?? ", 3);
        write_error_text(run.out, message, length);
        write_error_text(run.out, "\n", 1);
        return;
    }
    std::memcpy(line, "?? ", 3);
    std::memcpy(line + 3, message, length);
    line[3 + length] = '\n';
    write_error_text(run.out, line, length + 4);
}
