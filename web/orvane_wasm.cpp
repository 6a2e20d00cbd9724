// The WebAssembly face of the library, for the page's worker: a text filtered in memory, its
// output, warnings, changes and progress handed to JavaScript as they come; range exports.

#include "isbn.h"
#include "library.h"

#include <emscripten/emscripten.h>

#include <cstddef>
#include <string>

// What the worker sets on the module to take each kind of result (see worker.js). Lines and
// sizes go as doubles: JavaScript numbers hold them exactly.
EM_JS(void, take_output, (const char *bytes, std::size_t count),
      { Module.orvaneOutput(HEAPU8.slice(bytes, bytes + count)); });
EM_JS(void, take_warning,
      (double line, const char *message, std::size_t message_length, const char *text,
       std::size_t text_length, int counted),
      {
          Module.orvaneWarning(line, HEAPU8.slice(message, message + message_length),
                               HEAPU8.slice(text, text + text_length), counted != 0);
      });
EM_JS(void, take_change,
      (double line, const char *old_text, std::size_t old_length, const char *new_text,
       std::size_t new_length),
      {
          Module.orvaneChange(line, HEAPU8.slice(old_text, old_text + old_length),
                              HEAPU8.slice(new_text, new_text + new_length));
      });
EM_JS(void, take_progress, (double done, double total), { Module.orvaneProgress(done, total); });
// The next part of the text, which stays in JavaScript: copied into buffer, up to count bytes.
EM_JS(std::size_t, give_input, (char *buffer, std::size_t count),
      { return Module.orvaneInput(buffer, count); });

namespace {

// The output in pieces of about a mebibyte: one call into JavaScript for each, however many
// small pieces the filter writes.
std::string pending;
constexpr std::size_t HAND_OVER_AT = std::size_t{1} << 20;

void hand_over_pending() {
    if (!pending.empty())
        take_output(pending.data(), pending.size());
    pending.clear();
}

std::string fault;

} // namespace

extern "C" {

// Filters the length bytes that the worker gives as `orvane [--bibtex] [--isbn13] < FILE` does,
// its warnings naming name; options: 1 for --bibtex, 2 for --isbn13. Returns 0, or 1 when a line
// did not fit in memory.
EMSCRIPTEN_KEEPALIVE int orvane_filter(std::size_t length, const char *name, int options) {
    filter_hooks hooks;
    hooks.output = [](void *, const char *bytes, std::size_t count) {
        pending.append(bytes, count);
        if (pending.size() >= HAND_OVER_AT)
            hand_over_pending();
    };
    hooks.warning = [](void *, const warning &w) {
        take_warning(static_cast<double>(w.line), w.message.data(), w.message.size(), w.text.data(),
                     w.text.size(), w.counted ? 1 : 0);
    };
    hooks.change = [](void *, const token_change &change) {
        take_change(static_cast<double>(change.line), change.old_text.data(),
                    change.old_text.size(), change.new_text.data(), change.new_text.size());
    };
    hooks.progress = [](void *, std::size_t done, std::size_t total) {
        take_progress(static_cast<double>(done), static_cast<double>(total));
    };
    filter_options chosen;
    chosen.bibtex = (options & 1) != 0;
    chosen.isbn13 = (options & 2) != 0;
    input_end end = filter_source(
        [](void *, char *buffer, std::size_t count) { return give_input(buffer, count); }, nullptr,
        length, name, chosen, hooks);
    hand_over_pending();
    return end.how == input_end::complete ? 0 : 1;
}

// Loads a range export from bytes; returns "" or the fault, as --ranges words it after "?? ".
EMSCRIPTEN_KEEPALIVE const char *orvane_load_ranges(const char *bytes, std::size_t length,
                                                    const char *name) {
    fault = load_range_export(bytes, length, name);
    return fault.c_str();
}

EMSCRIPTEN_KEEPALIVE void orvane_built_in_ranges() {
    ISBN_restore_table();
}
}
