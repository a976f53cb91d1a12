#include "platform/cp1252.h"

#include <cstdint>

namespace {

// Unicode code points of Windows-1252 bytes 0x80..0x9F; the undefined ones
// map to the C1 control of the same value.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char32_t ToUnicode(uint8_t c) { return (c >= 0x80 && c < 0xA0) ? kHighControls[c - 0x80] : c; }

int FromUnicode(char32_t u)
{
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return static_cast<int>(u);
    for (int i = 0; i < 32; ++i)
        if (kHighControls[i] == u) return 0x80 + i;
    return -1;
}

void AppendUtf8(std::string& out, char32_t u)
{
    if (u < 0x80) {
        out += static_cast<char>(u);
    } else if (u < 0x800) {
        out += static_cast<char>(0xC0 | (u >> 6));
        out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (u >> 12));
        out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
    }
}

}  // namespace

std::string Cp1252ToUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) AppendUtf8(out, ToUnicode(static_cast<uint8_t>(c)));
    return out;
}

std::string Utf8ToCp1252(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const uint8_t lead = static_cast<uint8_t>(text[i]);
        unsigned length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
        char32_t u = length == 1 ? lead : length == 2 ? (lead & 0x1Fu) : length == 3 ? (lead & 0x0Fu) : (lead & 0x07u);
        bool valid = length != 0 && i + length <= text.size();
        for (unsigned k = 1; valid && k < length; ++k) {
            const uint8_t c = static_cast<uint8_t>(text[i + k]);
            valid = (c & 0xC0) == 0x80;
            u = (u << 6) | (c & 0x3Fu);
        }
        const int mapped = valid ? FromUnicode(u) : -1;
        out += mapped < 0 ? '?' : static_cast<char>(mapped);
        i += valid ? length : 1;
    }
    return out;
}
