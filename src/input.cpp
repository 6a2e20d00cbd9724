#include "input.h"

#include "diagnostics.h"
#include "output.h"
#include "scan.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

// The output is read again when it appends, or when it starts before where the input stands at
// its end: the bytes written would come back as input.
void refuse_input_that_is_output() {
    struct stat in {};
    struct stat out {};
    if (fstat(STDIN_FILENO, &in) != 0 || fstat(STDOUT_FILENO, &out) != 0)
        return;
    if (!S_ISREG(in.st_mode) || !S_ISREG(out.st_mode) || in.st_dev != out.st_dev ||
        in.st_ino != out.st_ino)
        return;
    int flags = fcntl(STDOUT_FILENO, F_GETFL);
    off_t input_at = lseek(STDIN_FILENO, 0, SEEK_CUR);
    off_t output_at = lseek(STDOUT_FILENO, 0, SEEK_CUR);
    if ((flags != -1 && (flags & O_APPEND) != 0) || output_at < in.st_size || input_at < output_at)
        report_fatal("Input file is output file");
}

// The buffer doubles while a line does not fit, so a line is never cut however long it is.
// What stays held after the last newline is the unfinished line: filtered at the end of the
// input, dropped on an error.
void filter_input(int descriptor, block_filter filter, read_function reader) {
    std::size_t capacity = ORVANE_BLOCK_SIZE;
    char *buffer = static_cast<char *>(std::malloc(capacity));
    if (buffer == nullptr)
        report_fatal("Out of memory for an input line");
    std::size_t held = 0;
    for (;;) {
        if (held == capacity) {
            char *larger = static_cast<char *>(std::realloc(buffer, capacity * 2));
            if (larger == nullptr)
                report_fatal("Out of memory for an input line");
            buffer = larger;
            capacity *= 2;
        }
        ssize_t got = reader(descriptor, buffer + held, capacity - held);
        if (got < 0) {
            if (try_again(descriptor, POLLIN))
                continue;
            int error = errno;
            std::free(buffer);
            report_errno_fatal("Read error on standard input", error);
        }
        if (got == 0)
            break;
        const char *fresh = buffer + held;
        held += static_cast<std::size_t>(got);
        const char *newline = find_last_newline(fresh, buffer + held);
        if (newline == nullptr)
            continue;
        std::size_t whole = static_cast<std::size_t>(newline - buffer) + 1;
        filter(buffer, whole);
        sync_output();
        std::memmove(buffer, buffer + whole, held - whole);
        held -= whole;
    }
    filter(buffer, held);
    std::free(buffer);
}

void filter_standard_input(block_filter filter) {
    refuse_input_that_is_output();
    filter_input(STDIN_FILENO, filter, read);
}
