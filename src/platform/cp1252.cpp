#include "platform/cp1252.h"

#include <cstdint>

namespace {

// Code points of Windows-1252 bytes 0x80..0x9F; the undefined ones map to the
// C1 control of the same value. 0xA0..0xFF equal Latin-1.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

char32_t ToCodePoint(uint8_t c) { return (c >= 0x80 && c < 0xA0) ? kHighControls[c - 0x80] : c; }

// The Windows-1252 byte of a code point, or '?' when it has none.
char ToAnsi(char32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
    for (unsigned i = 0; i < 32; ++i)
        if (kHighControls[i] == cp) return static_cast<char>(0x80 + i);
    return '?';
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool DecodeUtf8(std::string_view text, size_t i, char32_t& cp, unsigned& length)
{
    length = 1;
    const uint8_t lead = static_cast<uint8_t>(text[i]);
    unsigned extra;
    char32_t minimum;
    if (lead < 0x80) {
        cp = lead;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        minimum = 0x80;
        cp = lead & 0x1Fu;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        minimum = 0x800;
        cp = lead & 0x0Fu;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        minimum = 0x10000;
        cp = lead & 0x07u;
    } else {
        return false;
    }
    if (extra >= text.size() - i) return false;  // truncated at the end of the text
    for (unsigned k = 1; k <= extra; ++k) {
        const uint8_t c = static_cast<uint8_t>(text[i + k]);
        if ((c & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (c & 0x3Fu);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    length = extra + 1;
    return true;
}

std::string Cp1252ToUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) AppendUtf8(out, ToCodePoint(static_cast<uint8_t>(c)));
    return out;
}

std::string Utf8ToCp1252(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        char32_t cp = 0;
        unsigned length = 1;
        out += DecodeUtf8(text, i, cp, length) ? ToAnsi(cp) : '?';
        i += length;
    }
    return out;
}

std::u16string Cp1252ToUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (char c : text) out += static_cast<char16_t>(ToCodePoint(static_cast<uint8_t>(c)));
    return out;
}

std::string Utf16ToCp1252(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        const bool pair = unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                          text[i + 1] <= 0xDFFF;
        if (pair) ++i;
        out += pair ? '?' : ToAnsi(unit);
    }
    return out;
}
