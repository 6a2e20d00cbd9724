// Input in blocks of whole lines: the bytes a caller gives, held until their lines are whole.

#include "input.h"

#include "bibtex.h"
#include "scan.h"

#include <cstdlib>
#include <cstring>

const input_mode &filter_mode(bool bibtex) {
    static constexpr input_mode TEXT{start_text_input, filter_lines, nullptr};
    static constexpr input_mode BIBTEX{start_bibtex_input, filter_bibtex_lines,
                                       finish_bibtex_input};
    return bibtex ? BIBTEX : TEXT;
}

void start_input(orvane_run &run, const char *name) {
    run.input = text_input{};
    run.input.run = &run;
    run.input.name = name;
    run.held = 0;
    run.mode->start(run.input);
}

// The buffer doubles while a line does not fit; realloc keeps that growth from needing the old
// and the new buffer at once.
char *input_room(orvane_run &run, std::size_t &space) {
    if (run.buffer == nullptr) {
        run.buffer = static_cast<char *>(std::malloc(ORVANE_BLOCK_SIZE));
        if (run.buffer == nullptr)
            return nullptr;
        run.capacity = ORVANE_BLOCK_SIZE;
    }
    if (run.held == run.capacity) {
        char *larger = static_cast<char *>(std::realloc(run.buffer, 2 * run.capacity));
        if (larger == nullptr)
            return nullptr;
        run.buffer = larger;
        run.capacity *= 2;
    }
    space = run.capacity - run.held;
    return run.buffer + run.held;
}

// What stays held after the last newline is the unfinished line.
void input_added(orvane_run &run, std::size_t count, bool next_read_may_wait) {
    const char *fresh = run.buffer + run.held;
    run.held += count;
    const char *newline = find_last_newline(fresh, run.buffer + run.held);
    if (newline == nullptr)
        return;
    std::size_t whole = static_cast<std::size_t>(newline - run.buffer) + 1;
    run.mode->filter(run.input, run.buffer, whole);
    release_input(run.out, next_read_may_wait);
    if (output_error(run.out) != 0)
        return;
    run.held -= whole;
    std::memmove(run.buffer, run.buffer + whole, run.held);
}

void finish_input(orvane_run &run) {
    run.mode->filter(run.input, run.buffer != nullptr ? run.buffer : "", run.held);
    run.held = 0;
    if (run.mode->finish != nullptr)
        run.mode->finish(run.input);
    release_input(run.out, false);
}
