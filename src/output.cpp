#include "output.h"

#include "diagnostics.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

// Reports the error that made the last write to standard output fail.
[[noreturn]] static void report_write_error()
{
    char message[160];
    std::snprintf(message, sizeof message, "Write error on standard output: %s",
                  std::strerror(errno));
    report_fatal(message);
}

// The unlocked stdio calls are safe here: the program has a single thread.
void write_output(const char *bytes, std::size_t count)
{
    if (count != 0 && fwrite_unlocked(bytes, 1, count, stdout) != count)
        report_write_error();
}

void write_output_byte(char byte)
{
    if (fputc_unlocked(static_cast<unsigned char>(byte), stdout) == EOF)
        report_write_error();
}

void finish_output()
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        report_write_error();
}
