// The library face: a text in memory through the same input loop, filters and output as a file.

#include "library.h"

#include "isbn.h"
#include "output.h"
#include "range_message.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// The run in progress: the program has one thread, and the input loop, the output and the
// diagnostics reach the caller's hooks only through these functions.
struct source_run {
    text_source source;
    void *source_context;
    std::size_t length;
    std::size_t read;
    const filter_hooks *hooks;
};
source_run *run = nullptr;

// Reads from the source as read(2) reads from a file, and tells of the progress.
ssize_t read_source(int, void *buffer, std::size_t count) {
    std::size_t taken = run->source(run->source_context, static_cast<char *>(buffer), count);
    run->read += taken;
    if (run->hooks->progress != nullptr && taken != 0)
        run->hooks->progress(run->hooks->context, run->read, run->length);
    return static_cast<ssize_t>(taken);
}

// The source of a text in memory.
struct memory_text {
    const char *text;
    std::size_t length;
    std::size_t at;
};

std::size_t read_memory(void *context, char *buffer, std::size_t count) {
    auto &memory = *static_cast<memory_text *>(context);
    std::size_t taken = std::min(count, memory.length - memory.at);
    std::memcpy(buffer, memory.text + memory.at, taken);
    memory.at += taken;
    return taken;
}

// Hands the pieces to the output hook, whole.
ssize_t write_to_hook(int, const iovec *pieces, int count) {
    std::size_t written = 0;
    for (int i = 0; i < count; ++i) {
        if (run->hooks->output != nullptr)
            run->hooks->output(run->hooks->context, static_cast<const char *>(pieces[i].iov_base),
                               pieces[i].iov_len);
        written += pieces[i].iov_len;
    }
    return static_cast<ssize_t>(written);
}

void warning_to_hook(const warning &w) {
    if (run->hooks->warning != nullptr)
        run->hooks->warning(run->hooks->context, w);
}

void change_to_hook(const token_change &change) {
    if (run->hooks->change != nullptr)
        run->hooks->change(run->hooks->context, change);
}

} // namespace

input_end filter_memory(const char *text, std::size_t length, const char *name,
                        const filter_options &options, const filter_hooks &hooks) {
    memory_text memory{text, length, 0};
    return filter_source(read_memory, &memory, length, name, options, hooks);
}

input_end filter_source(text_source source, void *source_context, std::size_t length,
                        const char *name, const filter_options &options,
                        const filter_hooks &hooks) {
    source_run here{source, source_context, length, 0, &hooks};
    run = &here;
    std::string shown = shown_name(name);
    set_warning_listener(warning_to_hook);
    write_ISBN_10_as_13(options.isbn13);
    start_output(HOOKED_OUTPUT, write_to_hook);
    text_input input;
    input.name = shown.c_str();
    input.on_change = change_to_hook;
    input_end end = filter_input(-1, filter_mode(options.bibtex), input, read_source);
    finish_output();
    set_warning_listener(nullptr);
    write_ISBN_10_as_13(false);
    run = nullptr;
    return end;
}

std::string load_range_export(const char *bytes, std::size_t length, const char *name) {
    std::string shown = shown_name(name);
    range_message message;
    std::string fault = parse_range_message(bytes, length, shown, message);
    if (!fault.empty())
        return fault;
    try {
        ISBN_load_range_message(message);
    } catch (const std::bad_alloc &) {
        ISBN_restore_table();
        return shown + ": out of memory while loading it";
    }
    return "";
}
