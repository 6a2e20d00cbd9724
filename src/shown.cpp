// Text as messages show it: control bytes and backslashes escaped.

#include "shown.h"

std::string shown_name(std::string_view name) {
    std::string shown;
    shown.reserve(name.size());
    for (char c : name) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f && byte != '\\') {
            shown += c;
            continue;
        }
        shown += '\\';
        if (byte == '\\' || byte == '\n' || byte == '\t' || byte == '\r') {
            shown += byte == '\n' ? 'n' : byte == '\t' ? 't' : byte == '\r' ? 'r' : '\\';
            continue;
        }
        shown += static_cast<char>('0' + (byte >> 6));
        shown += static_cast<char>('0' + ((byte >> 3) & 7));
        shown += static_cast<char>('0' + (byte & 7));
    }
    return shown;
}
