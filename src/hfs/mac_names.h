// Names between the Mac (length-prefixed, Mac OS Roman, at most 31
// characters) and the PC (zero-terminated Windows-1252).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "hfs/layout.h"

// The length of a stored name, cut to `limit` (a name holds at most 31
// characters, a volume name 27): a damaged length byte never reaches past
// the name's field. Every cut of a Mac name's length is this one.
constexpr uint8_t MacNameLength(const uint8_t* name, unsigned limit = kMaxMacName)
{
    return static_cast<uint8_t>(name[0] > limit ? limit : name[0]);
}

// A Mac name: a length byte and at most 31 Mac OS Roman characters, made
// from a length-prefixed name as stored, its length cut by MacNameLength.
struct Str31 {
    uint8_t bytes[1 + kMaxMacName] = {};

    Str31() = default;
    explicit Str31(const uint8_t* name, unsigned limit = kMaxMacName)
    {
        bytes[0] = MacNameLength(name, limit);
        std::memcpy(bytes + 1, name + 1, bytes[0]);
    }
    explicit Str31(const char* name) : Str31(reinterpret_cast<const uint8_t*>(name)) {}
    uint8_t Length() const { return bytes[0]; }
    // Writes the length byte and the characters to `out`.
    void CopyTo(uint8_t* out) const { std::memcpy(out, bytes, 1u + bytes[0]); }
    void CopyTo(char* out) const { std::memcpy(out, bytes, 1u + bytes[0]); }
};

// `out` receives name[0] characters, plus a terminating zero when
// `terminate` is set. A zero byte in the name becomes 0x02.
void MacNameToPc(char* out, const uint8_t* name, bool terminate);
// `out` (32 bytes) receives a length byte and at most 31 characters.
void PcNameToMac(uint8_t* out, const char* text);

uint8_t MacCharToPc(uint8_t c);
uint8_t PcCharToMac(uint8_t c);

// Mac OS Roman and Unicode, one code point per Mac character (the mapping
// Mac OS itself uses: 0xDB is the euro sign, 0xF0 the Apple logo in the
// private use area). Codes below 0x80 are ASCII, controls included.
char32_t MacCharToUnicode(uint8_t c);
// The Mac character of a code point; false when Mac OS Roman lacks it.
bool UnicodeToMacChar(char32_t cp, uint8_t* out);
// Mac characters as UTF-8, exactly (controls included).
std::string MacRomanToUtf8(const uint8_t* text, size_t length);
// UTF-8 as Mac characters. False on malformed UTF-8 or a character the Mac
// set lacks; `bad` (when given) then gets that character, or U+FFFD for
// malformed UTF-8.
bool Utf8ToMacRoman(std::string_view utf8, std::string* out, char32_t* bad = nullptr);
