#include "output.h"

#include "diagnostics.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
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
#ifndef ORVANE_WRITE_CHUNK
#define ORVANE_WRITE_CHUNK (64 * 1024)
#endif

constexpr std::size_t GATHER_SIZE = ORVANE_GATHER_SIZE;
constexpr std::size_t SPAN_MIN = ORVANE_SPAN_MIN;
constexpr int PIECES = ORVANE_PIECES;
static_assert(SPAN_MIN <= GATHER_SIZE);

// What standard output has been given and not yet written, in order: stretches of the gather
// buffer, where short writes are copied, and longer stretches of the caller's, which stay where
// they stand. A short copy costs less than one more piece for the kernel to walk; a long one
// more than the piece.
char gathered[GATHER_SIZE + ROOM_MAX]; // room handed out may be written past its end
std::size_t gathered_length = 0;
iovec pieces[PIECES];
int piece_count = 0;
iovec *open_piece = nullptr; // the last piece, while it ends where the gather buffer does
bool holds_spans = false;    // a piece refers to bytes that write_output_span did not copy
bool interactive = true;

// Writing a file costs the kernel much less in writes that start and end on boundaries of 64
// KiB in the file than in writes that end where lines do: on this project's machine, orvane
// took 1.17 times as long on 100 MB of prose when each write ended at the last line end of its
// block, and a plain read-and-write loop 1.3 times as long. So where standard output is a
// regular file, the writes after each block of input end on a boundary of WRITE_CHUNK in the
// file, and the bytes past it are copied into a buffer of their own, to go out first with the
// next write; the end of the output and a fatal error write everything.
constexpr std::size_t WRITE_CHUNK = ORVANE_WRITE_CHUNK;
char carried[WRITE_CHUNK];
bool by_chunks = false;        // standard output is a regular file at a known offset
std::uint64_t file_offset = 0; // where the next byte written lands in it

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
        file_offset += static_cast<std::uint64_t>(written);
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

// Writes out what has been given up to the last boundary of WRITE_CHUNK in the file among it,
// and keeps the rest, copied into the carried buffer, as the first piece of the next write (all
// of it when no boundary falls inside). Anywhere but in a regular file everything goes out. The
// rest is copied in order: a part that is in the carried buffer already comes first, and moves
// down.
void hand_over_chunks() {
    if (!by_chunks) {
        hand_over_output();
        return;
    }
    std::size_t total = 0;
    for (int i = 0; i < piece_count; ++i)
        total += pieces[i].iov_len;
    std::size_t keep = std::min<std::size_t>(total, (file_offset + total) % WRITE_CHUNK);
    // The pieces that hold the kept bytes, from the first of them, which may be cut.
    int first = piece_count;
    std::size_t in_first = 0; // the kept bytes of the first such piece
    for (std::size_t left = keep; left != 0;) {
        --first;
        in_first = std::min(left, pieces[first].iov_len);
        left -= in_first;
    }
    int count = piece_count;
    piece_count = 0;
    open_piece = nullptr;
    gathered_length = 0;
    holds_spans = false;
    if (keep == 0) {
        write_pieces(pieces, count);
        return;
    }
    // What goes out now ends inside piece first, or before it.
    iovec &cut = pieces[first];
    char *kept_start = static_cast<char *>(cut.iov_base) + cut.iov_len - in_first;
    cut.iov_len -= in_first;
    write_pieces(pieces, cut.iov_len != 0 ? first + 1 : first);
    std::size_t at = 0;
    std::memmove(carried, kept_start, in_first);
    at += in_first;
    for (int i = first + 1; i < count; ++i) {
        std::memcpy(carried + at, pieces[i].iov_base, pieces[i].iov_len);
        at += pieces[i].iov_len;
    }
    pieces[0] = iovec{carried, keep};
    piece_count = 1;
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
        hand_over_chunks();
    pieces[piece_count++] = iovec{const_cast<char *>(bytes), count};
    open_piece = nullptr;
}

} // namespace

void start_output() {
    interactive = isatty(STDOUT_FILENO) != 0;
    struct stat out {};
    if (interactive || fstat(STDOUT_FILENO, &out) != 0 || !S_ISREG(out.st_mode))
        return;
    // An appending descriptor writes at the end of the file, wherever its offset stands.
    int flags = fcntl(STDOUT_FILENO, F_GETFL);
    off_t at =
        flags != -1 && (flags & O_APPEND) != 0 ? out.st_size : lseek(STDOUT_FILENO, 0, SEEK_CUR);
    if (at < 0)
        return;
    by_chunks = true;
    file_offset = static_cast<std::uint64_t>(at);
}

// A long text goes out at once, or is carried, before the caller may change it.
void write_output(const char *bytes, std::size_t count) {
    if (count >= SPAN_MIN) {
        add_span(bytes, count);
        hand_over_chunks();
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
        hand_over_chunks();
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
    if (interactive)
        hand_over_output();
    else if (holds_spans)
        hand_over_chunks();
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
