// What a run writes: the filtered text, to standard output or a file, and the warnings, to
// standard error, each in the order it was written and the two in an order a reader can follow.
//
// The text is kept as a list of pieces: short texts copied into a buffer of this module, and
// long stretches of the input block where they stand, which go out, without a copy, before the
// input loop reads into that block again. On a terminal the pieces go to the standard stream,
// which keeps its line buffering. Anywhere else the stream is not used: the pieces go out in
// large writev calls to the descriptor, which waits for a full non-blocking pipe.
//
// Warnings go out at once when standard error is a terminal (after the text written so far, when
// standard output is one too). Anywhere else they are gathered and go out before every write of
// the text, so that a warning still comes before the text of its line where both streams share
// a file or pipe, before any read that may wait, when their buffer fills, and at the end.
//
// Outside a started output (before start_output(), after finish_output()) a warning goes out at
// once: a program that calls the table's routines alone loses none.
//
// All of it is the state of one output, which the run that owns it passes to every call: the
// destinations are the caller's choice (descriptors it gives, or writers of its own: an embedder
// takes the text through a writer on HOOKED_OUTPUT, which names no descriptor, and standard
// error's text through an error writer), and nothing here picks a descriptor of its own.
//
// A write error is kept, not reported: from then on nothing more is written, and the caller,
// which asks output_error(), decides what the failure means (the end of the run, or of one file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <sys/uio.h>

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
#ifndef ORVANE_WARNINGS_SIZE
#define ORVANE_WARNINGS_SIZE (16 * 1024)
#endif

// Returns room for count bytes at the end of the text, where the caller writes exactly that many
// bytes before any other output call; count is at most ROOM_MAX. The caller may also write past
// them, up to ROOM_MAX bytes from the room's start: the bytes past count are not output.
constexpr std::size_t ROOM_MAX = 32;

// The call that writes the text where it is not a terminal: writev(2) with a context. In place,
// a writer that also starts the write-back to disk takes its place; an embedder's takes the
// pieces itself; tests put one of their own there, to cut writes short or fail them.
using write_function = ssize_t (*)(void *context, int descriptor, const iovec *pieces, int count);
ssize_t write_to_descriptor(void *context, int descriptor, const iovec *pieces, int count);

// Where the text of standard error goes instead of the error descriptor: warnings, "??" lines.
using error_writer = void (*)(void *context, const char *text, std::size_t length);

constexpr int HOOKED_OUTPUT = -2;

// One output's state. What standard output has been given and not yet written, in order:
// stretches of the gather buffer, where short writes are copied, and longer stretches of the
// caller's, which stay where they stand. A short copy costs less than one more piece for the
// kernel to walk; a long one more than the piece.
struct output_state {
    static constexpr std::size_t GATHER_SIZE = ORVANE_GATHER_SIZE;
    static constexpr std::size_t SPAN_MIN = ORVANE_SPAN_MIN;
    static constexpr int PIECES = ORVANE_PIECES;
    static constexpr std::size_t WARNINGS_SIZE = ORVANE_WARNINGS_SIZE;
    static_assert(SPAN_MIN <= GATHER_SIZE);

    char gathered[GATHER_SIZE + ROOM_MAX]; // room may be written past its end
    std::size_t gathered_length = 0;
    iovec pieces[PIECES];
    int piece_count = 0;
    iovec *open_piece = nullptr; // the last piece, while it ends where the gather buffer does
    bool holds_spans = false;    // a piece refers to bytes that write_output_span did not copy

    // Where the pieces go: the standard stream, while the destination is standard output on a
    // terminal, or the descriptor (none: -1; the writer alone: HOOKED_OUTPUT).
    int destination = -1;
    write_function writer = write_to_descriptor;
    void *writer_context = nullptr;
    bool interactive = false;
    bool started = false;        // between start_output() and finish_output()
    int failure = 0;             // the error number of the write that failed
    std::uint64_t discarded = 0; // bytes handed over while there was no destination

    // Standard error: the descriptor the caller gave (-1: none), or the error writer; whether
    // each warning goes out at once (a terminal); the warnings gathered otherwise.
    int error_descriptor = -1;
    error_writer write_error = nullptr;
    void *error_context = nullptr;
    bool warnings_at_once = false;
    char warnings[WARNINGS_SIZE];
    std::size_t warnings_length = 0;
};

// Sets where standard error's text goes: to descriptor (whose being a terminal makes each
// warning go out at once), or, with a writer, to it alone.
void set_error_destination(output_state &out, int descriptor, error_writer writer = nullptr,
                           void *context = nullptr);

// Starts the text's output on descriptor (standard output, or a file being written), or, with
// -1, discards it: nothing is written, and only the warnings go out; with HOOKED_OUTPUT every
// piece goes to writer alone. Everything from a former destination must have been finished.
void start_output(output_state &out, int descriptor, write_function writer = write_to_descriptor,
                  void *context = nullptr);

// While discarding, the number of bytes handed over (and dropped) so far since start_output().
std::uint64_t output_discarded(const output_state &out);

// Sends what has not been handed over yet, and everything after it, to descriptor instead of
// discarding it: in place, the new content's file is made only once a change is seen, and the
// bytes dropped before are copied into it first.
void redirect_output(output_state &out, int descriptor, write_function writer,
                     void *context = nullptr);

// Ends the output with a failure of the caller's (error is its number): nothing more is
// written, and output_error() returns error.
void fail_output(output_state &out, int error);

// Appends count bytes to the text; the caller may change them once this returns.
void write_output(output_state &out, const char *bytes, std::size_t count);

// Appends count bytes to the text, which must stay as they are until release_input() or the
// end of the output: a stretch of the input block, or of an argument.
void write_output_span(output_state &out, const char *bytes, std::size_t count);

// Room for count bytes at the end of the text (see ROOM_MAX).
char *output_room(output_state &out, std::size_t count);

// Appends one byte to the text.
void write_output_byte(output_state &out, char byte);

// Called after a block of input, before the bytes of it that write_output_span was given may
// change: they go out now. When the next read may wait (a pipe or a terminal), everything
// written so far goes out too, warnings included, so that a reader never waits for text that
// has been filtered.
void release_input(output_state &out, bool next_read_may_wait);

// Hands everything written so far to the destination, warnings first.
void hand_over_output(output_state &out);

// Writes out everything, warnings included, and flushes the stream.
void finish_output(output_state &out);

// The error number of the write that failed since start_output(), or 0.
int output_error(const output_state &out);

// Appends a whole line of standard error (a warning), as above.
void write_warning_line(output_state &out, const char *line, std::size_t length);

// Writes text to standard error at once, after the warnings gathered so far.
void write_error_text(output_state &out, const char *text, std::size_t length);

// Writes the gathered warnings now.
void flush_warnings(output_state &out);

// Whether a read or write on descriptor that failed with errno should be tried again: it was
// interrupted, or the descriptor, made non-blocking by another process, was not ready; then it
// waits until it is (events: POLLIN or POLLOUT).
bool try_again(int descriptor, short events);
