// Texts between the engine and the wide calls: the engine keeps Windows-1252,
// the window shows UTF-16, whatever the system's code page.
#pragma once
#include <string>
#include <string_view>

#include "platform/cp1252.h"

inline std::wstring Wide(std::string_view text)
{
    const std::u16string wide = Cp1252ToUtf16(text);
    return std::wstring(wide.begin(), wide.end());
}

inline std::string Ansi(std::wstring_view text)
{
    return Utf16ToCp1252(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}
