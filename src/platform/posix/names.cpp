// PC names on POSIX: the engine's strings are Windows-1252, the file system's
// are UTF-8. Characters that Windows-1252 cannot hold become '?', as the ANSI
// calls of Windows do; the five bytes Windows-1252 leaves undefined travel as
// the C1 controls of the same value so that every byte survives a round trip.
#include "platform/platform.h"

#include <cstdint>

namespace {

// Code points of 0x80..0x9F; the rest of 0xA0..0xFF equals Latin-1.
constexpr uint16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

uint32_t AnsiToCodePoint(uint8_t c)
{
    if (c >= 0x80 && c < 0xA0) return kHighControls[c - 0x80];
    return c;
}

// The Windows-1252 byte of a code point, or '?' when it has none.
char CodePointToAnsi(uint32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
    for (unsigned i = 0; i < 32; ++i) {
        if (kHighControls[i] == cp) return static_cast<char>(0x80 + i);
    }
    return '?';
}

// Decodes one UTF-8 sequence at `s`; sets `length` to the bytes used. A byte
// that does not start a well-formed sequence is consumed alone and yields
// no code point (returns false).
bool DecodeUtf8(const uint8_t* s, uint32_t& cp, unsigned& length)
{
    length = 1;
    uint8_t lead = s[0];
    unsigned extra;
    uint32_t minimum;
    if (lead < 0x80) {
        cp = lead;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        minimum = 0x80;
        cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        minimum = 0x800;
        cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        minimum = 0x10000;
        cp = lead & 0x07;
    } else {
        return false;
    }
    for (unsigned i = 1; i <= extra; ++i) {
        // A terminator is not a continuation byte, so this never reads past it.
        if ((s[i] & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    length = extra + 1;
    return true;
}

}  // namespace

bool AnsiToNative(const char* ansi, char* out, size_t outSize)
{
    if (outSize == 0) return false;
    size_t used = 0;
    for (const uint8_t* p = reinterpret_cast<const uint8_t*>(ansi); *p; ++p) {
        uint32_t cp = AnsiToCodePoint(*p);
        char bytes[3];
        size_t n;
        if (cp < 0x80) {
            bytes[0] = static_cast<char>(cp);
            n = 1;
        } else if (cp < 0x800) {
            bytes[0] = static_cast<char>(0xC0 | (cp >> 6));
            bytes[1] = static_cast<char>(0x80 | (cp & 0x3F));
            n = 2;
        } else {
            bytes[0] = static_cast<char>(0xE0 | (cp >> 12));
            bytes[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            bytes[2] = static_cast<char>(0x80 | (cp & 0x3F));
            n = 3;
        }
        if (used + n >= outSize) {
            out[used] = 0;
            return false;
        }
        for (size_t i = 0; i < n; ++i) out[used++] = bytes[i];
    }
    out[used] = 0;
    return true;
}

bool NativeToAnsi(const char* native, char* out, size_t outSize)
{
    if (outSize == 0) return false;
    size_t used = 0;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(native);
    while (*p) {
        uint32_t cp = 0;
        unsigned length = 1;
        char c = DecodeUtf8(p, cp, length) ? CodePointToAnsi(cp) : '?';
        p += length;
        if (used + 1 >= outSize) {
            out[used] = 0;
            return false;
        }
        out[used++] = c;
    }
    out[used] = 0;
    return true;
}

char PathSeparator() { return '/'; }
