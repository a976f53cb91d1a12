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

// Windows-1252 and UTF-16, for the wide calls of Windows. Characters
// without a Windows-1252 form (a surrogate pair counts as one) become '?'.
std::u16string Cp1252ToUtf16(std::string_view text);
std::string Utf16ToCp1252(std::u16string_view text);

// One code point (at most U+10FFFF, no surrogate) appended as UTF-8.
void AppendUtf8(std::string& out, char32_t cp);
// Decodes the UTF-8 sequence at text[i]; `length` gets the bytes used. A
// byte that does not start a well-formed sequence (overlong, surrogate,
// truncated) is consumed alone and yields false.
bool DecodeUtf8(std::string_view text, size_t i, char32_t& cp, unsigned& length);
