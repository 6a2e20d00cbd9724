// The embedding API over the run: the same input loop, filters and output as the command line,
// with the output, warnings and changes handed to the caller's hooks.

#include "orvane.h"

#include "input.h"
#include "range_message.h"
#include "run.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>

namespace {

// A hook that returns false ends the run's output: nothing more is handed over. Cancelled is a
// failure of the output like a write error, so the run stops at once wherever it stands.
void cancel(orvane_run &run) {
    run.status = ORVANE_CANCELLED;
    fail_output(run.out, ECANCELED);
}

// Hands the output's pieces to the hook, whole.
ssize_t write_to_hook(void *context, int, const iovec *pieces, int count) {
    auto &run = *static_cast<orvane_run *>(context);
    std::size_t written = 0;
    for (int i = 0; i < count; ++i) {
        if (run.hooks.output != nullptr &&
            !run.hooks.output(run.hooks.context, static_cast<const char *>(pieces[i].iov_base),
                              pieces[i].iov_len)) {
            run.status = ORVANE_CANCELLED;
            errno = ECANCELED;
            return -1;
        }
        written += pieces[i].iov_len;
    }
    return static_cast<ssize_t>(written);
}

void warning_to_hook(void *context, const warning &w) {
    auto &run = *static_cast<orvane_run *>(context);
    if (run.hooks.warning == nullptr || run.status != ORVANE_OK)
        return;
    orvane_warning given{w.name,           w.line,        w.offset,      w.message.data(),
                         w.message.size(), w.text.data(), w.text.size(), w.counted};
    if (!run.hooks.warning(run.hooks.context, &given))
        cancel(run);
}

void change_to_hook(void *context, const token_change &change) {
    auto &run = *static_cast<orvane_run *>(context);
    if (run.hooks.change == nullptr || run.status != ORVANE_OK)
        return;
    orvane_change given{change.name,
                        change.line,
                        change.offset,
                        change.output_offset,
                        change.old_text.data(),
                        change.old_text.size(),
                        change.new_text.data(),
                        change.new_text.size()};
    if (!run.hooks.change(run.hooks.context, &given))
        cancel(run);
}

// The status of a run after a step: a failed write is the hook's cancelling.
orvane_status status_of(orvane_run &run) {
    if (run.status == ORVANE_OK && output_error(run.out) != 0)
        run.status = ORVANE_CANCELLED;
    return run.status;
}

} // namespace

const char *orvane_status_text(orvane_status status) {
    switch (status) {
    case ORVANE_OK:
        return "Done";
    case ORVANE_OUT_OF_MEMORY:
        return OUT_OF_MEMORY_FOR_A_LINE;
    case ORVANE_CANCELLED:
        return "Cancelled by the caller";
    case ORVANE_BAD_EXPORT:
        return "The range export was refused";
    case ORVANE_MISUSE:
        return "Called out of order, or with a null argument";
    }
    return "Unknown status";
}

orvane_run *orvane_run_create(const orvane_options *options, const orvane_table *table,
                              const char *name, const orvane_hooks *hooks) {
    orvane_options chosen = options != nullptr ? *options : orvane_options{};
    auto *run = new (std::nothrow) orvane_run(chosen, table);
    if (run == nullptr)
        return nullptr;
#if __cpp_exceptions
    try {
        run->shown = shown_name(name != nullptr ? name : "-");
    } catch (const std::bad_alloc &) {
        delete run;
        return nullptr;
    }
#else
    run->shown = shown_name(name != nullptr ? name : "-");
#endif
    if (hooks != nullptr)
        run->hooks = *hooks;
    run->listeners = run_listeners{run, warning_to_hook, change_to_hook};
    start_output(run->out, HOOKED_OUTPUT, write_to_hook, run);
    start_input(*run, run->shown.c_str());
    return run;
}

char *orvane_run_room(orvane_run *run, std::size_t *space) {
    if (run == nullptr || space == nullptr || run->ended) {
        if (run != nullptr && run->status == ORVANE_OK)
            run->status = ORVANE_MISUSE;
        return nullptr;
    }
    if (run->status != ORVANE_OK)
        return nullptr;
    char *room = input_room(*run, *space);
    if (room == nullptr)
        run->status = ORVANE_OUT_OF_MEMORY;
    return room;
}

// Every whole line goes to the filter at once, and what it made goes to the hook before the call
// returns, as it would to a pipe whose next read may wait: an embedder shows output as it comes.
orvane_status orvane_run_fed(orvane_run *run, std::size_t count) {
    if (run == nullptr)
        return ORVANE_MISUSE;
    if (run->status != ORVANE_OK)
        return run->status;
    if (run->ended || count > run->capacity - run->held)
        return run->status = ORVANE_MISUSE;
    input_added(*run, count, true);
    return status_of(*run);
}

orvane_status orvane_run_feed(orvane_run *run, const char *bytes, std::size_t count) {
    if (run == nullptr || (bytes == nullptr && count != 0))
        return ORVANE_MISUSE;
    while (count != 0) {
        std::size_t space = 0;
        char *room = orvane_run_room(run, &space);
        if (room == nullptr)
            return run->status;
        std::size_t part = std::min(space, count);
        std::memcpy(room, bytes, part);
        bytes += part;
        count -= part;
        if (orvane_run_fed(run, part) != ORVANE_OK)
            return run->status;
    }
    return run->status;
}

orvane_status orvane_run_finish(orvane_run *run) {
    if (run == nullptr)
        return ORVANE_MISUSE;
    if (run->ended)
        return run->status;
    run->ended = true;
    if (run->status == ORVANE_OK)
        finish_input(*run);
    finish_output(run->out);
    return status_of(*run);
}

std::uint64_t orvane_run_warning_count(const orvane_run *run) {
    return run != nullptr ? run->warnings : 0;
}

void orvane_run_free(orvane_run *run) {
    delete run;
}

namespace {

// The fault's line, cut to fit, always ended by a NUL.
void give_fault(const std::string &text, char *fault, std::size_t fault_size) {
    if (fault == nullptr || fault_size == 0)
        return;
    std::size_t length = std::min(text.size(), fault_size - 1);
    std::memcpy(fault, text.data(), length);
    fault[length] = '\0';
}

// The table of an export, or the fault; memory that runs out anywhere is a fault like the others.
orvane_status load(const char *bytes, std::size_t length, const char *name, orvane_table **table,
                   char *fault, std::size_t fault_size) {
    std::string shown = shown_name(name != nullptr ? name : "-");
    range_message message;
    std::string refused = parse_range_message(bytes, length, shown, message);
    if (!refused.empty()) {
        give_fault(refused, fault, fault_size);
        return ORVANE_BAD_EXPORT;
    }
    auto *made = new (std::nothrow) range_table;
    if (made == nullptr || !make_ISBN_table(*made, message)) {
        delete made;
        give_fault(shown + ": out of memory while loading it", fault, fault_size);
        return ORVANE_OUT_OF_MEMORY;
    }
    *table = made;
    give_fault("", fault, fault_size);
    return ORVANE_OK;
}

} // namespace

orvane_status orvane_table_load(const char *bytes, std::size_t length, const char *name,
                                orvane_table **table, char *fault, std::size_t fault_size) {
    if (table == nullptr || (bytes == nullptr && length != 0))
        return ORVANE_MISUSE;
    *table = nullptr;
#if __cpp_exceptions
    try {
        return load(bytes, length, name, table, fault, fault_size);
    } catch (const std::bad_alloc &) {
        give_fault(shown_name(name != nullptr ? name : "-") + ": out of memory while loading it",
                   fault, fault_size);
        return ORVANE_OUT_OF_MEMORY;
    }
#else
    return load(bytes, length, name, table, fault, fault_size);
#endif
}

const orvane_table *orvane_built_in_table() {
    return &built_in_ISBN_table();
}

void orvane_table_free(orvane_table *table) {
    delete table;
}
