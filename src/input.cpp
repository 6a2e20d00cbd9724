#include "input.h"

#include "diagnostics.h"
#include "output.h"
#include "scan.h"

#include <cerrno>
#include <cstdint>
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

namespace {

// The kernel copies a read fastest when the bytes land at the same offset within a cache line
// as they stand in the file (some processors copy at half the speed or worse otherwise), so
// the block starts at the offset its first byte has in the input, modulo this.
constexpr std::size_t LINE_ALIGNMENT = 64;

// Grows storage (null at first) to hold a lead below LINE_ALIGNMENT and capacity bytes after it
// from a point aligned to LINE_ALIGNMENT, and returns that point; the held bytes at lead keep
// their place relative to it. realloc keeps a long line's growth from needing the old and the
// new buffer at once.
char *grow(char *&storage, char *aligned, std::size_t capacity, std::size_t lead,
           std::size_t held) {
    std::size_t was = static_cast<std::size_t>(aligned - storage);
    char *larger = static_cast<char *>(std::realloc(storage, 2 * LINE_ALIGNMENT + capacity));
    if (larger == nullptr)
        report_fatal("Out of memory for an input line");
    storage = larger;
    auto address = reinterpret_cast<std::uintptr_t>(larger);
    std::size_t now = (LINE_ALIGNMENT - address % LINE_ALIGNMENT) % LINE_ALIGNMENT;
    if (now != was)
        std::memmove(larger + now + lead, larger + was + lead, held);
    return larger + now;
}

} // namespace

// The buffer doubles while a line does not fit, so a line is never cut however long it is.
// What stays held after the last newline is the unfinished line: filtered at the end of the
// input, dropped on an error.
void filter_input(int descriptor, block_filter filter, read_function reader) {
    std::size_t capacity = ORVANE_BLOCK_SIZE;
    char *storage = nullptr;
    char *buffer = grow(storage, storage, capacity, 0, 0);
    off_t start = lseek(descriptor, 0, SEEK_CUR);
    // The held bytes stand at buffer + lead, where lead is the input offset of the first of
    // them modulo LINE_ALIGNMENT.
    std::size_t lead = start < 0 ? 0 : static_cast<std::size_t>(start) % LINE_ALIGNMENT;
    std::size_t held = 0;
    for (;;) {
        if (held == capacity) {
            capacity *= 2;
            buffer = grow(storage, buffer, capacity, lead, held);
        }
        char *block = buffer + lead;
        ssize_t got = reader(descriptor, block + held, capacity - held);
        if (got < 0) {
            if (try_again(descriptor, POLLIN))
                continue;
            int error = errno;
            std::free(storage);
            report_errno_fatal("Read error on standard input", error);
        }
        if (got == 0)
            break;
        const char *fresh = block + held;
        held += static_cast<std::size_t>(got);
        const char *newline = find_last_newline(fresh, block + held);
        if (newline == nullptr)
            continue;
        std::size_t whole = static_cast<std::size_t>(newline - block) + 1;
        filter(block, whole);
        release_input();
        held -= whole;
        lead = (lead + whole) % LINE_ALIGNMENT;
        std::memmove(buffer + lead, block + whole, held);
    }
    filter(buffer + lead, held);
    release_input();
    std::free(storage);
}

void filter_standard_input(block_filter filter) {
    refuse_input_that_is_output();
    filter_input(STDIN_FILENO, filter, read);
}
