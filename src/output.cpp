#include "output.h"

#include "diagnostics.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {

// Tests build with tiny sizes so that every boundary is crossed.
#ifndef ORVANE_GATHER_SIZE
#define ORVANE_GATHER_SIZE (128 * 1024)
#endif
#ifndef ORVANE_DIRECT_WRITE_MIN
#define ORVANE_DIRECT_WRITE_MIN (32 * 1024)
#endif

constexpr std::size_t GATHER_SIZE = ORVANE_GATHER_SIZE;
constexpr std::size_t DIRECT_WRITE_MIN = ORVANE_DIRECT_WRITE_MIN;

char gathered[GATHER_SIZE];
std::size_t gathered_length = 0;
bool interactive = true;

// Reports the error that made the last write to standard output fail.
[[noreturn]] void report_write_error() {
    report_errno_fatal("Write error on standard output", errno);
}

// On a terminal the bytes go to the line-buffered stream; anywhere else straight to the
// descriptor, where a full non-blocking pipe is waited for instead of ending the run (a stream
// would set its error flag on EAGAIN and lose track of what it wrote).
void write_stream(const char *bytes, std::size_t count) {
    if (interactive) {
#ifdef __GLIBC__
        // Safe unlocked: the program has a single thread.
        if (count != 0 && fwrite_unlocked(bytes, 1, count, stdout) != count)
#else
        if (count != 0 && std::fwrite(bytes, 1, count, stdout) != count)
#endif
            report_write_error();
        return;
    }
    while (count != 0) {
        ssize_t written = write(STDOUT_FILENO, bytes, count);
        if (written < 0) {
            if (try_again(STDOUT_FILENO, POLLOUT))
                continue;
            report_write_error();
        }
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
}

} // namespace

void start_output() {
    interactive = isatty(STDOUT_FILENO) != 0;
}

// A long stretch (text without digits goes out in stretches of a whole input block) is not
// copied into the buffer but written from where it stands, after what the buffer holds.
void write_output(const char *bytes, std::size_t count) {
    if (count >= DIRECT_WRITE_MIN) {
        hand_over_output();
        write_stream(bytes, count);
        return;
    }
    if (count > GATHER_SIZE - gathered_length)
        hand_over_output();
    std::memcpy(gathered + gathered_length, bytes, count);
    gathered_length += count;
}

char *output_room(std::size_t count) {
    if (count > GATHER_SIZE - gathered_length)
        hand_over_output();
    char *room = gathered + gathered_length;
    gathered_length += count;
    return room;
}

void write_output_byte(char byte) {
    if (gathered_length == GATHER_SIZE)
        hand_over_output();
    gathered[gathered_length++] = byte;
}

void sync_output() {
    if (interactive)
        hand_over_output();
}

void hand_over_output() {
    // Cleared first: if the write fails, the fatal exit must not try these bytes again.
    std::size_t length = gathered_length;
    gathered_length = 0;
    write_stream(gathered, length);
}

bool try_again(int descriptor, short events) {
    if (errno == EINTR)
        return true;
    if (errno != EAGAIN && errno != EWOULDBLOCK)
        return false;
    pollfd ready{descriptor, events, 0};
    poll(&ready, 1, -1);
    return true;
}

void finish_output() {
    hand_over_output();
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        report_write_error();
}
