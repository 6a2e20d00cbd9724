// The plain reference path of the filter: reads standard input a line at a time and hands each
// line to filter_text, counting lines as it goes. The block filter of orvane must write exactly
// what this writes.

#include "diagnostics.h"
#include "filter.h"
#include "output.h"

#include <cstdio>
#include <cstdlib>
#include <sys/types.h>

int main() {
    char *line = nullptr;
    std::size_t capacity = 0;
    ssize_t length = 0;
    line_number = 0;
    while ((length = getline(&line, &capacity, stdin)) > 0) {
        ++line_number;
        filter_text(line, static_cast<std::size_t>(length));
    }
    std::free(line);
    finish_output();
    return 0;
}
