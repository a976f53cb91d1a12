// PC names on POSIX: the engine's strings are Windows-1252, the file system's
// are UTF-8. Characters that Windows-1252 cannot hold become '?', as the ANSI
// calls of Windows do.
#include <cstring>
#include <string>

#include "platform/cp1252.h"
#include "platform/platform.h"

namespace {

bool CopyOut(const std::string& text, char* out, size_t outSize)
{
    if (outSize == 0) return false;
    const bool fits = text.size() < outSize;
    const size_t n = fits ? text.size() : outSize - 1;
    std::memcpy(out, text.data(), n);
    out[n] = 0;
    return fits;
}

}  // namespace

bool AnsiToNative(const char* ansi, char* out, size_t outSize) { return CopyOut(Cp1252ToUtf8(ansi), out, outSize); }

bool NativeToAnsi(const char* native, char* out, size_t outSize) { return CopyOut(Utf8ToCp1252(native), out, outSize); }

char PathSeparator() { return '/'; }
