// Text of workspace files as the program shows it. Files written on Windows
// carry 8-bit text in a code page; files written here carry the locale's
// encoding, which the toolkit takes as UTF-8 on this platform.
#pragma once

#include <string>
#include <string_view>

// bytes as UTF-8 text for display: unchanged when they are valid UTF-8, else
// read as Windows-1252, the code page such files come in. Showing a value
// never changes it: callers keep the bytes of every value not edited.
std::string LegibleText(std::string_view bytes);
