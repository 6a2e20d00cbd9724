// The plain checker of range exports: parse everything, then check each rule apart.

#include "plain_ranges.h"

#include <algorithm>
#include <cstddef>
#include <expat.h>
#include <string>
#include <vector>

namespace {

struct plain_rule {
    std::string range;
    std::string length;
};

struct plain_group {
    std::string prefix;
    std::string agency;
    std::vector<plain_rule> rules;
};

// What the parse gives: the document element, whether anything forbidden was declared, and the
// groups under ISBNRangeMessage/RegistrationGroups.
struct parsed {
    std::vector<std::string> open;
    std::string text; // of the innermost element, since its last child opened or closed
    std::string root;
    bool forbidden = false;
    std::vector<plain_group> groups;
};

bool open_are(const parsed &p, std::vector<std::string> names) {
    std::vector<std::string> full = {"ISBNRangeMessage", "RegistrationGroups", "Group"};
    full.insert(full.end(), names.begin(), names.end());
    return p.open == full;
}

std::string trimmed(const std::string &text) {
    std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

void start(void *data, const XML_Char *name, const XML_Char **) {
    auto &p = *static_cast<parsed *>(data);
    if (p.open.empty())
        p.root = name;
    p.open.emplace_back(name);
    p.text.clear();
    if (open_are(p, {}))
        p.groups.emplace_back();
    else if (open_are(p, {"Rules", "Rule"}))
        p.groups.back().rules.emplace_back();
}

void end(void *data, const XML_Char *) {
    auto &p = *static_cast<parsed *>(data);
    std::string value = trimmed(p.text);
    if (open_are(p, {"Prefix"}))
        p.groups.back().prefix = value;
    else if (open_are(p, {"Agency"}))
        p.groups.back().agency = value;
    else if (open_are(p, {"Rules", "Rule", "Range"}))
        p.groups.back().rules.back().range = value;
    else if (open_are(p, {"Rules", "Rule", "Length"}))
        p.groups.back().rules.back().length = value;
    p.open.pop_back();
    p.text.clear();
}

void characters(void *data, const XML_Char *text, int length) {
    static_cast<parsed *>(data)->text.append(text, static_cast<std::size_t>(length));
}

void doctype(void *data, const XML_Char *, const XML_Char *system, const XML_Char *public_id, int) {
    if (system != nullptr || public_id != nullptr)
        static_cast<parsed *>(data)->forbidden = true;
}

void entity(void *data, const XML_Char *, int, const XML_Char *, int, const XML_Char *,
            const XML_Char *, const XML_Char *, const XML_Char *) {
    static_cast<parsed *>(data)->forbidden = true;
}

bool digits(const std::string &text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The publisher ranges of a group, or false where a rule breaks a rule of the export.
bool group_ranges(const plain_group &group, std::size_t &ranges) {
    std::size_t hyphen = group.prefix.find('-');
    if (hyphen == std::string::npos)
        return false;
    std::string ean = group.prefix.substr(0, hyphen);
    std::string number = group.prefix.substr(hyphen + 1);
    if ((ean != "978" && ean != "979") || !digits(number) || number.size() > 7 ||
        group.agency.empty())
        return false;
    std::string last_high;
    for (const plain_rule &rule : group.rules) {
        std::size_t dash = rule.range.find('-');
        if (dash == std::string::npos)
            return false;
        std::string low = rule.range.substr(0, dash);
        std::string high = rule.range.substr(dash + 1);
        if (low.size() != 7 || high.size() != 7 || !digits(low) || !digits(high))
            return false;
        if (rule.length.size() != 1 || rule.length[0] < '0' || rule.length[0] > '7')
            return false;
        std::size_t length = static_cast<std::size_t>(rule.length[0] - '0');
        if (high < low || (!last_high.empty() && low <= last_high))
            return false;
        last_high = high;
        if (length == 0)
            continue;
        if (number.size() + length > 8)
            return false;
        for (std::size_t i = length; i < 7; ++i)
            if (low[i] != '0' || high[i] != '9')
                return false;
        ranges += 1;
    }
    return true;
}

} // namespace

bool plain_range_export_acceptable(std::string_view text) {
    parsed p;
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, &p);
    XML_SetElementHandler(parser, start, end);
    XML_SetCharacterDataHandler(parser, characters);
    XML_SetStartDoctypeDeclHandler(parser, doctype);
    XML_SetEntityDeclHandler(parser, entity);
    bool well_formed =
        XML_Parse(parser, text.data(), static_cast<int>(text.size()), XML_TRUE) == XML_STATUS_OK;
    XML_ParserFree(parser);
    if (!well_formed || p.forbidden || p.root != "ISBNRangeMessage" || p.groups.empty())
        return false;
    std::size_t rows = 0;
    std::size_t assigned = 0; // groups with a range
    for (const plain_group &group : p.groups) {
        std::size_t ranges = 0;
        if (!group_ranges(group, ranges))
            return false;
        rows += ranges;
        assigned += ranges != 0;
    }
    // No group may be another, or a prefix of another.
    for (std::size_t i = 0; i < p.groups.size(); ++i)
        for (std::size_t j = 0; j < p.groups.size(); ++j)
            if (i != j &&
                p.groups[j].prefix.compare(0, p.groups[i].prefix.size(), p.groups[i].prefix) == 0)
                return false;
    return rows <= 2560 && assigned != 0;
}
