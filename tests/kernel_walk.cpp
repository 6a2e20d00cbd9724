#include "kernel_walk.h"

#include "scan.h"

namespace {

// The walk with the kernels in use.
const char *disagreement(std::string_view text) {
    const char *begin = text.data();
    const char *end = begin + text.size();
    for (const char *p = begin; p < end;) {
        const char *fast_end = nullptr;
        const char *plain_end = nullptr;
        bool fast_hyphen = false;
        bool plain_hyphen = false;
        const char *digit = find_long_token(p, end, fast_end, fast_hyphen);
        if (digit != find_long_token_scalar(p, end, plain_end, plain_hyphen) ||
            fast_end != plain_end || fast_hyphen != plain_hyphen)
            return "find_long_token";
        if (count_newlines(p, digit) != count_newlines_scalar(p, digit))
            return "count_newlines";
        // On from the token's end, as the filter goes on: from inside a long run each search
        // would measure the rest of it again.
        p = fast_end;
    }
    for (const char *p = begin; p < end; ++p) {
        bool fast = false;
        bool plain = false;
        const char *stop = find_token_end(p, end, fast);
        if (stop != find_token_end_scalar(p, end, plain) || fast != plain)
            return "find_token_end";
        p = stop;
    }
    for (const char *p = begin; p < end;) {
        const char *mark = find_url_mark(p, end);
        if (mark != find_url_mark_scalar(p, end))
            return "find_url_mark";
        p = mark + 1;
    }
    static constexpr char sets[][4] = {{'{', '}', '@', '@'}, {'{', '}', '"', '@'}};
    for (const auto &set : sets) {
        for (const char *p = begin; p < end;) {
            const char *found = find_any_of(p, end, set);
            if (found != find_any_of_scalar(p, end, set))
                return "find_any_of";
            if (count_newlines(p, found) != count_newlines_scalar(p, found))
                return "count_newlines";
            p = found + 1;
        }
    }
    return nullptr;
}

} // namespace

const char *kernel_disagreement(std::string_view text) {
    return disagreement(text);
}
