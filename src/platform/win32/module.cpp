// The path of the running program, and where the user's caches go.
#include "platform/platform.h"

#include <cstdio>
#include <cstdlib>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

bool GetModulePath(char* out, size_t outSize)
{
    if (outSize == 0) return false;
    DWORD size = outSize > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(outSize);
    DWORD n = GetModuleFileNameA(nullptr, out, size);
    if (n == 0 || n >= size) {
        out[0] = 0;
        return false;
    }
    return true;
}

bool GetUserCacheDir(char* out, size_t outSize)
{
    const char* local = std::getenv("LOCALAPPDATA");
    if (local == nullptr || local[0] == 0) return false;
    const int n = std::snprintf(out, outSize, "%s", local);
    return n > 0 && static_cast<size_t>(n) < outSize;
}
