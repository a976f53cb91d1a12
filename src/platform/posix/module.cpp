// The path of the running program, and where the user's caches go.
#include "platform/platform.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#if defined(__APPLE__)
#include <cstring>
#include <mach-o/dyld.h>
#include <stdint.h>
#endif

bool GetModulePath(char* out, size_t outSize)
{
    if (outSize == 0) return false;
    out[0] = 0;
#if defined(__APPLE__)
    uint32_t size = static_cast<uint32_t>(outSize);
    return _NSGetExecutablePath(out, &size) == 0;
#else
    ssize_t n = readlink("/proc/self/exe", out, outSize);
    if (n <= 0 || static_cast<size_t>(n) >= outSize) {
        out[0] = 0;
        return false;
    }
    out[n] = 0;
    return true;
#endif
}

bool GetUserCacheDir(char* out, size_t outSize)
{
    const char* cache = std::getenv("XDG_CACHE_HOME");
    int n = -1;
    if (cache != nullptr && cache[0] == '/') {
        n = std::snprintf(out, outSize, "%s", cache);
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        n = std::snprintf(out, outSize, "%s/.cache", home);
    }
    return n > 0 && static_cast<size_t>(n) < outSize;
}
