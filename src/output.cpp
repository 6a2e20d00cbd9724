// What the run writes: the text in pieces, and the warnings gathered beside it, in order.

#include "output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

// Writes the pieces in order, after the warnings gathered so far. On a terminal they go to the
// line-buffered stream; anywhere else straight to the descriptor, in as few writev calls as they
// take, where a full non-blocking pipe is waited for instead of ending the run (a stream would
// set its error flag on EAGAIN and lose track of what it wrote). A failed write is kept in
// failure, and nothing is written after it.
void write_pieces(output_state &out, iovec *piece, int count) {
    flush_warnings(out);
    if (out.failure != 0)
        return;
    if (out.destination == -1) {
        for (; count != 0; ++piece, --count)
            out.discarded += piece->iov_len;
        return;
    }
    if (out.interactive) {
        for (; count != 0; ++piece, --count) {
#ifdef __GLIBC__
            // Safe unlocked: a terminal's stream is written by the one run that owns it.
            if (fwrite_unlocked(piece->iov_base, 1, piece->iov_len, stdout) != piece->iov_len) {
#else
            if (std::fwrite(piece->iov_base, 1, piece->iov_len, stdout) != piece->iov_len) {
#endif
                out.failure = errno != 0 ? errno : EIO;
                return;
            }
        }
        return;
    }
    while (count != 0) {
        ssize_t written = out.writer(out.writer_context, out.destination, piece, count);
        if (written < 0) {
            if (try_again(out.destination, POLLOUT))
                continue;
            out.failure = errno;
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

// Standard error's text, unbuffered: to the embedder's writer, or in as many writes to the
// error descriptor as it takes. Where it cannot be written there is nowhere left to say so.
void write_error_bytes(output_state &out, const char *text, std::size_t length) {
    if (out.write_error != nullptr) {
        out.write_error(out.error_context, text, length);
        return;
    }
    while (out.error_descriptor >= 0 && length != 0) {
        ssize_t written = write(out.error_descriptor, text, length);
        if (written < 0) {
            if (try_again(out.error_descriptor, POLLOUT))
                continue;
            return;
        }
        text += written;
        length -= static_cast<std::size_t>(written);
    }
}

// Appends a stretch of the caller's as a piece; one that continues the last piece joins it.
void add_span(output_state &out, const char *bytes, std::size_t count) {
    if (out.piece_count != 0) {
        iovec &last = out.pieces[out.piece_count - 1];
        if (static_cast<const char *>(last.iov_base) + last.iov_len == bytes) {
            last.iov_len += count;
            out.open_piece = nullptr;
            return;
        }
    }
    if (out.piece_count == output_state::PIECES)
        hand_over_output(out);
    out.pieces[out.piece_count++] = iovec{const_cast<char *>(bytes), count};
    out.open_piece = nullptr;
}

} // namespace

ssize_t write_to_descriptor(void *, int descriptor, const iovec *pieces, int count) {
    return writev(descriptor, pieces, count);
}

void set_error_destination(output_state &out, int descriptor, error_writer writer, void *context) {
    out.error_descriptor = descriptor;
    out.write_error = writer;
    out.error_context = context;
    out.warnings_at_once = writer == nullptr && descriptor >= 0 && isatty(descriptor) != 0;
}

void start_output(output_state &out, int descriptor, write_function writer, void *context) {
    out.destination = descriptor;
    out.writer = writer;
    out.writer_context = context;
    out.started = true;
    out.failure = 0;
    out.discarded = 0;
    out.interactive = descriptor == STDOUT_FILENO && isatty(descriptor) != 0;
}

std::uint64_t output_discarded(const output_state &out) {
    return out.discarded;
}

void redirect_output(output_state &out, int descriptor, write_function writer, void *context) {
    out.destination = descriptor;
    out.writer = writer;
    out.writer_context = context;
}

void fail_output(output_state &out, int error) {
    out.failure = error;
}

// A long text goes out at once, before the caller may change it.
void write_output(output_state &out, const char *bytes, std::size_t count) {
    if (count >= output_state::SPAN_MIN) {
        add_span(out, bytes, count);
        hand_over_output(out);
        return;
    }
    std::memcpy(output_room(out, count), bytes, count);
}

void write_output_span(output_state &out, const char *bytes, std::size_t count) {
    if (count < output_state::SPAN_MIN) {
        std::memcpy(output_room(out, count), bytes, count);
        return;
    }
    add_span(out, bytes, count);
    out.holds_spans = true;
}

// Copies go to the end of the gather buffer, which the last piece takes in while it is open.
// Nothing to copy (an empty stretch between two tokens) takes no piece.
char *output_room(output_state &out, std::size_t count) {
    if (count == 0)
        return out.gathered + out.gathered_length;
    if (count > output_state::GATHER_SIZE - out.gathered_length ||
        (out.open_piece == nullptr && out.piece_count == output_state::PIECES))
        hand_over_output(out);
    char *room = out.gathered + out.gathered_length;
    out.gathered_length += count;
    if (out.open_piece != nullptr) {
        out.open_piece->iov_len += count;
    } else {
        out.pieces[out.piece_count] = iovec{room, count};
        out.open_piece = &out.pieces[out.piece_count++];
    }
    return room;
}

void write_output_byte(output_state &out, char byte) {
    *output_room(out, 1) = byte;
}

// Pieces that refer to the input block go out before it is used again; a terminal gets
// everything after each block, as a line-buffered stream would show it. Otherwise copies may
// wait in the gather buffer until it fills.
void release_input(output_state &out, bool next_read_may_wait) {
    if (out.interactive || next_read_may_wait || out.holds_spans)
        hand_over_output(out);
}

// Kept out of line: inlined into the short paths that may call it (a copy into the gather
// buffer, a span), it made each of them save and restore six registers, 2% more instructions on
// dense.
[[gnu::noinline]] void hand_over_output(output_state &out) {
    int count = out.piece_count;
    out.piece_count = 0;
    out.open_piece = nullptr;
    out.gathered_length = 0;
    out.holds_spans = false;
    write_pieces(out, out.pieces, count);
}

void finish_output(output_state &out) {
    hand_over_output(out);
    if (out.interactive && out.failure == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout)))
        out.failure = errno != 0 ? errno : EIO;
    flush_warnings(out);
    out.started = false;
}

int output_error(const output_state &out) {
    return out.failure;
}

// After a failed write nothing more is said about the text that was lost: a warning then
// could be about a line that never reached the reader.
void write_warning_line(output_state &out, const char *line, std::size_t length) {
    if (!out.started) {
        write_error_text(out, line, length);
        return;
    }
    if (out.failure != 0)
        return;
    if (out.warnings_at_once) {
        if (out.interactive)
            hand_over_output(out); // the screen shows the text before the warning
        write_error_bytes(out, line, length);
        return;
    }
    if (length > output_state::WARNINGS_SIZE - out.warnings_length) {
        flush_warnings(out);
        if (length > output_state::WARNINGS_SIZE) {
            write_error_bytes(out, line, length);
            return;
        }
    }
    std::memcpy(out.warnings + out.warnings_length, line, length);
    out.warnings_length += length;
}

void write_error_text(output_state &out, const char *text, std::size_t length) {
    flush_warnings(out);
    write_error_bytes(out, text, length);
}

// Standard error is unbuffered: the gathered lines go out in one write.
void flush_warnings(output_state &out) {
    if (out.warnings_length == 0)
        return;
    std::size_t length = out.warnings_length;
    out.warnings_length = 0;
    write_error_bytes(out, out.warnings, length);
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
