// The path of the running program, and where the user's caches go.
#include "platform/platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <vector>

#include "platform/win32/wide.h"

using pcname::Ansi;
using pcname::CopyAnsi;

bool GetModulePath(char* out, size_t outSize)
{
    if (outSize == 0) return false;
    out[0] = 0;
    // Room for the longest path the system takes.
    std::vector<wchar_t> wide(32768);
    const DWORD n = GetModuleFileNameW(nullptr, wide.data(), static_cast<DWORD>(wide.size()));
    return n != 0 && n < wide.size() && CopyAnsi(Ansi(wide.data(), n), out, outSize);
}

bool GetUserCacheDir(char* out, size_t outSize)
{
    if (outSize == 0) return false;
    out[0] = 0;
    std::vector<wchar_t> local(32768);
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", local.data(), static_cast<DWORD>(local.size()));
    return n != 0 && n < local.size() && CopyAnsi(Ansi(local.data(), n), out, outSize);
}
