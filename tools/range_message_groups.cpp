// Prints the registration groups of an agency range export in the range data file's format,
// every country code "??", after the same checks as orvane --ranges makes; the range data
// converter fills in the country codes. Exits 1 with one line on standard error on any fault.
//
//   range_message_groups RangeMessage.xml

#include "range_message.h"

#include <cstdio>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fputs("usage: range_message_groups RangeMessage.xml\n", stderr);
        return 2;
    }
    range_message message;
    std::string fault = read_range_message(argv[1], argv[1], message);
    if (!fault.empty()) {
        std::fprintf(stderr, "%s\n", fault.c_str());
        return 1;
    }
    std::printf("# edition: RangeMessage.xml of %s\n", message.date.c_str());
    for (const range_group &group : message.groups) {
        std::printf("group %s-%s ?? %s\n", group.prefix.c_str(), group.digits.c_str(),
                    group.name.c_str());
        for (const auto &[low, high] : group.ranges)
            std::printf("  %s %s\n", low.c_str(), high.c_str());
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
