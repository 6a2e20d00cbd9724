#include "output.h"

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
// The buffers start on a cache line, as the writes into a file start on a boundary of
// WRITE_CHUNK (below), so that the kernel copies the carried bytes at the same offset within a
// cache line as their place in the file: with the carried buffer 32 bytes off, orvane took 1.06
// times as long on 100 MB of prose and 1.03 times on the BibTeX corpus in one run (medians of 21
// interleaved rounds; other runs of this machine have not told such small differences apart).
constexpr std::size_t LINE_ALIGNMENT = 64;
alignas(LINE_ALIGNMENT) char gathered[GATHER_SIZE + ROOM_MAX]; // room may be written past its end
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
int failure = 0; // the error number of the write that failed

// Warnings not yet written, when standard error is not a terminal.
#ifndef ORVANE_WARNINGS_SIZE
#define ORVANE_WARNINGS_SIZE (16 * 1024)
#endif
constexpr std::size_t WARNINGS_SIZE = ORVANE_WARNINGS_SIZE;
char warnings[WARNINGS_SIZE];
std::size_t warnings_length = 0;

// Writing a file costs the kernel less in writes that start and end on boundaries of 64 KiB in
// the file than in writes that end where lines do: on this project's machine, orvane took 1.11
// times as long on 100 MB of prose written to a fresh file, and 1.055 times as long on the
// BibTeX corpus (1.06 times in BibTeX mode), when each write ended at the last line end of its
// block (medians of 21 interleaved rounds). So where the output is a regular file, the writes
// after each block of input end on a boundary of WRITE_CHUNK in the file, and the bytes past it
// are copied into a buffer of their own, to go out first with the next write; the end of the
// output writes everything.
constexpr std::size_t WRITE_CHUNK = ORVANE_WRITE_CHUNK;
alignas(LINE_ALIGNMENT) char carried[WRITE_CHUNK];
bool by_chunks = false;        // the output is a regular file at a known offset
std::uint64_t file_offset = 0; // where the next byte written lands in it

// Writes the pieces in order, after the warnings gathered so far. On a terminal they go to the
// line-buffered stream; anywhere else straight to the descriptor, in as few writev calls as they
// take, where a full non-blocking pipe is waited for instead of ending the run (a stream would
// set its error flag on EAGAIN and lose track of what it wrote). A failed write is kept in
// failure, and nothing is written after it.
void write_pieces(iovec *piece, int count) {
    flush_warnings();
    if (failure != 0 || destination < 0)
        return;
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

// Whether standard error is a terminal, where each warning goes out at once.
bool warnings_at_once() {
    static const bool terminal = isatty(fileno(stderr)) != 0;
    return terminal;
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

void start_output(int descriptor, write_function writer) {
    destination = descriptor;
    write_pieces_out = writer;
    failure = 0;
    by_chunks = false;
    interactive = descriptor == STDOUT_FILENO && isatty(descriptor) != 0;
    struct stat out {};
    if (descriptor < 0 || interactive || fstat(descriptor, &out) != 0 || !S_ISREG(out.st_mode))
        return;
    // An appending descriptor writes at the end of the file, wherever its offset stands.
    int flags = fcntl(descriptor, F_GETFL);
    off_t at =
        flags != -1 && (flags & O_APPEND) != 0 ? out.st_size : lseek(descriptor, 0, SEEK_CUR);
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

// A terminal gets everything after each block, as a line-buffered stream would show it.
void release_input(bool next_read_may_wait) {
    if (interactive || next_read_may_wait)
        hand_over_output();
    else if (holds_spans)
        hand_over_chunks();
}

void hand_over_output() {
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
}

int output_error() {
    return failure;
}

// After a failed write nothing more is said about the text that was lost: a warning then
// could be about a line that never reached the reader.
void write_warning_line(const char *line, std::size_t length) {
    if (failure != 0)
        return;
    if (warnings_at_once()) {
        if (interactive)
            hand_over_output(); // the screen shows the text before the warning
        std::fwrite(line, 1, length, stderr);
        return;
    }
    if (length > WARNINGS_SIZE - warnings_length) {
        flush_warnings();
        if (length > WARNINGS_SIZE) {
            std::fwrite(line, 1, length, stderr);
            return;
        }
    }
    std::memcpy(warnings + warnings_length, line, length);
    warnings_length += length;
}

// Standard error is unbuffered: the gathered lines go out in one write.
void flush_warnings() {
    if (warnings_length == 0)
        return;
    std::fwrite(warnings, 1, warnings_length, stderr);
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
