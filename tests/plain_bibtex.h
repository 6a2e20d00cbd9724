// A deliberately plain BibTeX reader for the tests: the whole input at once, a byte at a time, by
// the rules BibTeX itself reads a file by, with the same recovery and warnings as orvane's
// --bibtex; it finds the values of the ISBN fields and hands each line of them to the plain
// filter. It shares no code with orvane's parser, so that the two cannot be wrong the same way.
#pragma once

#include "plain_filter.h"

#include <string_view>

// What orvane --bibtex writes for input, as standard input (warnings quote lines from 1) or, with
// argument, as one argument (warnings quote line 0).
plain_result plain_filter_bibtex(std::string_view input, bool argument);
