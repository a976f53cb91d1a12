// The path of the running program.
#include "platform/platform.h"

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
