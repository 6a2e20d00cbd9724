// Input in blocks of whole lines, read from a descriptor and handed to the mode's filter.

#include "input.h"

#include "bibtex.h"
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

const input_mode &filter_mode(bool bibtex) {
    static constexpr input_mode TEXT{start_text_input, filter_lines, nullptr};
    static constexpr input_mode BIBTEX{start_bibtex_input, filter_bibtex_lines,
                                       finish_bibtex_input};
    return bibtex ? BIBTEX : TEXT;
}

// The output is read again when it appends, or when it starts before where the input stands at
// its end: the bytes written would come back as input. A file that is empty when both are the
// same is most likely one that the shell emptied for the output (orvane < f > f): its content
// was lost before orvane started, and saying nothing would hide that.
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
    if ((flags != -1 && (flags & O_APPEND) != 0) || output_at < in.st_size ||
        input_at < output_at || in.st_size == 0)
        report_fatal("Input file is output file");
}

// The buffer doubles while a line does not fit, so a line is never cut however long it is;
// realloc keeps that growth from needing the old and the new buffer at once. What stays held
// after the last newline is the unfinished line: filtered at the end of the input, dropped on
// an error.
input_end filter_input(int descriptor, const input_mode &mode, text_input &input,
                       read_function reader) {
    struct stat status {};
    bool may_wait = fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode);
    std::size_t capacity = ORVANE_BLOCK_SIZE;
    char *buffer = static_cast<char *>(std::malloc(capacity));
    if (buffer == nullptr)
        return {input_end::out_of_memory, ENOMEM};
    std::size_t held = 0;
    mode.start(input);
    for (;;) {
        if (held == capacity) {
            char *larger = static_cast<char *>(std::realloc(buffer, 2 * capacity));
            if (larger == nullptr) {
                std::free(buffer);
                return {input_end::out_of_memory, ENOMEM};
            }
            buffer = larger;
            capacity *= 2;
        }
        ssize_t got = reader(descriptor, buffer + held, capacity - held);
        if (got < 0) {
            if (try_again(descriptor, POLLIN))
                continue;
            int error = errno;
            std::free(buffer);
            return {input_end::read_error, error};
        }
        if (got == 0)
            break;
        const char *fresh = buffer + held;
        held += static_cast<std::size_t>(got);
        const char *newline = find_last_newline(fresh, buffer + held);
        if (newline == nullptr)
            continue;
        std::size_t whole = static_cast<std::size_t>(newline - buffer) + 1;
        mode.filter(input, buffer, whole);
        release_input(may_wait);
        if (output_error() != 0) {
            std::free(buffer);
            return {input_end::write_error, output_error()};
        }
        held -= whole;
        std::memmove(buffer, buffer + whole, held);
    }
    mode.filter(input, buffer, held);
    if (mode.finish != nullptr)
        mode.finish(input);
    release_input(false);
    std::free(buffer);
    if (output_error() != 0)
        return {input_end::write_error, output_error()};
    return {input_end::complete, 0};
}

void filter_standard_input(const input_mode &mode) {
    refuse_input_that_is_output();
    text_input input;
    input_end end = filter_input(STDIN_FILENO, mode, input, read);
    switch (end.how) {
    case input_end::complete:
        return;
    case input_end::read_error:
        report_errno_fatal("Read error on standard input", end.error);
    case input_end::write_error:
        report_errno_fatal("Write error on standard output", end.error);
    case input_end::out_of_memory:
        report_fatal(OUT_OF_MEMORY_FOR_A_LINE);
    }
}
