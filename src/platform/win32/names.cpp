// PC names on Windows: native paths are the engine's Windows-1252 strings
// themselves; the platform calls convert them to UTF-16 for the wide API.
#include "platform/platform.h"

#include <cstring>

namespace {

bool CopyName(const char* from, char* out, size_t outSize)
{
    if (outSize == 0) return false;
    size_t n = std::strlen(from);
    if (n >= outSize) {
        std::memcpy(out, from, outSize - 1);
        out[outSize - 1] = 0;
        return false;
    }
    std::memcpy(out, from, n + 1);
    return true;
}

}  // namespace

bool AnsiToNative(const char* ansi, char* out, size_t outSize) { return CopyName(ansi, out, outSize); }

bool NativeToAnsi(const char* native, char* out, size_t outSize) { return CopyName(native, out, outSize); }

char PathSeparator() { return '\\'; }
