// The WebAssembly face, a thin layer over the embedding API for the page's worker: a run fed
// straight into its own buffer, its output handed to JavaScript a mebibyte at a time, and its
// changes and warnings gathered as compact records that cross to JavaScript once, at the end.

#include "orvane.h"

#include <emscripten/emscripten.h>

#include <cstddef>
#include <cstring>
#include <new>
#include <string>
#include <vector>

// What the worker sets on the module to take the output and the records (see worker.js).
EM_JS(void, take_output, (const char *bytes, std::size_t count),
      { Module.orvaneOutput(HEAPU8.slice(bytes, bytes + count)); });
EM_JS(void, take_records,
      (const double *changes, std::size_t change_numbers, const char *change_texts,
       std::size_t change_bytes, const double *warnings, std::size_t warning_numbers,
       const char *warning_texts, std::size_t warning_bytes),
      {
          Module.orvaneRecords(HEAPF64.slice(changes >> 3, (changes >> 3) + change_numbers),
                               HEAPU8.slice(change_texts, change_texts + change_bytes),
                               HEAPF64.slice(warnings >> 3, (warnings >> 3) + warning_numbers),
                               HEAPU8.slice(warning_texts, warning_texts + warning_bytes));
      });

namespace {

// The output in pieces of about a mebibyte: one call into JavaScript for each, however many
// small pieces the filter writes.
constexpr std::size_t HAND_OVER_AT = std::size_t{1} << 20;

// One filtering: the run and what it has made that JavaScript has not taken yet. A change is six
// numbers (line, offset, output offset, where its texts start, the old and the new text's
// lengths) and its two texts; a warning six numbers (line, offset, where its texts start, the
// message's and the whole line's lengths, whether it counts) and its two texts.
struct session {
    orvane_run *run = nullptr;
    std::string pending;
    std::vector<double> change_numbers;
    std::string change_texts;
    std::vector<double> warning_numbers;
    std::string warning_texts;
    std::size_t space = 0; // the room the last orvane_web_room gave
};

void hand_over(session &s) {
    if (!s.pending.empty())
        take_output(s.pending.data(), s.pending.size());
    s.pending.clear();
}

bool take_text(void *context, const char *bytes, std::size_t count) {
    auto &s = *static_cast<session *>(context);
    s.pending.append(bytes, count);
    if (s.pending.size() >= HAND_OVER_AT)
        hand_over(s);
    return true;
}

bool take_change(void *context, const orvane_change *change) {
    auto &s = *static_cast<session *>(context);
    s.change_numbers.insert(
        s.change_numbers.end(),
        {static_cast<double>(change->line), static_cast<double>(change->offset),
         static_cast<double>(change->output_offset), static_cast<double>(s.change_texts.size()),
         static_cast<double>(change->old_length), static_cast<double>(change->new_length)});
    s.change_texts.append(change->old_text, change->old_length);
    s.change_texts.append(change->new_text, change->new_length);
    return true;
}

bool take_warning(void *context, const orvane_warning *warning) {
    auto &s = *static_cast<session *>(context);
    s.warning_numbers.insert(
        s.warning_numbers.end(),
        {static_cast<double>(warning->line), static_cast<double>(warning->offset),
         static_cast<double>(s.warning_texts.size()), static_cast<double>(warning->message_length),
         static_cast<double>(warning->text_length), warning->counted ? 1.0 : 0.0});
    s.warning_texts.append(warning->message, warning->message_length);
    s.warning_texts.append(warning->text, warning->text_length);
    return true;
}

} // namespace

extern "C" {

// Starts filtering a text named name with the options (1: --bibtex, 2: --isbn13) over table
// (0: the built-in ranges). Returns the session, or 0 where memory ran out.
EMSCRIPTEN_KEEPALIVE session *orvane_web_start(const char *name, int options,
                                               const orvane_table *table) {
    auto *s = new (std::nothrow) session;
    if (s == nullptr)
        return nullptr;
    orvane_options chosen;
    chosen.bibtex = (options & 1) != 0;
    chosen.isbn13 = (options & 2) != 0;
    orvane_hooks hooks;
    hooks.context = s;
    hooks.output = take_text;
    hooks.change = take_change;
    hooks.warning = take_warning;
    s->run = orvane_run_create(&chosen, table, name, &hooks);
    if (s->run == nullptr) {
        delete s;
        return nullptr;
    }
    return s;
}

// Room for the next bytes of the text, which the worker writes straight into the module's
// memory; orvane_web_room_size says how many fit. 0 where there is none (memory ran out).
EMSCRIPTEN_KEEPALIVE char *orvane_web_room(session *s) {
    return orvane_run_room(s->run, &s->space);
}

EMSCRIPTEN_KEEPALIVE double orvane_web_room_size(session *s) {
    return static_cast<double>(s->space);
}

// Takes count bytes written at the room. Returns the status (see orvane.h).
EMSCRIPTEN_KEEPALIVE int orvane_web_fed(session *s, std::size_t count) {
    return orvane_run_fed(s->run, count);
}

// Ends the text: the rest of the output goes to JavaScript, then the records. Returns the status.
EMSCRIPTEN_KEEPALIVE int orvane_web_finish(session *s) {
    orvane_status status = orvane_run_finish(s->run);
    hand_over(*s);
    take_records(s->change_numbers.data(), s->change_numbers.size(), s->change_texts.data(),
                 s->change_texts.size(), s->warning_numbers.data(), s->warning_numbers.size(),
                 s->warning_texts.data(), s->warning_texts.size());
    return status;
}

EMSCRIPTEN_KEEPALIVE const char *orvane_web_status_text(int status) {
    return orvane_status_text(static_cast<orvane_status>(status));
}

EMSCRIPTEN_KEEPALIVE void orvane_web_free(session *s) {
    if (s == nullptr)
        return;
    orvane_run_free(s->run);
    delete s;
}

// Makes a table of the range export of length bytes at bytes, named name in its faults. Returns
// it, or 0 with the fault (as --ranges words it after "?? ") in fault, fault_size bytes.
EMSCRIPTEN_KEEPALIVE orvane_table *orvane_web_load(const char *bytes, std::size_t length,
                                                   const char *name, char *fault,
                                                   std::size_t fault_size) {
    orvane_table *table = nullptr;
    orvane_table_load(bytes, length, name, &table, fault, fault_size);
    return table;
}

EMSCRIPTEN_KEEPALIVE void orvane_web_free_table(orvane_table *table) {
    orvane_table_free(table);
}
}
