// Input in blocks of whole lines, handed to the filter of the run's mode.
#pragma once

#include "run.h"

#include <cstddef>

// Input is read in blocks of this size; the buffer grows only for a longer line. Against 128 KiB,
// blocks of 256 KiB took 0.92 to 0.93 times as long on 100 MB of prose written to a file, and
// 0.94 to 0.95 on the BibTeX corpus in either mode (three runs of 41 interleaved rounds), with
// the same peak memory: half as many reads and writes. 512 KiB gained a little more on the
// BibTeX corpus (0.91) and nothing on prose, for a quarter of a MiB more memory; 64 KiB took
// 1.08 to 1.10 times as long on prose. Tests build with a tiny block so that every boundary is
// crossed.
#ifndef ORVANE_BLOCK_SIZE
#define ORVANE_BLOCK_SIZE (256 * 1024)
#endif

// The mode of the default filter, or of BibTeX mode.
const input_mode &filter_mode(bool bibtex);

// What a line that memory cannot hold is called, in every message.
constexpr const char *OUT_OF_MEMORY_FOR_A_LINE = "Out of memory for an input line";

// Starts the run's input, which its warnings name name (as messages show it, "-" for standard
// input): line 1, offset 0, the mode's own state, nothing held.
void start_input(orvane_run &run, const char *name);

// Room for the next bytes of the input, after those held: space bytes at the place returned. A
// line that fills the buffer makes it grow, so a line is never cut however long it is. Returns
// nullptr where memory runs out for a line: the input cannot go on.
char *input_room(orvane_run &run, std::size_t &space);

// Takes count bytes put at the room: every whole line held goes to the mode's filter, in one
// block, and the output is released as release_input() says; the unfinished line waits for the
// next bytes. Where a write fails, output_error() says so and nothing more is written.
void input_added(orvane_run &run, std::size_t count, bool next_read_may_wait);

// Ends the input: the unfinished line is filtered, and the mode ends what it left open.
void finish_input(orvane_run &run);
