#include "input.h"

#include "diagnostics.h"
#include "output.h"
#include "scan.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
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

namespace {

// A mapped file that another process truncates faults on the pages past its new end. The run
// ends as for a read error, without what is still gathered for the output: the reader keeps a
// prefix of the true output.
void on_bus_error(int) {
    static const char message[] =
        "?? Read error on standard input: the file shrank while it was read\n";
    ssize_t ignored = write(STDERR_FILENO, message, sizeof message - 1);
    (void)ignored;
    _exit(1);
}

} // namespace

// Each window starts at the page boundary at or before the first unfiltered byte and ends at
// the window size or at the end of the file; the filter gets its whole lines, and the window
// doubles while a line does not fit. The file is read to the size it had when the run began.
bool filter_mapped_input(int descriptor, block_filter filter) {
    struct stat status {};
    off_t offset = lseek(descriptor, 0, SEEK_CUR);
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || offset < 0 ||
        offset >= status.st_size)
        return false;
    const off_t size = status.st_size;
    const off_t page = sysconf(_SC_PAGESIZE);
    std::size_t window = ORVANE_MAP_WINDOW;
    bool mapped_before = false;
    while (offset < size) {
        off_t start = offset - offset % page;
        auto length =
            static_cast<std::size_t>(std::min<off_t>(static_cast<off_t>(window), size - start));
        void *map = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, descriptor, start);
        if (map == MAP_FAILED) {
            if (!mapped_before)
                return false;
            report_errno_fatal("Read error on standard input", errno);
        }
        if (!mapped_before)
            std::signal(SIGBUS, on_bus_error);
        mapped_before = true;
        madvise(map, length, MADV_SEQUENTIAL);
        const char *begin = static_cast<const char *>(map) + (offset - start);
        const char *end = static_cast<const char *>(map) + length;
        bool at_end = start + static_cast<off_t>(length) == size;
        const char *newline = find_last_newline(begin, end);
        if (newline == nullptr && !at_end) {
            munmap(map, length);
            window *= 2;
            continue;
        }
        const char *stop = at_end ? end : newline + 1;
        filter(begin, static_cast<std::size_t>(stop - begin));
        sync_output();
        offset += stop - begin;
        munmap(map, length);
        window = ORVANE_MAP_WINDOW;
    }
    lseek(descriptor, offset, SEEK_SET);
    return true;
}

void filter_standard_input(block_filter filter) {
    refuse_input_that_is_output();
    if (!filter_mapped_input(STDIN_FILENO, filter))
        filter_input(STDIN_FILENO, filter, read);
}
