// hyphenate_ISBN_10 and hyphenate_ISBN_13 on arbitrary texts with arbitrary limits: either the
// text is left as it was, or the result is shorter than the limit and keeps the text's ISBN
// characters in order. On a lone candidate, the index's answer (place_ISBN) is the walk's.

#include "fuzz_support.h"
#include "isbn.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace {

std::string ISBN_characters(const char *text) {
    std::string out;
    for (; *text != '\0'; ++text)
        if ((*text >= '0' && *text <= '9') || *text == 'x' || *text == 'X')
            out += *text;
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 3)
        return 0;
    bool thirteen = (data[0] & 1) != 0;
    std::size_t limit = 1 + ((static_cast<std::size_t>(data[1]) << 8 | data[2]) % 4096);
    std::string input(reinterpret_cast<const char *>(data + 3), size - 3);
    input = input.substr(0, std::strlen(input.c_str()));
    if (input.size() >= 4096)
        return 0;

    // The text's storage and the output hold limit bytes, as the routines require; no more, so
    // AddressSanitizer sees any write past them.
    std::size_t storage = std::max(limit, input.size() + 1);
    char *text = new char[storage];
    char *output = new char[limit];
    std::memcpy(text, input.c_str(), input.size() + 1);
    captured_stderr.clear();
    if (thirteen)
        hyphenate_ISBN_13(fuzz_run(), text, output, limit);
    else
        hyphenate_ISBN_10(fuzz_run(), text, output, limit);
    if (input != text) {
        if (std::strlen(text) >= limit)
            fuzz_failure("the result is not shorter than the limit\n");
        if (ISBN_characters(text) != ISBN_characters(input.c_str()))
            fuzz_failure("the result lost, added or moved ISBN characters\n");
    }
    // The filter hands over lone candidates: the same candidate followed by a space must give
    // the same result followed by the space.
    std::size_t n = thirteen ? 13 : 10;
    if (input.size() == n && ISBN_characters(input.c_str()) == input) {
        char spaced[32];
        char spaced_output[32];
        std::memcpy(spaced, input.c_str(), n);
        std::memcpy(spaced + n, " ", 2);
        if (thirteen)
            hyphenate_ISBN_13(fuzz_run(), spaced, spaced_output, sizeof spaced_output);
        else
            hyphenate_ISBN_10(fuzz_run(), spaced, spaced_output, sizeof spaced_output);
        // Only where the limit left the lone candidate free to change.
        if (limit >= 20 && std::string(spaced) != std::string(text) + " ")
            fuzz_failure("a lone candidate and the same candidate in a text disagree\n");
        // The index's answer, where it has one, is the walk's.
        ISBN_parts parts{};
        char characters[ISBN_BUFFER_SIZE] = {};
        std::memcpy(characters, input.data(), n);
        ISBN_placement placement = place_ISBN(characters, n, parts);
        std::string form = input;
        if (placement == ISBN_placement::placed) {
            char built[ISBN_BUFFER_SIZE];
            format_ISBN(characters, n, parts, built);
            form.assign(built, ISBN_form_length(n, parts));
        }
        if (placement != ISBN_placement::ask_the_walk && limit >= 20 && form != text)
            fuzz_failure("place_ISBN and the hyphenation walk disagree\n");
    }
    delete[] text;
    delete[] output;
    return 0;
}
