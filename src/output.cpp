#include "output.h"

#include "diagnostics.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

// Tests build with tiny sizes so that every boundary is crossed.
#ifndef ORVANE_GATHER_SIZE
#define ORVANE_GATHER_SIZE (128 * 1024)
#endif
#ifndef ORVANE_SPAN_MIN
#define ORVANE_SPAN_MIN 512
#endif
#ifndef ORVANE_PIECES
#define ORVANE_PIECES 256
#endif

constexpr std::size_t GATHER_SIZE = ORVANE_GATHER_SIZE;
constexpr std::size_t SPAN_MIN = ORVANE_SPAN_MIN;
constexpr int PIECES = ORVANE_PIECES;
static_assert(SPAN_MIN <= GATHER_SIZE);

// What standard output has been given and not yet written, in order: stretches of the gather
// buffer, where short writes are copied, and longer stretches of the caller's, which stay where
// they stand. A short copy costs less than one more piece for the kernel to walk; a long one
// more than the piece.
char gathered[GATHER_SIZE];
std::size_t gathered_length = 0;
iovec pieces[PIECES];
int piece_count = 0;
iovec *open_piece = nullptr; // the last piece, while it ends where the gather buffer does
bool holds_spans = false;    // a piece refers to bytes that write_output_span did not copy
bool interactive = true;

// Reports the error that made the last write to standard output fail.
[[noreturn]] void report_write_error() {
    report_errno_fatal("Write error on standard output", errno);
}

// Writes the pieces in order. On a terminal they go to the line-buffered stream; anywhere else
// straight to the descriptor, in as few writev calls as they take, where a full non-blocking
// pipe is waited for instead of ending the run (a stream would set its error flag on EAGAIN and
// lose track of what it wrote).
void write_pieces(iovec *piece, int count) {
    if (interactive) {
        for (; count != 0; ++piece, --count) {
#ifdef __GLIBC__
            // Safe unlocked: the program has a single thread.
            if (fwrite_unlocked(piece->iov_base, 1, piece->iov_len, stdout) != piece->iov_len)
#else
            if (std::fwrite(piece->iov_base, 1, piece->iov_len, stdout) != piece->iov_len)
#endif
                report_write_error();
        }
        return;
    }
    while (count != 0) {
        ssize_t written = writev(STDOUT_FILENO, piece, count);
        if (written < 0) {
            if (try_again(STDOUT_FILENO, POLLOUT))
                continue;
            report_write_error();
        }
        // A short write stops inside a piece: the rest of it goes first next time.
        auto done = static_cast<std::size_t>(written);
        for (; count != 0 && done >= piece->iov_len; ++piece, --count)
            done -= piece->iov_len;
        if (count != 0) {
            piece->iov_base = static_cast<char *>(piece->iov_base) + done;
            piece->iov_len -= done;
        }
    }
}

// Appends a stretch of the caller's as a piece; one that continues the last piece joins it.
void add_span(const char *bytes, std::size_t count) {
    if (piece_count != 0) {
        iovec &last = pieces[piece_count - 1];
        if (static_cast<const char *>(last.iov_base) + last.iov_len == bytes) {
            last.iov_len += count;
            open_piece = nullptr;
            return;
        }
    }
    if (piece_count == PIECES)
        hand_over_output();
    pieces[piece_count++] = iovec{const_cast<char *>(bytes), count};
    open_piece = nullptr;
}

} // namespace

void start_output() {
    interactive = isatty(STDOUT_FILENO) != 0;
}

// A long text goes out at once, before the caller may change it.
void write_output(const char *bytes, std::size_t count) {
    if (count >= SPAN_MIN) {
        add_span(bytes, count);
        hand_over_output();
        return;
    }
    std::memcpy(output_room(count), bytes, count);
}

void write_output_span(const char *bytes, std::size_t count) {
    if (count < SPAN_MIN) {
        std::memcpy(output_room(count), bytes, count);
        return;
    }
    add_span(bytes, count);
    holds_spans = true;
}

// Copies go to the end of the gather buffer, which the last piece takes in while it is open.
// Nothing to copy (an empty stretch between two tokens) takes no piece.
char *output_room(std::size_t count) {
    if (count == 0)
        return gathered + gathered_length;
    if (count > GATHER_SIZE - gathered_length || (open_piece == nullptr && piece_count == PIECES))
        hand_over_output();
    char *room = gathered + gathered_length;
    gathered_length += count;
    if (open_piece != nullptr) {
        open_piece->iov_len += count;
    } else {
        pieces[piece_count] = iovec{room, count};
        open_piece = &pieces[piece_count++];
    }
    return room;
}

void write_output_byte(char byte) {
    *output_room(1) = byte;
}

void sync_output() {
    if (interactive)
        hand_over_output();
}

void release_input() {
    if (interactive || holds_spans)
        hand_over_output();
}

void hand_over_output() {
    // Cleared first: if the write fails, the fatal exit must not try these pieces again.
    int count = piece_count;
    piece_count = 0;
    open_piece = nullptr;
    gathered_length = 0;
    holds_spans = false;
    write_pieces(pieces, count);
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
