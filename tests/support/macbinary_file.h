// MacBinary II files for tests: inputs for the peer tools (which accept only
// a header with a valid CRC), and the ones those tools write.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct MacFileImage {
    std::string name;        // Mac characters, 1 to 63 bytes
    std::string type = "????";
    std::string creator = "????";
    uint16_t finderFlags = 0;
    uint32_t created = 0;    // Mac dates
    uint32_t modified = 0;
    std::vector<uint8_t> data;
    std::vector<uint8_t> rsrc;
};

// CRC-16/XMODEM (polynomial 0x1021, start 0).
uint16_t Crc16Xmodem(const uint8_t* data, size_t size);

std::vector<uint8_t> WriteMacBinary(const MacFileImage& file);

// False (with `why`) when the header is not one or the file is too short
// for the fork lengths it gives.
bool ReadMacBinary(const std::vector<uint8_t>& bytes, MacFileImage* out, std::string* why = nullptr);
inline bool ReadMacBinary(const std::string& bytes, MacFileImage* out, std::string* why = nullptr)
{
    return ReadMacBinary(std::vector<uint8_t>(bytes.begin(), bytes.end()), out, why);
}
