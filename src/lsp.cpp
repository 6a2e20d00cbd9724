// The language server: JSON-RPC over two descriptors (nlohmann's JSON), documents filtered by the
// embedding API, warnings as diagnostics, changes as code actions and formatting edits.

#include "lsp.h"

#include "isbn.h"
#include "orvane.h"
#include "range_message.h"
#include "shown.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

using json = nlohmann::json;

namespace {

// Diagnostics wait until the editor has been quiet this long after a change: typing publishes
// once a pause comes, not for every key.
constexpr int DEBOUNCE_MS = 20;

// JSON-RPC's error codes.
constexpr int PARSE_ERROR = -32700;
constexpr int INVALID_REQUEST = -32600;
constexpr int METHOD_NOT_FOUND = -32601;
constexpr int INVALID_PARAMS = -32602;
constexpr int SERVER_NOT_INITIALIZED = -32002;

// What one filtering of a document found: each change and each warning with its offset.
struct found_change {
    std::uint64_t offset;
    std::string old_text;
    std::string new_text;
};
struct found_warning {
    std::uint64_t offset;
    std::string message;
    bool counted;
};
struct findings {
    std::vector<found_change> changes;
    std::vector<found_warning> warnings;
};

// Filters text with the options and table through the API, keeping the changes and warnings.
findings filter_document(const std::string &text, const orvane_options &options,
                         const orvane_table *table) {
    findings found;
    orvane_hooks hooks;
    hooks.context = &found; // the output itself is dropped: only the changes are wanted
    hooks.change = [](void *context, const orvane_change *change) {
        static_cast<findings *>(context)->changes.push_back(
            {change->offset, std::string(change->old_text, change->old_length),
             std::string(change->new_text, change->new_length)});
        return true;
    };
    hooks.warning = [](void *context, const orvane_warning *warning) {
        static_cast<findings *>(context)->warnings.push_back(
            {warning->offset, std::string(warning->message, warning->message_length) + ".",
             warning->counted});
        return true;
    };
    orvane_run *run = orvane_run_create(&options, table, "-", &hooks);
    if (run == nullptr)
        return found;
    orvane_run_feed(run, text.data(), text.size());
    orvane_run_finish(run);
    orvane_run_free(run);
    return found;
}

// A document as the editor sent it: its text (the JSON's Unicode, held as UTF-8), the starts of
// its lines, and whether its diagnostics are due.
struct document {
    std::string language;
    std::string text;
    std::vector<std::size_t> line_starts;
    bool due = false;
    // Where the last position was counted: its line, its byte and its UTF-16 column.
    mutable std::size_t counted_line = 0;
    mutable std::size_t counted_at = 0;
    mutable std::size_t counted_units = 0;

    void set_text(std::string fresh) {
        text = std::move(fresh);
        count_lines();
    }

    void count_lines() {
        counted_line = counted_at = counted_units = 0;
        line_starts.assign(1, 0);
        const char *begin = text.data();
        const char *end = begin + text.size();
        for (const char *p = begin; (p = static_cast<const char *>(std::memchr(p, '\n', end - p)));)
            line_starts.push_back(static_cast<std::size_t>(++p - begin));
    }

    // Applies one change as an editor sends it: a range and its new text, or the whole text.
    // Editors send a small range as each key is typed, so a document of 100 MB costs a copy of
    // the keys, not of the document, in JSON.
    void apply(json &change) {
        std::string &fresh = change.at("text").get_ref<std::string &>();
        if (!change.contains("range")) {
            set_text(std::move(fresh));
            return;
        }
        std::size_t begin = offset(change["range"].at("start"));
        std::size_t end = std::max(begin, offset(change["range"].at("end")));
        text.replace(begin, end - begin, fresh);
        count_lines();
    }

    // The protocol's position of a byte offset: its line, and its column in UTF-16 code units
    // (a UTF-8 sequence of four bytes is two of them, every other one). Positions are asked for
    // in order, so the count goes on from the last one on the same line: a line of megabytes with
    // thousands of numbers costs its length once, not once for each.
    json position(std::uint64_t offset) const {
        std::size_t at = std::min<std::size_t>(offset, text.size());
        auto line = std::upper_bound(line_starts.begin(), line_starts.end(), at) - 1;
        std::size_t index = static_cast<std::size_t>(line - line_starts.begin());
        if (index != counted_line || at < counted_at) {
            counted_line = index;
            counted_at = *line;
            counted_units = 0;
        }
        for (; counted_at < at; ++counted_at) {
            auto byte = static_cast<unsigned char>(text[counted_at]);
            if ((byte & 0xC0) != 0x80)
                counted_units += byte >= 0xF0 ? 2 : 1;
        }
        return {{"line", index}, {"character", counted_units}};
    }

    json range(std::uint64_t begin, std::uint64_t end) const {
        return {{"start", position(begin)}, {"end", position(end)}};
    }

    // The byte offset of a protocol position, within the text.
    std::size_t offset(const json &position) const {
        std::size_t line = position.at("line").get<std::size_t>();
        if (line >= line_starts.size())
            return text.size();
        std::size_t at = line_starts[line];
        std::size_t units = position.at("character").get<std::size_t>();
        while (at < text.size() && text[at] != '\n' && units > 0) {
            auto byte = static_cast<unsigned char>(text[at]);
            std::size_t length = byte < 0x80 ? 1 : byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
            units -= std::min<std::size_t>(units, byte >= 0xF0 ? 2 : 1);
            at = std::min(text.size(), at + length);
        }
        return at;
    }

    // The end of the number that starts at offset: its digits, X and hyphens.
    std::size_t number_end(std::size_t at) const {
        while (at < text.size() && (std::isdigit(static_cast<unsigned char>(text[at])) != 0 ||
                                    text[at] == 'x' || text[at] == 'X' || text[at] == '-'))
            ++at;
        return at;
    }
};

class server {
  public:
    server(int in, int out) : in_(in), out_(out) {}

    int run() {
        for (;;) {
            // A message already read whole is handled first; the input is waited for only
            // where none is, for as long as the debounce allows when diagnostics are due.
            if (!holds_message()) {
                bool due = std::any_of(documents_.begin(), documents_.end(),
                                       [](const auto &d) { return d.second.due; });
                pollfd ready{in_, POLLIN, 0};
                int polled = poll(&ready, 1, due ? DEBOUNCE_MS : -1);
                if (polled < 0 && errno == EINTR)
                    continue;
                if (polled == 0) {
                    publish_due();
                    continue;
                }
            }
            std::optional<std::string> body = read_message();
            if (!body)
                return shut_down_ ? 0 : 1; // the client went away
            handle(*body);
            if (exit_)
                return shut_down_ ? 0 : 1;
        }
    }

  private:
    // ---- Messages: a header with Content-Length, an empty line, then that many bytes of JSON.
    bool fill() {
        char chunk[1 << 16];
        ssize_t got = read(in_, chunk, sizeof chunk);
        while (got < 0 && errno == EINTR)
            got = read(in_, chunk, sizeof chunk);
        if (got <= 0)
            return false;
        buffer_.append(chunk, static_cast<std::size_t>(got));
        return true;
    }

    // The Content-Length of a header (its name in any case), where it has one.
    static std::optional<std::size_t> content_length(std::string_view header) {
        constexpr std::string_view NAME = "content-length:";
        for (std::size_t at = 0; at < header.size();) {
            std::size_t stop = std::min(header.find("\r\n", at), header.size());
            std::string_view line = header.substr(at, stop - at);
            at = stop + 2;
            if (line.size() < NAME.size() ||
                !std::equal(NAME.begin(), NAME.end(), line.begin(), [](char a, char b) {
                    return a == std::tolower(static_cast<unsigned char>(b));
                }))
                continue;
            std::string digits(line.substr(NAME.size()));
            char *stopped = nullptr;
            unsigned long long value = std::strtoull(digits.c_str(), &stopped, 10);
            if (stopped != digits.c_str())
                return static_cast<std::size_t>(value);
        }
        return std::nullopt;
    }

    // Whether the input read so far holds a whole message (or a header without a length).
    bool holds_message() const {
        std::size_t end = buffer_.find("\r\n\r\n");
        if (end == std::string::npos)
            return false;
        std::optional<std::size_t> length =
            content_length(std::string_view(buffer_).substr(0, end));
        return !length || buffer_.size() - end - 4 >= *length;
    }

    // The next message's body; none where the input ends. A header without a length is answered
    // as a parse error and passed over.
    std::optional<std::string> read_message() {
        for (;;) {
            std::size_t end = buffer_.find("\r\n\r\n");
            if (end == std::string::npos) {
                if (!fill())
                    return std::nullopt;
                continue;
            }
            std::optional<std::size_t> length =
                content_length(std::string_view(buffer_).substr(0, end));
            buffer_.erase(0, end + 4);
            if (!length) {
                send_error(nullptr, PARSE_ERROR, "a message without Content-Length");
                continue;
            }
            while (buffer_.size() < *length)
                if (!fill())
                    return std::nullopt;
            std::string body = buffer_.substr(0, *length);
            buffer_.erase(0, *length);
            return body;
        }
    }

    void send(const json &message) {
        std::string body = message.dump(-1, ' ', false, json::error_handler_t::replace);
        std::string text = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        for (std::size_t done = 0; done < text.size();) {
            ssize_t put = write(out_, text.data() + done, text.size() - done);
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0) {
                exit_ = true; // the client went away
                return;
            }
            done += static_cast<std::size_t>(put);
        }
    }

    void send_result(const json &id, const json &result) {
        send({{"jsonrpc", "2.0"}, {"id", id}, {"result", result}});
    }

    void send_error(const json &id, int code, const std::string &message) {
        send({{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}});
    }

    void notify(const std::string &method, const json &params) {
        send({{"jsonrpc", "2.0"}, {"method", method}, {"params", params}});
    }

    // ---- Dispatch: every message gets the protocol's answer, whatever it holds.
    void handle(const std::string &body) {
        json message = json::parse(body, nullptr, false);
        if (message.is_discarded()) {
            send_error(nullptr, PARSE_ERROR, "the message is not JSON");
            return;
        }
        if (!message.is_object() || !message.contains("method") || !message["method"].is_string()) {
            if (message.is_object() && message.contains("id") && !message.contains("result") &&
                !message.contains("error"))
                send_error(message["id"], INVALID_REQUEST, "a request without a method");
            return; // a response, or nothing to answer
        }
        std::string method = message["method"];
        bool request = message.contains("id");
        json id = request ? message["id"] : json();
        json params = message.contains("params") ? std::move(message["params"]) : json::object();
        if (method == "exit") {
            exit_ = true;
            return;
        }
        if (!initialized_ && method != "initialize") {
            if (request)
                send_error(id, SERVER_NOT_INITIALIZED, "initialize comes first");
            return;
        }
        if (shut_down_) {
            if (request)
                send_error(id, INVALID_REQUEST, "the server is shut down");
            return;
        }
        try {
            dispatch(method, request, id, params);
            // A notification's method sent as a request still gets its answer.
            if (request && is_notification(method))
                send_result(id, nullptr);
        } catch (const json::exception &error) {
            if (request)
                send_error(id, INVALID_PARAMS, error.what());
        } catch (const std::bad_alloc &) {
            if (request)
                send_error(id, -32603, "out of memory");
        } catch (const std::exception &error) {
            // Whatever else a message sets off is an error of that message, never of the server.
            if (request)
                send_error(id, -32603, error.what());
        }
    }

    static bool is_notification(const std::string &method) {
        return method == "initialized" || method == "workspace/didChangeConfiguration" ||
               method.rfind("textDocument/did", 0) == 0 || method.rfind("$/", 0) == 0;
    }

    void dispatch(const std::string &method, bool request, const json &id, json &params) {
        if (method == "initialize") {
            configure(params.value("initializationOptions", json::object()));
            initialized_ = true;
            send_result(
                id, {{"capabilities",
                      {{"positionEncoding", "utf-16"},
                       {"textDocumentSync", {{"openClose", true}, {"change", 2}, {"save", true}}},
                       {"codeActionProvider", {{"codeActionKinds", {"quickfix", "source.fixAll"}}}},
                       {"documentFormattingProvider", true},
                       {"documentRangeFormattingProvider", true}}},
                     {"serverInfo", {{"name", "orvane"}}}});
        } else if (method == "shutdown") {
            shut_down_ = true;
            send_result(id, nullptr);
        } else if (method == "textDocument/didOpen") {
            json &item = params.at("textDocument");
            document &d = documents_[item.at("uri").get<std::string>()];
            d.language = item.value("languageId", "");
            d.set_text(std::move(item.at("text").get_ref<std::string &>()));
            d.due = true;
        } else if (method == "textDocument/didChange") {
            auto found = documents_.find(params.at("textDocument").at("uri").get<std::string>());
            if (found != documents_.end()) {
                for (json &change : params.at("contentChanges"))
                    found->second.apply(change);
                found->second.due = true;
            }
        } else if (method == "textDocument/didSave") {
            auto found = documents_.find(params.at("textDocument").at("uri").get<std::string>());
            if (found != documents_.end())
                found->second.due = true;
        } else if (method == "textDocument/didClose") {
            std::string uri = params.at("textDocument").at("uri");
            documents_.erase(uri);
            notify("textDocument/publishDiagnostics",
                   {{"uri", uri}, {"diagnostics", json::array()}});
        } else if (method == "workspace/didChangeConfiguration") {
            const json &settings = params.value("settings", json::object());
            configure(settings.is_object() && settings.contains("orvane") ? settings["orvane"]
                                                                          : settings);
            for (auto &[uri, d] : documents_)
                d.due = true;
        } else if (method == "textDocument/formatting" ||
                   method == "textDocument/rangeFormatting") {
            send_result(id, format(params, method == "textDocument/rangeFormatting"));
        } else if (method == "textDocument/codeAction") {
            send_result(id, code_actions(params));
        } else if (request && !is_notification(method)) {
            send_error(id, METHOD_NOT_FOUND, "no method " + method);
        }
    }

    // ---- Settings: isbn13, a range export's path (else ISBN_RANGE_MESSAGE's), as editors send
    // them. An export that is refused is said in the command line's words, and the table in use
    // stays.
    void configure(const json &settings) {
        if (settings.is_object() && settings.contains("isbn13") && settings["isbn13"].is_boolean())
            isbn13_ = settings["isbn13"];
        std::string path;
        std::string source;
        if (settings.is_object() && settings.contains("ranges")) {
            const json &ranges = settings["ranges"];
            if (!ranges.is_string() || ranges.get<std::string>().empty()) {
                table_.reset(); // the built-in ranges
                return;
            }
            path = ranges;
        } else if (const char *variable = std::getenv("ISBN_RANGE_MESSAGE");
                   variable != nullptr && *variable != '\0' && !variable_read_) {
            variable_read_ = true;
            path = variable;
            source = "ISBN_RANGE_MESSAGE=";
        } else {
            return;
        }
        range_message message;
        std::string name = source + shown_name(path);
        std::string fault = read_range_message(path, name, message);
        auto table = std::make_unique<range_table>();
        if (fault.empty() && !make_ISBN_table(*table, message))
            fault = name + ": out of memory while loading it";
        if (!fault.empty()) {
            notify("window/showMessage", {{"type", 1}, {"message", "?? " + fault}});
            return;
        }
        table_ = std::move(table);
    }

    orvane_options options_for(const std::string &uri, const document &d, bool isbn13) const {
        orvane_options options;
        options.bibtex = d.language == "bibtex" || d.language == "biblatex" ||
                         (uri.size() >= 4 && uri.compare(uri.size() - 4, 4, ".bib") == 0);
        options.isbn13 = isbn13;
        return options;
    }

    findings filtered(const std::string &uri, const document &d, bool isbn13) const {
        return filter_document(d.text, options_for(uri, d, isbn13), table_.get());
    }

    // ---- Diagnostics: a wrong check digit an error, a valid number that no range places
    // information, every other warning a warning; each at its number's range (an entry's at
    // its '@').
    void publish_due() {
        for (auto &[uri, d] : documents_) {
            if (!d.due)
                continue;
            d.due = false;
            json diagnostics = json::array();
            for (const found_warning &w : filtered(uri, d, isbn13_).warnings) {
                bool entry = w.message.rfind("BibTeX entry", 0) == 0;
                std::size_t end = entry ? w.offset + 1 : d.number_end(w.offset);
                int severity = !w.counted ? 3 : w.message.rfind("invalid ISBN", 0) == 0 ? 1 : 2;
                diagnostics.push_back(
                    {{"range", d.range(w.offset, std::max<std::size_t>(end, w.offset + 1))},
                     {"severity", severity},
                     {"source", "orvane"},
                     {"message", w.message}});
            }
            notify("textDocument/publishDiagnostics", {{"uri", uri}, {"diagnostics", diagnostics}});
        }
    }

    const document *find(const json &params, std::string &uri) const {
        uri = params.at("textDocument").at("uri").get<std::string>();
        auto found = documents_.find(uri);
        return found == documents_.end() ? nullptr : &found->second;
    }

    static json edit_of(const document &d, const found_change &change) {
        return {{"range", d.range(change.offset, change.offset + change.old_text.size())},
                {"newText", change.new_text}};
    }

    // The filter's result as the smallest edits: one for each number it rewrites; for a range,
    // those of the numbers that lie in it.
    json format(const json &params, bool ranged) const {
        std::string uri;
        const document *d = find(params, uri);
        json edits = json::array();
        if (d == nullptr)
            return edits;
        std::size_t begin = ranged ? d->offset(params.at("range").at("start")) : 0;
        std::size_t end = ranged ? d->offset(params.at("range").at("end")) : d->text.size();
        for (const found_change &change : filtered(uri, *d, isbn13_).changes)
            if (change.offset >= begin && change.offset + change.old_text.size() <= end)
                edits.push_back(edit_of(*d, change));
        return edits;
    }

    json workspace_edit(const std::string &uri, const json &edits) const {
        return {{"changes", {{uri, edits}}}};
    }

    // At a number that would be rewritten: "Hyphenate this ISBN", and "Write as ISBN-13" where
    // that writes it otherwise; anywhere in a file with such numbers, "Hyphenate every ISBN in
    // this file".
    json code_actions(const json &params) const {
        const json &range = params.at("range");
        range.at("start").at("line").get<std::size_t>();
        range.at("end").at("line").get<std::size_t>();
        std::string uri;
        const document *d = find(params, uri);
        json actions = json::array();
        if (d == nullptr)
            return actions;
        std::size_t begin = d->offset(params.at("range").at("start"));
        std::size_t end = d->offset(params.at("range").at("end"));
        auto touches = [&](const found_change &c) {
            return c.offset <= end && begin <= c.offset + c.old_text.size();
        };
        findings found = filtered(uri, *d, isbn13_);
        for (const found_change &change : found.changes)
            if (touches(change))
                actions.push_back(
                    {{"title", "Hyphenate this ISBN"},
                     {"kind", "quickfix"},
                     {"edit", workspace_edit(uri, json::array({edit_of(*d, change)}))}});
        if (!isbn13_)
            for (const found_change &change : filtered(uri, *d, true).changes)
                if (touches(change) &&
                    std::none_of(found.changes.begin(), found.changes.end(), [&](const auto &c) {
                        return c.offset == change.offset && c.new_text == change.new_text;
                    }))
                    actions.push_back(
                        {{"title", "Write as ISBN-13"},
                         {"kind", "quickfix"},
                         {"edit", workspace_edit(uri, json::array({edit_of(*d, change)}))}});
        if (!found.changes.empty()) {
            json edits = json::array();
            for (const found_change &change : found.changes)
                edits.push_back(edit_of(*d, change));
            actions.push_back({{"title", "Hyphenate every ISBN in this file"},
                               {"kind", "source.fixAll"},
                               {"edit", workspace_edit(uri, edits)}});
        }
        return actions;
    }

    int in_;
    int out_;
    std::string buffer_;
    std::map<std::string, document> documents_;
    std::unique_ptr<range_table> table_; // an export's, or none: the built-in ranges
    bool isbn13_ = false;
    bool variable_read_ = false; // ISBN_RANGE_MESSAGE is read once, where no setting names ranges
    bool initialized_ = false;
    bool shut_down_ = false;
    bool exit_ = false;
};

} // namespace

int serve_language_server(int in, int out) {
    server s(in, out);
    return s.run();
}
