// Byte classes of ISBN text, by table lookup: digits, 'x' and 'X' are ISBN characters, and
// hyphens join them into candidate tokens. No locale is consulted: bytes from 0x80 up are never
// digits.
#pragma once

#include <array>

namespace byte_class {

enum : unsigned char { ISBN = 1, TOKEN = 2 };

constexpr std::array<unsigned char, 256> make_classes() {
    std::array<unsigned char, 256> classes{};
    for (int c = '0'; c <= '9'; ++c)
        classes[static_cast<std::size_t>(c)] = ISBN | TOKEN;
    classes['x'] = classes['X'] = ISBN | TOKEN;
    classes['-'] = TOKEN;
    return classes;
}

inline constexpr std::array<unsigned char, 256> classes = make_classes();

// The check-digit value of every ISBN character; 0 for other bytes, which never reach it.
constexpr std::array<unsigned char, 256> make_values() {
    std::array<unsigned char, 256> values{};
    for (int c = '0'; c <= '9'; ++c)
        values[static_cast<std::size_t>(c)] = static_cast<unsigned char>(c - '0');
    values['x'] = values['X'] = 10;
    return values;
}

inline constexpr std::array<unsigned char, 256> values = make_values();

} // namespace byte_class

// A digit, 'x' or 'X'.
constexpr bool is_ISBN_character(char c) {
    return (byte_class::classes[static_cast<unsigned char>(c)] & byte_class::ISBN) != 0;
}

// A byte that continues a candidate token: an ISBN character or a hyphen.
constexpr bool is_token_byte(char c) {
    return (byte_class::classes[static_cast<unsigned char>(c)] & byte_class::TOKEN) != 0;
}

// The value of an ISBN character in check-digit arithmetic: 10 for 'x' and 'X'.
constexpr int ISBN_character_value(char c) {
    return byte_class::values[static_cast<unsigned char>(c)];
}
