#include "range_message.h"

#include "isbn.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <expat.h>
#include <initializer_list>

namespace {

// Digits of group and publisher together: the rest of a 13-digit ISBN is its prefix, at least
// one title digit and the check digit.
constexpr std::size_t MAX_PREFIX_DIGITS = 8;
constexpr std::size_t RANGE_DIGITS = 7;

// A rule as the export has it.
struct raw_rule {
    std::string range;
    std::string length;
};

struct raw_group {
    std::string prefix;
    std::string agency;
    std::vector<raw_rule> rules;
};

// What the XML handlers collect: the path of open elements, the text of the innermost, and the
// groups and date found so far. The first fault stops the parser.
struct collector {
    XML_Parser parser = nullptr;
    std::vector<std::string> path;
    std::string text;
    std::string root;
    std::string date;
    std::vector<raw_group> groups;
    std::string fault;

    void stop(const std::string &what) {
        if (fault.empty())
            fault = "line " + std::to_string(XML_GetCurrentLineNumber(parser)) + ": " + what;
        XML_StopParser(parser, XML_FALSE);
    }

    // Whether the open elements are exactly ISBNRangeMessage/RegistrationGroups/Group and then
    // these names, innermost last: only there does the export define its groups.
    bool in_group(std::initializer_list<const char *> names) const {
        static const char *const group[] = {"ISBNRangeMessage", "RegistrationGroups", "Group"};
        return path.size() == 3 + names.size() &&
               std::equal(std::begin(group), std::end(group), path.begin()) &&
               std::equal(names.begin(), names.end(), path.begin() + 3);
    }
};

void on_start(void *data, const XML_Char *name, const XML_Char **) {
    auto &c = *static_cast<collector *>(data);
    if (c.path.empty())
        c.root = name;
    c.path.emplace_back(name);
    c.text.clear();
    if (c.in_group({}))
        c.groups.emplace_back();
    else if (c.in_group({"Rules", "Rule"}))
        c.groups.back().rules.emplace_back();
}

void on_end(void *data, const XML_Char *) {
    auto &c = *static_cast<collector *>(data);
    std::string value = c.text;
    value.erase(0, value.find_first_not_of(" \t\r\n"));
    value.erase(value.find_last_not_of(" \t\r\n") + 1);
    if (c.path.size() == 2 && c.path.back() == "MessageDate")
        c.date = value;
    else if (c.in_group({"Prefix"}))
        c.groups.back().prefix = value;
    else if (c.in_group({"Agency"}))
        c.groups.back().agency = value;
    else if (c.in_group({"Rules", "Rule", "Range"}))
        c.groups.back().rules.back().range = value;
    else if (c.in_group({"Rules", "Rule", "Length"}))
        c.groups.back().rules.back().length = value;
    c.path.pop_back();
    c.text.clear();
}

void on_text(void *data, const XML_Char *text, int length) {
    static_cast<collector *>(data)->text.append(text, static_cast<std::size_t>(length));
}

// An internal subset that declares elements, as the agency's exports have, is harmless; an
// external one would be fetched, and entities could expand without bound.
void on_doctype(void *data, const XML_Char *, const XML_Char *system_id, const XML_Char *public_id,
                int) {
    if (system_id != nullptr || public_id != nullptr)
        static_cast<collector *>(data)->stop("an external document type definition is not allowed");
}

void on_entity(void *data, const XML_Char *, int, const XML_Char *, int, const XML_Char *,
               const XML_Char *, const XML_Char *, const XML_Char *) {
    static_cast<collector *>(data)->stop("an entity declaration is not allowed");
}

bool all_digits(const std::string &text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Checks one group's rules and collects its ranges; returns the fault, or "".
std::string convert_group(const raw_group &raw, range_group &group) {
    std::string where = "group " + raw.prefix;
    std::size_t hyphen = raw.prefix.find('-');
    group.prefix = raw.prefix.substr(0, hyphen);
    group.digits = hyphen == std::string::npos ? "" : raw.prefix.substr(hyphen + 1);
    if ((group.prefix != "978" && group.prefix != "979") || !all_digits(group.digits) ||
        group.digits.size() >= MAX_PREFIX_DIGITS)
        return where + ": the prefix is not 978 or 979, a hyphen and group digits";
    if (raw.agency.empty())
        return where + ": no Agency";
    group.name = raw.agency;
    std::string previous_high;
    for (const raw_rule &rule : raw.rules) {
        std::string quoted = where + ", rule " + rule.range + " (Length " + rule.length + ")";
        std::size_t dash = rule.range.find('-');
        std::string low = rule.range.substr(0, dash);
        std::string high = dash == std::string::npos ? "" : rule.range.substr(dash + 1);
        if (!all_digits(low) || !all_digits(high) || low.size() != RANGE_DIGITS ||
            high.size() != RANGE_DIGITS)
            return quoted + ": a range is two numbers of 7 digits joined by a hyphen";
        if (rule.length.size() != 1 || rule.length[0] < '0' || rule.length[0] > '7')
            return quoted + ": the length is not a whole number from 0 to 7";
        std::size_t length = static_cast<std::size_t>(rule.length[0] - '0');
        if (low > high)
            return quoted + ": the range ends below its start";
        if (!previous_high.empty() && low <= previous_high)
            return quoted + ": the rule overlaps or precedes the rule before it";
        previous_high = high;
        if (length == 0)
            continue; // an unassigned range
        if (group.digits.size() + length > MAX_PREFIX_DIGITS)
            return quoted + ": the group's " + std::to_string(group.digits.size()) +
                   " digits and the length leave no room for a title";
        if (low.find_first_not_of('0', length) != std::string::npos ||
            high.find_first_not_of('9', length) != std::string::npos)
            return quoted + ": the range does not start and end on whole publisher numbers of "
                            "its length";
        group.ranges.emplace_back(low.substr(0, length), high.substr(0, length));
    }
    return "";
}

} // namespace

std::string parse_range_message(const char *text, std::size_t length, const std::string &name,
                                range_message &message) {
    collector c;
    c.parser = XML_ParserCreate(nullptr);
    if (c.parser == nullptr)
        return name + ": out of memory for the XML parser";
    XML_SetUserData(c.parser, &c);
    XML_SetElementHandler(c.parser, on_start, on_end);
    XML_SetCharacterDataHandler(c.parser, on_text);
    XML_SetStartDoctypeDeclHandler(c.parser, on_doctype);
    XML_SetEntityDeclHandler(c.parser, on_entity);
    // Parsed in pieces that an int can count.
    XML_Status status = XML_STATUS_OK;
    for (std::size_t done = 0; status == XML_STATUS_OK;) {
        std::size_t piece = std::min<std::size_t>(length - done, 1 << 20);
        bool last = done + piece == length;
        status = XML_Parse(c.parser, text + done, static_cast<int>(piece), last);
        done += piece;
        if (last)
            break;
    }
    std::string xml_fault;
    if (status != XML_STATUS_OK && c.fault.empty())
        xml_fault = "line " + std::to_string(XML_GetCurrentLineNumber(c.parser)) + ", column " +
                    std::to_string(XML_GetCurrentColumnNumber(c.parser)) +
                    ": not well-formed XML (" + XML_ErrorString(XML_GetErrorCode(c.parser)) + ")";
    XML_ParserFree(c.parser);
    if (!c.fault.empty())
        return name + ": " + c.fault;
    if (!xml_fault.empty())
        return name + ": " + xml_fault;
    if (c.root != "ISBNRangeMessage")
        return name + ": not an ISBNRangeMessage (its document element is <" + c.root + ">)";
    if (c.groups.empty())
        return name + ": no registration groups";

    message = range_message{};
    message.date = c.date;
    std::size_t rows = 0;
    std::vector<range_group> seen;
    for (const raw_group &raw : c.groups) {
        range_group group;
        std::string fault = convert_group(raw, group);
        if (!fault.empty())
            return name + ": " + fault;
        for (const range_group &other : seen) {
            if (other.prefix != group.prefix)
                continue;
            const std::string &shorter =
                other.digits.size() <= group.digits.size() ? other.digits : group.digits;
            const std::string &longer =
                other.digits.size() <= group.digits.size() ? group.digits : other.digits;
            if (longer.compare(0, shorter.size(), shorter) == 0)
                return name + ": group " + group.prefix + "-" + shorter +
                       (shorter == longer ? " appears twice"
                                          : " is a prefix of group " + group.prefix + "-" + longer);
        }
        rows += group.ranges.size();
        seen.push_back(group);
        if (!group.ranges.empty())
            message.groups.push_back(std::move(group));
    }
    if (rows > ISBN_RANGE_MAX)
        return name + ": " + std::to_string(rows) + " ranges do not fit the table's " +
               std::to_string(ISBN_RANGE_MAX) + " rows";
    if (message.groups.empty())
        return name + ": no registration group has an assigned range";
    return "";
}

// Read with stdio, not a C++ stream: the streams would bring the C++ locale machinery into the
// program and its start-up.
std::string read_range_message(const std::string &path, range_message &message) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return path + ": " + std::strerror(errno);
    std::string text;
    char chunk[65536];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, got);
    int error = std::ferror(file) ? errno : 0;
    std::fclose(file);
    if (error != 0)
        return path + ": " + std::strerror(error);
    return parse_range_message(text.data(), text.size(), path, message);
}
