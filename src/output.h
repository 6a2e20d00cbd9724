// Writing to standard output, where every write error ends the run.
//
// What is written is kept as a list of pieces: short texts copied into a buffer of this module,
// and long stretches of the input block where they stand, which go out, without a copy, before
// the input loop reads into that block again. When standard output is a terminal, the standard
// stream keeps its line buffering, and the pieces are handed to it before every warning and
// after every block of input, so that output and warnings interleave on the screen as if each
// write had gone to the stream at once. Anywhere else the stream is not used: the pieces go out
// in large writev calls to the descriptor, which waits for a full non-blocking pipe; in a
// regular file those calls end on boundaries of 64 KiB in the file, which the kernel writes
// fastest, and what lies past the last boundary goes out with the next call or at the end.
#pragma once

#include <cstddef>

// Chooses the buffering for standard output, as above. Until it is called, the pieces are
// handed over at every synchronisation point, as for a terminal.
void start_output();

// Appends count bytes to standard output; the caller may change them once this returns.
void write_output(const char *bytes, std::size_t count);

// Appends count bytes to standard output, which must stay as they are until release_input() or
// the end of the output: a stretch of the input block, or of an argument.
void write_output_span(const char *bytes, std::size_t count);

// Returns room for count bytes at the end of standard output, where the caller writes exactly
// that many bytes before any other output call; count is at most ROOM_MAX. The caller may also
// write past them, up to ROOM_MAX bytes from the room's start: the bytes past count are not
// output.
constexpr std::size_t ROOM_MAX = 32;
char *output_room(std::size_t count);

// Appends one byte to standard output.
void write_output_byte(char byte);

// A point where a terminal must have seen everything written so far: before a warning.
void sync_output();

// Called after a block of input, before the bytes of it that write_output_span was given may
// change: they go out now (and on a terminal everything does).
void release_input();

// Hands everything written so far to the standard output stream.
void hand_over_output();

// Whether a read or write on descriptor that failed with errno should be tried again: it was
// interrupted, or the descriptor, made non-blocking by another process, was not ready; then it
// waits until it is (events: POLLIN or POLLOUT).
bool try_again(int descriptor, short events);

// Writes out everything and flushes standard output; a failure here is reported like any
// other write error.
void finish_output();
