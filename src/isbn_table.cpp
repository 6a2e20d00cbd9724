// A range table made from an agency range export, beside the table in use.

#include "isbn.h"
#include "range_message.h"

#include <algorithm>
#include <new>
#include <string>
#include <vector>

namespace {

// The annotation of a group's first row, in the form of the built-in table; the country code
// needs data that only the build has.
std::string annotation(const range_group &group) {
    std::string publishers;
    for (const auto &[low, high] : group.ranges)
        publishers += (publishers.empty() ? "" : "; ") + low + " - " + high;
    return "Region name:     " + group.name +
           "\tCountry code(s): ??\tLanguage group:  " + group.digits +
           "\tPublisher(s):    " + publishers;
}

// Table order, as the generator of the built-in table has it: the groups of 978 in byte order
// of their digits, then those of 979, each group's ranges in byte order. The texts live in the
// table's deque, which never moves what it holds.
bool fill(range_table &table, const range_message &message) {
    std::vector<const range_group *> order;
    for (const range_group &group : message.groups)
        order.push_back(&group);
    std::stable_sort(order.begin(), order.end(), [](const range_group *a, const range_group *b) {
        return a->prefix != b->prefix ? a->prefix < b->prefix : a->digits < b->digits;
    });
    auto keep = [&](std::string text) { return table.texts.emplace_back(std::move(text)).c_str(); };
    std::vector<ISBN_range_row> rows;
    std::size_t first_979_row = 0;
    for (const range_group *group : order) {
        if (group->prefix == "978")
            first_979_row = rows.size() + group->ranges.size();
        auto ranges = group->ranges;
        std::sort(ranges.begin(), ranges.end());
        for (std::size_t i = 0; i < ranges.size(); ++i)
            rows.push_back({keep(group->digits + "-" + ranges[i].first),
                            keep(group->digits + "-" + ranges[i].second),
                            keep(i == 0 ? annotation(*group) : "")});
    }
    rows.push_back({nullptr, nullptr, nullptr});
    std::deque<std::string> texts = std::move(table.texts);
    if (!make_ISBN_table(table, rows.data(), rows.size(), first_979_row))
        return false;
    table.texts = std::move(texts);
    return true;
}

} // namespace

// Everything is made in a table of its own, which the caller puts in place only when it is
// whole: memory that runs out on the way leaves no half-made table behind.
bool make_ISBN_table(range_table &table, const range_message &message) {
    range_table made;
#if __cpp_exceptions
    try {
        if (!fill(made, message))
            return false;
    } catch (const std::bad_alloc &) {
        return false;
    }
#else
    if (!fill(made, message))
        return false;
#endif
    table = std::move(made);
    return true;
}
