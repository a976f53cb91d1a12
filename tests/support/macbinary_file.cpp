#include "support/macbinary_file.h"

#include <algorithm>
#include <cstring>

#include "hfs/bytes.h"

namespace {

constexpr size_t kHeaderSize = 128;

size_t Padded(size_t n) { return (n + 127) / 128 * 128; }

}  // namespace

uint16_t Crc16Xmodem(const uint8_t* data, size_t size)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

std::vector<uint8_t> WriteMacBinary(const MacFileImage& file)
{
    std::vector<uint8_t> out(kHeaderSize + Padded(file.data.size()) + Padded(file.rsrc.size()), 0);
    uint8_t* h = out.data();
    const size_t nameLength = std::min<size_t>(file.name.size(), 63);
    h[1] = static_cast<uint8_t>(nameLength);
    std::memcpy(h + 2, file.name.data(), nameLength);
    for (size_t i = 0; i < 4; ++i) {
        h[65 + i] = static_cast<uint8_t>(i < file.type.size() ? file.type[i] : ' ');
        h[69 + i] = static_cast<uint8_t>(i < file.creator.size() ? file.creator[i] : ' ');
    }
    h[73] = static_cast<uint8_t>(file.finderFlags >> 8);
    PutU32(static_cast<uint32_t>(file.data.size()), h + 83);
    PutU32(static_cast<uint32_t>(file.rsrc.size()), h + 87);
    PutU32(file.created, h + 91);
    PutU32(file.modified, h + 95);
    h[101] = static_cast<uint8_t>(file.finderFlags);
    h[122] = 129;  // MacBinary II, readable by II
    h[123] = 129;
    PutU16(Crc16Xmodem(h, 124), h + 124);
    std::copy(file.data.begin(), file.data.end(), out.begin() + kHeaderSize);
    std::copy(file.rsrc.begin(), file.rsrc.end(), out.begin() + static_cast<long>(kHeaderSize + Padded(file.data.size())));
    return out;
}

bool ReadMacBinary(const std::vector<uint8_t>& bytes, MacFileImage* out, std::string* why)
{
    std::string ignored;
    std::string& reason = why ? *why : ignored;
    const uint8_t* h = bytes.data();
    if (bytes.size() < kHeaderSize || h[0] != 0 || h[74] != 0 || h[1] < 1 || h[1] > 63) {
        reason = "not a MacBinary header";
        return false;
    }
    if (Crc16Xmodem(h, 124) != GetU16(h + 124)) {
        reason = "header CRC does not match";
        return false;
    }
    const size_t dataLength = GetU32(h + 83), rsrcStart = kHeaderSize + Padded(dataLength), rsrcLength = GetU32(h + 87);
    if (bytes.size() < rsrcStart + rsrcLength) {
        reason = "file shorter than its forks";
        return false;
    }
    out->name.assign(reinterpret_cast<const char*>(h + 2), h[1]);
    out->type.assign(reinterpret_cast<const char*>(h + 65), 4);
    out->creator.assign(reinterpret_cast<const char*>(h + 69), 4);
    out->finderFlags = static_cast<uint16_t>((h[73] << 8) | h[101]);
    out->created = GetU32(h + 91);
    out->modified = GetU32(h + 95);
    out->data.assign(h + kHeaderSize, h + kHeaderSize + dataLength);
    out->rsrc.assign(h + rsrcStart, h + rsrcStart + rsrcLength);
    return true;
}
