// Helpers shared by the unit tests: capturing what a call writes to the standard streams.
#pragma once

#include "output.h"
#include "run.h"
#include "table_upkeep.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct captured_output {
    std::string out;
    std::string err;
};

// The run of the test in progress, for tests that call the core's routines one at a time: made
// by capture() over test_table(), its text going to standard output and its warnings to standard
// error, as the command line's run does (outside capture(), one run of the default options).
orvane_run &test_run();
std::unique_ptr<orvane_run> make_test_run(const orvane_options &options);
void set_test_run(orvane_run *run);

// Runs action in a fresh test run with the options, standard output and standard error captured.
template <typename Action>
captured_output capture(Action action, const orvane_options &options = orvane_options{}) {
    std::unique_ptr<orvane_run> run = make_test_run(options);
    set_test_run(run.get());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    action();
    finish_output(run->out);
    std::fflush(stdout);
    std::fflush(stderr);
    captured_output result;
    result.out = testing::internal::GetCapturedStdout();
    result.err = testing::internal::GetCapturedStderr();
    set_test_run(nullptr);
    return result;
}

// What filter_text writes for one text given as a string (NUL bytes included), at line 0.
captured_output filter_one(const std::string &text, const orvane_options &options = {});

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
