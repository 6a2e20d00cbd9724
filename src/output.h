// What the run writes: the filtered text, to standard output or a file, and the warnings, to
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
// An embedder (the web page, a test) takes the text through a writer of its own on
// HOOKED_OUTPUT, which names no descriptor, and standard error's text through an error writer of
// its own: nothing in this room then writes to a descriptor.
//
// A write error is kept, not reported: from then on nothing more is written, and the caller,
// which asks output_error(), decides what the failure means (the end of the run, or of one file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <sys/uio.h>

// The system call that writes the text where it is not a terminal. In place, a writer that also
// starts the write-back to disk takes its place; tests put one of their own there, to cut writes
// short or fail them.
using write_function = ssize_t (*)(int descriptor, const iovec *pieces, int count);

// Starts the text's output on descriptor (standard output, or a file being written), or, with
// -1, discards it: nothing is written, and only the warnings go out; with HOOKED_OUTPUT every
// piece goes to writer alone. Everything from a former destination must have been finished.
constexpr int HOOKED_OUTPUT = -2;
void start_output(int descriptor, write_function writer = writev);

// Where the text of standard error goes: warnings, "??" lines and the table's messages. nullptr
// puts back standard error itself.
using error_writer = void (*)(const char *text, std::size_t length);
void set_error_writer(error_writer writer);

// While discarding, the number of bytes handed over (and dropped) so far since start_output().
std::uint64_t output_discarded();

// Sends what has not been handed over yet, and everything after it, to descriptor instead of
// discarding it: in place, the new content's file is made only once a change is seen, and the
// bytes dropped before are copied into it first.
void redirect_output(int descriptor, write_function writer);

// Ends the output with a failure of the caller's (error is its number): nothing more is
// written, and output_error() returns error.
void fail_output(int error);

// Appends count bytes to the text; the caller may change them once this returns.
void write_output(const char *bytes, std::size_t count);

// Appends count bytes to the text, which must stay as they are until release_input() or the
// end of the output: a stretch of the input block, or of an argument.
void write_output_span(const char *bytes, std::size_t count);

// Returns room for count bytes at the end of the text, where the caller writes exactly that many
// bytes before any other output call; count is at most ROOM_MAX. The caller may also write past
// them, up to ROOM_MAX bytes from the room's start: the bytes past count are not output.
constexpr std::size_t ROOM_MAX = 32;
char *output_room(std::size_t count);

// Appends one byte to the text.
void write_output_byte(char byte);

// Called after a block of input, before the bytes of it that write_output_span was given may
// change: they go out now. When the next read may wait (a pipe or a terminal), everything
// written so far goes out too, warnings included, so that a reader never waits for text that
// has been filtered.
void release_input(bool next_read_may_wait);

// Hands everything written so far to the destination, warnings first.
void hand_over_output();

// Writes out everything, warnings included, and flushes the stream.
void finish_output();

// The error number of the write that failed since start_output(), or 0.
int output_error();

// Appends a whole line of standard error (a warning), as above.
void write_warning_line(const char *line, std::size_t length);

// Writes text to standard error at once, after the warnings gathered so far.
void write_error_text(const char *text, std::size_t length);

// Writes the gathered warnings now.
void flush_warnings();

// Whether a read or write on descriptor that failed with errno should be tried again: it was
// interrupted, or the descriptor, made non-blocking by another process, was not ready; then it
// waits until it is (events: POLLIN or POLLOUT).
bool try_again(int descriptor, short events);
