// Writing to standard output, where every write error ends the run.
//
// Writes are gathered in a buffer of this module. When standard output is a terminal, the
// standard stream keeps its line buffering, and the gathered bytes are handed to it before every
// warning and after every block of input, so that output and warnings interleave on the screen
// as if each write had gone to the stream at once. Anywhere else the stream is not used: the
// gathered buffer goes out in large writes to the descriptor, which waits for a full
// non-blocking pipe.
#pragma once

#include <cstddef>

// Chooses the buffering for standard output, as above. Until it is called, the gathered bytes
// are handed over at every synchronisation point, as for a terminal.
void start_output();

// Appends count bytes to standard output.
void write_output(const char *bytes, std::size_t count);

// Returns room for count bytes at the end of standard output, where the caller writes exactly
// that many bytes before any other output call; count is at most 32.
char *output_room(std::size_t count);

// Appends one byte to standard output.
void write_output_byte(char byte);

// A point where a terminal must have seen everything written so far: before a warning, after
// a block of input.
void sync_output();

// Hands everything written so far to the standard output stream.
void hand_over_output();

// Whether a read or write on descriptor that failed with errno should be tried again: it was
// interrupted, or the descriptor, made non-blocking by another process, was not ready; then it
// waits until it is (events: POLLIN or POLLOUT).
bool try_again(int descriptor, short events);

// Writes out everything and flushes standard output; a failure here is reported like any
// other write error.
void finish_output();
