// The engine's Windows-1252 strings and the UTF-16 of the wide calls. Every
// name goes through these, so the program behaves the same under every
// ANSI code page (and under Wine, whose ANSI calls use the host's).
#pragma once
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <string>

#include "platform/cp1252.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the wide calls take UTF-16");

namespace pcname {

inline std::wstring Wide(const char* ansi)
{
    const std::u16string text = Cp1252ToUtf16(ansi);
    return std::wstring(text.begin(), text.end());
}

// Characters without a Windows-1252 form become '?'.
inline std::string Ansi(const wchar_t* wide, size_t length)
{
    return Utf16ToCp1252(std::u16string_view(reinterpret_cast<const char16_t*>(wide), length));
}
inline std::string Ansi(const wchar_t* wide) { return Ansi(wide, std::wcslen(wide)); }

// Copies `text` into `out`; false (nothing copied, out empty) when it does not fit.
inline bool CopyAnsi(const std::string& text, char* out, size_t outSize)
{
    if (outSize == 0) return false;
    if (text.size() >= outSize) {
        out[0] = 0;
        return false;
    }
    std::memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

}  // namespace pcname
