// Names between the Mac (length-prefixed, Mac OS Roman, at most 31
// characters) and the PC (zero-terminated Windows-1252).
#pragma once
#include <cstdint>

constexpr unsigned kMaxMacName = 31;

// `out` receives name[0] characters, plus a terminating zero when
// `terminate` is set. A zero byte in the name becomes 0x02.
void MacNameToPc(char* out, const uint8_t* name, bool terminate);
// `out` (32 bytes) receives a length byte and at most 31 characters.
void PcNameToMac(uint8_t* out, const char* text);

uint8_t MacCharToPc(uint8_t c);
uint8_t PcCharToMac(uint8_t c);
