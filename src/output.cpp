// What the run writes: the text in pieces, and the warnings gathered beside it, in order.

#include "output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

// The fuzz targets build with tiny sizes so that every boundary is crossed.
#ifndef ORVANE_GATHER_SIZE
#define ORVANE_GATHER_SIZE (64 * 1024)
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
char gathered[GATHER_SIZE + ROOM_MAX]; // room may be written past its end
std::size_t gathered_length = 0;
iovec pieces[PIECES];
int piece_count = 0;
iovec *open_piece = nullptr; // the last piece, while it ends where the gather buffer does
bool holds_spans = false;    // a piece refers to bytes that write_output_span did not copy

// Where the pieces go: the standard stream, while standard output is a terminal (and until
// start_output is called), or the descriptor (none: -1).
int destination = STDOUT_FILENO;
write_function write_pieces_out = writev;
bool interactive = true;
bool started = false;        // between start_output() and finish_output()
int failure = 0;             // the error number of the write that failed
std::uint64_t discarded = 0; // bytes handed over while there was no destination

// Warnings not yet written, when standard error is not a terminal.
#ifndef ORVANE_WARNINGS_SIZE
#define ORVANE_WARNINGS_SIZE (16 * 1024)
#endif
constexpr std::size_t WARNINGS_SIZE = ORVANE_WARNINGS_SIZE;
char warnings[WARNINGS_SIZE];
std::size_t warnings_length = 0;

// Writes the pieces in order, after the warnings gathered so far. On a terminal they go to the
// line-buffered stream; anywhere else straight to the descriptor, in as few writev calls as they
// take, where a full non-blocking pipe is waited for instead of ending the run (a stream would
// set its error flag on EAGAIN and lose track of what it wrote). A failed write is kept in
// failure, and nothing is written after it.
void write_pieces(iovec *piece, int count) {
    flush_warnings();
    if (failure != 0)
        return;
    if (destination == -1) {
        for (; count != 0; ++piece, --count)
            discarded += piece->iov_len;
        return;
    }
    if (interactive) {
        for (; count != 0; ++piece, --count) {
#ifdef __GLIBC__
            // Safe unlocked: the program has a single thread.
            if (fwrite_unlocked(piece->iov_base, 1, piece->iov_len, stdout) != piece->iov_len) {
#else
            if (std::fwrite(piece->iov_base, 1, piece->iov_len, stdout) != piece->iov_len) {
#endif
                failure = errno != 0 ? errno : EIO;
                return;
            }
        }
        return;
    }
    while (count != 0) {
        ssize_t written = write_pieces_out(destination, piece, count);
        if (written < 0) {
            if (try_again(destination, POLLOUT))
                continue;
            failure = errno;
            return;
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

// Standard error's text, unbuffered, or the embedder's writer of it.
error_writer write_error_out = nullptr;

void write_error_bytes(const char *text, std::size_t length) {
    if (write_error_out != nullptr)
        write_error_out(text, length);
    else
        std::fwrite(text, 1, length, stderr);
}

// Whether standard error is a terminal, where each warning goes out at once.
bool warnings_at_once() {
    static const bool terminal = isatty(fileno(stderr)) != 0;
    return write_error_out == nullptr && terminal;
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

void start_output(int descriptor, write_function writer) {
    destination = descriptor;
    write_pieces_out = writer;
    started = true;
    failure = 0;
    discarded = 0;
    interactive = descriptor == STDOUT_FILENO && isatty(descriptor) != 0;
}

void set_error_writer(error_writer writer) {
    write_error_out = writer;
}

std::uint64_t output_discarded() {
    return discarded;
}

void redirect_output(int descriptor, write_function writer) {
    destination = descriptor;
    write_pieces_out = writer;
}

void fail_output(int error) {
    failure = error;
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

// Pieces that refer to the input block go out before it is used again; a terminal gets
// everything after each block, as a line-buffered stream would show it. Otherwise copies may
// wait in the gather buffer until it fills.
void release_input(bool next_read_may_wait) {
    if (interactive || next_read_may_wait || holds_spans)
        hand_over_output();
}

// Kept out of line: inlined into the short paths that may call it (a copy into the gather
// buffer, a span), it made each of them save and restore six registers, 2% more instructions on
// dense.
[[gnu::noinline]] void hand_over_output() {
    int count = piece_count;
    piece_count = 0;
    open_piece = nullptr;
    gathered_length = 0;
    holds_spans = false;
    write_pieces(pieces, count);
}

void finish_output() {
    hand_over_output();
    if (interactive && failure == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout)))
        failure = errno != 0 ? errno : EIO;
    flush_warnings();
    started = false;
}

int output_error() {
    return failure;
}

// After a failed write nothing more is said about the text that was lost: a warning then
// could be about a line that never reached the reader.
void write_warning_line(const char *line, std::size_t length) {
    if (!started) {
        write_error_text(line, length);
        return;
    }
    if (failure != 0)
        return;
    if (warnings_at_once()) {
        if (interactive)
            hand_over_output(); // the screen shows the text before the warning
        write_error_bytes(line, length);
        return;
    }
    if (length > WARNINGS_SIZE - warnings_length) {
        flush_warnings();
        if (length > WARNINGS_SIZE) {
            write_error_bytes(line, length);
            return;
        }
    }
    std::memcpy(warnings + warnings_length, line, length);
    warnings_length += length;
}

void write_error_text(const char *text, std::size_t length) {
    flush_warnings();
    write_error_bytes(text, length);
}

// Standard error is unbuffered: the gathered lines go out in one write.
void flush_warnings() {
    if (warnings_length == 0)
        return;
    write_error_bytes(warnings, warnings_length);
    warnings_length = 0;
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
