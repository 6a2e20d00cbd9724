// The plain reference filter as a program: reads all of standard input and writes what the
// plain filter of the tests makes of it (with --bibtex, the plain BibTeX reader), warnings
// included. orvane must write exactly this.

#include "plain_bibtex.h"
#include "plain_filter.h"

#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>

int main(int argc, char **argv) {
    std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    bool bibtex = argc > 1 && std::string(argv[1]) == "--bibtex";
    plain_result result = bibtex ? plain_filter_bibtex(input, false) : plain_filter_lines(input);
    std::fwrite(result.out.data(), 1, result.out.size(), stdout);
    std::fwrite(result.err.data(), 1, result.err.size(), stderr);
    return 0;
}
