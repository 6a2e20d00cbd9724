// Text as messages show it: one line that names exactly what it quotes.
#pragma once

#include <string>
#include <string_view>

// A file's name, or a text of a file's, as messages give it: each control byte and each
// backslash written as an escape (\n, \t, \r, \\, otherwise \ and three octal digits, as \033),
// so that a message is one line that names the real file and no name or text can forge another
// message or move a terminal's cursor. Other bytes, those of UTF-8 among them, are kept; a text
// without such bytes is unchanged.
std::string shown_name(std::string_view name);
