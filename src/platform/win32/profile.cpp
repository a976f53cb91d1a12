// Private profile (INI) files through the system's own wide calls. Section,
// key, value and file name are converted between the engine's Windows-1252
// and UTF-16 at each call.
#include "platform/platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// <windows.h> names its own (win.ini) call WriteProfileString through a macro.
#undef WriteProfileString

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/wide.h"

using pcname::Ansi;
using pcname::Wide;

namespace {

// Copies up to outSize - 1 characters of `text` (which may hold zero bytes)
// and a terminating zero; returns the characters copied.
unsigned CopyOut(const std::string& text, char* out, unsigned outSize)
{
    const size_t n = text.size() < outSize ? text.size() : outSize - 1;
    std::memcpy(out, text.data(), n);
    out[n] = 0;
    return static_cast<unsigned>(n);
}

}  // namespace

unsigned ReadProfileString(const char* section, const char* key, const char* defaultValue, char* out,
                           unsigned outSize, const char* file)
{
    if (outSize == 0 || out == nullptr) return 0;
    // One UTF-16 unit per Windows-1252 character: the same room suffices.
    std::vector<wchar_t> wide(outSize);
    const std::wstring wideSection = section ? Wide(section) : std::wstring();
    const std::wstring wideKey = key ? Wide(key) : std::wstring();
    const DWORD n = GetPrivateProfileStringW(section ? wideSection.c_str() : nullptr, key ? wideKey.c_str() : nullptr,
                                             Wide(defaultValue ? defaultValue : "").c_str(), wide.data(), outSize,
                                             Wide(file).c_str());
    return CopyOut(Ansi(wide.data(), n), out, outSize);
}

bool WriteProfileString(const char* section, const char* key, const char* value, const char* file)
{
    return WritePrivateProfileStringW(Wide(section).c_str(), key ? Wide(key).c_str() : nullptr,
                                      value ? Wide(value).c_str() : nullptr, Wide(file).c_str()) != 0;
}

unsigned ReadProfileSection(const char* section, char* out, unsigned outSize, const char* file)
{
    if (outSize == 0 || out == nullptr || section == nullptr) return 0;
    std::vector<wchar_t> wide(outSize);
    const DWORD n = GetPrivateProfileSectionW(Wide(section).c_str(), wide.data(), outSize, Wide(file).c_str());
    // The zero-separated list keeps its zeros through the conversion.
    return CopyOut(Ansi(wide.data(), n), out, outSize);
}
