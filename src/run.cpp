// The run: made with its options and table, its output started by its caller.

#include "run.h"

#include "input.h"

#include <cstdlib>

orvane_run::orvane_run(const orvane_options &chosen, const range_table *ranges)
    : options(chosen), table(ranges), mode(&filter_mode(chosen.bibtex)) {
    input.run = this;
}

orvane_run::~orvane_run() {
    std::free(buffer);
}
