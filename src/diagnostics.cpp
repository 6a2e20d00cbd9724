#include "diagnostics.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

std::int64_t line_number = 0;

// The message is passed as an argument, never as the format, so a '%' in it is printed as is.
void report_warning(const char *message)
{
    std::fprintf(stderr, "%s:%" PRId64 ":%s.\n", "-", line_number, message);
    std::fflush(stderr);
}

// exit() rather than _exit(): whatever standard output already holds is still delivered.
void report_fatal(const char *message)
{
    std::fprintf(stderr, "%s %s\n", "??", message);
    std::exit(1);
}

char *duplicate_string(const char *text)
{
    std::size_t size = std::strlen(text) + 1;
    char *copy = static_cast<char *>(std::malloc(size));
    if (copy == nullptr)
        report_fatal("Out of string memory");
    std::memcpy(copy, text, size);
    return copy;
}
