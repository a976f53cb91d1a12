// Windows-1252 and UTF-8. The five bytes Windows-1252 leaves undefined (0x81,
// 0x8D, 0x8F, 0x90, 0x9D) travel as U+0081 and so on, so every byte value
// survives a round trip.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

std::string Cp1252ToUtf8(std::string_view text);
// Characters without a Windows-1252 form (and malformed sequences) become '?'.
std::string Utf8ToCp1252(std::string_view text);
