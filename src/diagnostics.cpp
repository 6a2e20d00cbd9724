// Warnings about the input and fatal errors: their texts, formatted and handed to the output.

#include "diagnostics.h"

#include "output.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

std::int64_t line_number = 0;

namespace {

std::uint64_t warnings_written = 0;
warning_listener listener = nullptr;
fatal_handler on_fatal = nullptr;

// Formatted by hand into one buffer, which goes out as one line (or to the listener): in dense
// input warnings are frequent enough for printf's cost to show. The message is copied, never used
// as a format, so a '%' in it is printed as is.
void report(const char *name, std::int64_t line, const char *message, bool counted) {
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
    if (listener != nullptr)
        listener(warning{name, line, std::string_view(message, message_length),
                         std::string_view(text, length), counted});
    else
        write_warning_line(text, length);
}

} // namespace

void set_warning_listener(warning_listener taker) {
    listener = taker;
}

void set_fatal_handler(fatal_handler handler) {
    on_fatal = handler;
}

void report_notice(const char *name, std::int64_t line, const char *message) {
    report(name, line, message, false);
}

void report_warning(const char *name, std::int64_t line, const char *message) {
    report(name, line, message, true);
    warnings_written += 1;
}

std::uint64_t warning_count() {
    return warnings_written;
}

void report_text(const char *text) {
    write_error_text(text, std::strlen(text));
}

// Formatted on the stack, with no heap copy, since it may report that memory ran out; one write,
// so that the line is not cut by another writer. A longer message goes in pieces.
void report_error(const char *message) {
    char line[1024];
    std::size_t length = std::strlen(message);
    if (length + 4 > sizeof line) {
        write_error_text("?? ", 3);
        write_error_text(message, length);
        write_error_text("\n", 1);
        return;
    }
    std::memcpy(line, "?? ", 3);
    std::memcpy(line + 3, message, length);
    line[3 + length] = '\n';
    write_error_text(line, length + 4);
}

// What was written before the failure is delivered first: the text now, the stream's buffer by
// exit(). After a write error there is nothing left to hand over.
void report_fatal(const char *message) {
    hand_over_output();
    report_error(message);
    if (on_fatal != nullptr)
        on_fatal(message);
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
