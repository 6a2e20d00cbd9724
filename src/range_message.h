// The agency's range export, RangeMessage.xml, read into registration groups with every check,
// for the range table at run time and for the range data file at build time.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// One registration group: its prefix ("978" or "979"), its digits, the agency's name of its
// region, and its publisher ranges (the first Length digits of each assigned rule's ends).
struct range_group {
    std::string prefix;
    std::string digits;
    std::string name;
    std::vector<std::pair<std::string, std::string>> ranges;
};

struct range_message {
    std::string date;
    std::vector<range_group> groups; // as the export lists them; groups without ranges left out
};

// Reads the export held in text, named name in messages. Returns an empty string and fills
// message, or returns one line that names the file and the fault: XML that is not well formed
// or that declares entities or an external document type, a document that is not an
// ISBNRangeMessage, no groups, a malformed prefix, range or length, a length that leaves no
// title, range ends not aligned to their length, overlapping or unordered rules, a group that
// is a prefix of another, more ranges than the table holds, more bytes than RANGE_MESSAGE_MAX.
std::string parse_range_message(const char *text, std::size_t length, const std::string &name,
                                range_message &message);

// The largest export read: many times a real one (about 200 KB).
constexpr std::size_t RANGE_MESSAGE_MAX = std::size_t{16} << 20;

// The same for the file at path, whose messages give it as name. A file larger than
// RANGE_MESSAGE_MAX (a device or a pipe: what it gives beyond that) is refused as too large
// there, and memory that runs out is a fault too.
std::string read_range_message(const std::string &path, const std::string &name,
                               range_message &message);
