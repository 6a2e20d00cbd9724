// Helpers shared by the unit tests: capturing what a call writes to the standard streams.
#pragma once

#include "output.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

struct captured_output {
    std::string out;
    std::string err;
};

// Runs action with standard output and standard error captured.
template <typename Action> captured_output capture(Action action) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    action();
    hand_over_output();
    std::fflush(stdout);
    std::fflush(stderr);
    captured_output result;
    result.out = testing::internal::GetCapturedStdout();
    result.err = testing::internal::GetCapturedStderr();
    return result;
}

// What filter_text writes for one text given as a string (NUL bytes included), at line 0.
captured_output filter_one(const std::string &text);

// One group of the range data file, data/isbn-ranges.txt, as the file lists it.
struct data_group {
    std::string prefix;
    std::string digits;
    std::string country;
    std::string name;
    std::vector<std::pair<std::string, std::string>> ranges;
};

// The groups of the committed range data file, from which the built-in table is generated.
std::vector<data_group> read_range_data();

// Nine or twelve digits completed with the check character of a valid ISBN-10 or ISBN-13.
std::string with_check_digit(std::string digits);

// A deterministic mix of lines for the property tests: prose, ISBNs valid and not, in every
// form, URLs, NUL and high bytes, and a few very long lines.
std::string random_lines(unsigned seed, int count);
