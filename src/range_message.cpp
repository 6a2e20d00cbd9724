// The reader of the agency's range export: expat's events into checked registration groups.

#include "range_message.h"

#include "isbn.h"
#include "shown.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <expat.h>
#include <initializer_list>
#include <new>
#include <set>

namespace {

// Digits of a rule's range.
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

// What the XML handlers collect: the path of open elements, the text of the innermost, the group
// being read, and the date and groups found so far. Each group is checked as it closes, and the
// first fault stops the parser, so that neither a hostile file's size nor its number of groups
// costs more than one group's rules and the table's rows.
struct collector {
    XML_Parser parser = nullptr;
    std::vector<std::string> path;
    std::string text;
    std::string root;
    std::string date;
    raw_group group;
    std::size_t groups = 0;
    std::size_t rows = 0;
    // The groups so far, as PREFIX-DIGITS, none of them a prefix of another: a new group's own
    // prefixes are looked up, and the first group at or after it in order is the only one that
    // may start with it.
    std::set<std::string> seen;
    range_message *message = nullptr;
    std::string fault;

    // Stops with a fault that names the line where the parser stands.
    void stop(const std::string &what) {
        stop_with("line " + std::to_string(XML_GetCurrentLineNumber(parser)) + ": " + what);
    }

    void stop_with(const std::string &what) {
        if (fault.empty())
            fault = what;
        XML_StopParser(parser, XML_FALSE);
    }

    // Whether the open elements are exactly ISBNRangeMessage/RegistrationGroups/Group and then
    // these names, innermost last: only there does the export define its groups.
    bool in_group(std::initializer_list<const char *> names) const {
        static const char *const outer[] = {"ISBNRangeMessage", "RegistrationGroups", "Group"};
        return path.size() == 3 + names.size() &&
               std::equal(std::begin(outer), std::end(outer), path.begin()) &&
               std::equal(names.begin(), names.end(), path.begin() + 3);
    }
};

// The deepest nesting read: an export's elements go six deep. Without a bound a file of nothing
// but nested elements would cost memory many times its size in open elements, here and in
// expat, before its end showed it malformed.
constexpr std::size_t DEPTH_MAX = 16;

void on_start(void *data, const XML_Char *name, const XML_Char **) {
    auto &c = *static_cast<collector *>(data);
    if (c.path.empty())
        c.root = name;
    c.path.emplace_back(name);
    if (c.path.size() > DEPTH_MAX) {
        c.stop("elements nested more than " + std::to_string(DEPTH_MAX) +
               " deep, far deeper than a range export");
        return;
    }
    c.text.clear();
    if (c.in_group({}))
        c.group = raw_group{};
    else if (c.in_group({"Rules", "Rule"}))
        c.group.rules.emplace_back();
}

std::string convert_group(const raw_group &raw, range_group &group);

// A group that closes is checked, against the groups before it too, and kept.
void take_group(collector &c) {
    c.groups += 1;
    range_group group;
    std::string fault = convert_group(c.group, group);
    if (!fault.empty()) {
        c.stop_with(fault);
        return;
    }
    std::string full = group.prefix + "-" + group.digits;
    for (std::size_t size = group.prefix.size() + 2; size <= full.size(); ++size) {
        if (c.seen.count(full.substr(0, size)) != 0) {
            c.stop_with("group " + full.substr(0, size) +
                        (size == full.size() ? " appears twice" : " is a prefix of group " + full));
            return;
        }
    }
    auto after = c.seen.lower_bound(full);
    if (after != c.seen.end() && after->compare(0, full.size(), full) == 0) {
        c.stop_with("group " + full + " is a prefix of group " + *after);
        return;
    }
    c.seen.insert(full);
    c.rows += group.ranges.size();
    if (c.rows > ISBN_RANGE_MAX) {
        c.stop_with("group " + full + ": more ranges than the table's " +
                    std::to_string(ISBN_RANGE_MAX) + " rows");
        return;
    }
    if (!group.ranges.empty())
        c.message->groups.push_back(std::move(group));
}

void on_end(void *data, const XML_Char *) {
    auto &c = *static_cast<collector *>(data);
    std::string value = c.text;
    value.erase(0, value.find_first_not_of(" \t\r\n"));
    value.erase(value.find_last_not_of(" \t\r\n") + 1);
    if (c.path.size() == 2 && c.path.back() == "MessageDate")
        c.date = value;
    else if (c.in_group({}))
        take_group(c);
    else if (c.in_group({"Prefix"}))
        c.group.prefix = value;
    else if (c.in_group({"Agency"}))
        c.group.agency = value;
    else if (c.in_group({"Rules", "Rule", "Range"}))
        c.group.rules.back().range = value;
    else if (c.in_group({"Rules", "Rule", "Length"}))
        c.group.rules.back().length = value;
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
    // The export's own texts are quoted as names are, so that none can forge a message.
    std::string where = "group " + shown_name(raw.prefix);
    std::size_t hyphen = raw.prefix.find('-');
    group.prefix = raw.prefix.substr(0, hyphen);
    group.digits = hyphen == std::string::npos ? "" : raw.prefix.substr(hyphen + 1);
    if ((group.prefix != "978" && group.prefix != "979") || !all_digits(group.digits) ||
        group.digits.size() >= ISBN_PREFIX_DIGITS_MAX)
        return where + ": the prefix is not 978 or 979, a hyphen and group digits";
    if (raw.agency.empty())
        return where + ": no Agency";
    group.name = raw.agency;
    std::string previous_high;
    for (const raw_rule &rule : raw.rules) {
        std::string quoted = where + ", rule " + shown_name(rule.range) + " (Length " +
                             shown_name(rule.length) + ")";
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
        if (group.digits.size() + length > ISBN_PREFIX_DIGITS_MAX)
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

// expat scans an unfinished token again with each piece it is given, so that one token as long
// as a hostile file (a comment of 16 MiB) costs time with the number of pieces: they are large.
constexpr std::size_t PIECE_SIZE = std::size_t{1} << 20;

// Parses the export that next gives in pieces: next(piece, fault) points piece at up to
// PIECE_SIZE bytes and returns how many, 0 at its end, or -1 with fault set when the source
// fails. An export larger than RANGE_MESSAGE_MAX is refused at the piece that makes it so,
// whatever gives it.
template <typename Source>
std::string parse_pieces(Source next, const std::string &name, range_message &message) {
    message = range_message{};
    collector c;
    c.message = &message;
    c.parser = XML_ParserCreate(nullptr);
    if (c.parser == nullptr)
        return name + ": out of memory for the XML parser";
    XML_SetUserData(c.parser, &c);
    XML_SetElementHandler(c.parser, on_start, on_end);
    XML_SetCharacterDataHandler(c.parser, on_text);
    XML_SetStartDoctypeDeclHandler(c.parser, on_doctype);
    XML_SetEntityDeclHandler(c.parser, on_entity);
    XML_Status status = XML_STATUS_OK;
    std::string source_fault;
    std::size_t total = 0;
    for (;;) {
        const char *piece = nullptr;
        long got = next(piece, source_fault);
        if (got < 0)
            break;
        total += static_cast<std::size_t>(got);
        if (total > RANGE_MESSAGE_MAX) {
            source_fault = "larger than " + std::to_string(RANGE_MESSAGE_MAX >> 20) +
                           " MiB, far more than a range export";
            break;
        }
        status = XML_Parse(c.parser, piece, static_cast<int>(got), got == 0);
        if (status != XML_STATUS_OK || got == 0)
            break;
    }
    std::string xml_fault;
    if (source_fault.empty() && status != XML_STATUS_OK && c.fault.empty())
        xml_fault = "line " + std::to_string(XML_GetCurrentLineNumber(c.parser)) + ", column " +
                    std::to_string(XML_GetCurrentColumnNumber(c.parser)) +
                    ": not well-formed XML (" + XML_ErrorString(XML_GetErrorCode(c.parser)) + ")";
    XML_ParserFree(c.parser);
    for (const std::string &fault : {source_fault, c.fault, xml_fault})
        if (!fault.empty()) {
            message = range_message{};
            return name + ": " + fault;
        }
    if (c.root != "ISBNRangeMessage")
        return name + ": not an ISBNRangeMessage (its document element is <" + shown_name(c.root) +
               ">)";
    if (c.groups == 0)
        return name + ": no registration groups";
    message.date = c.date;
    if (message.groups.empty())
        return name + ": no registration group has an assigned range";
    return "";
}

} // namespace

std::string parse_range_message(const char *text, std::size_t length, const std::string &name,
                                range_message &message) {
    std::size_t done = 0;
    return parse_pieces(
        [&](const char *&piece, std::string &) {
            std::size_t count = std::min(PIECE_SIZE, length - done);
            piece = text + done;
            done += count;
            return static_cast<long>(count);
        },
        name, message);
}

namespace {

// The export in an open file, a piece at a time.
std::string read_open_file(std::FILE *file, const std::string &name, range_message &message) {
    std::vector<char> buffer(PIECE_SIZE);
    return parse_pieces(
        [&](const char *&piece, std::string &source_fault) {
            std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
            piece = buffer.data();
            if (got == 0 && std::ferror(file)) {
                source_fault = std::strerror(errno);
                return -1L;
            }
            return static_cast<long>(got);
        },
        name, message);
}

} // namespace

// Read with stdio, not a C++ stream: the streams would bring the C++ locale machinery into the
// program and its start-up. The file is parsed as it is read, so memory never grows with its
// size; one larger than RANGE_MESSAGE_MAX (a device without end, say) is refused there, and
// running out of memory anyway is a fault of the file like any other, never an abort.
std::string read_range_message(const std::string &path, const std::string &name,
                               range_message &message) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return name + ": " + std::strerror(errno);
    std::string fault;
#if __cpp_exceptions
    try {
        fault = read_open_file(file, name, message);
    } catch (const std::bad_alloc &) {
        message = range_message{};
        fault = name + ": out of memory while reading it";
    }
#else
    fault = read_open_file(file, name, message);
#endif
    std::fclose(file);
    return fault;
}
