#include "support/macbinary_file.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kHeaderSize = 128;

void Put32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

uint32_t Get32(const uint8_t* p)
{
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

size_t Padded(size_t n) { return (n + 127) / 128 * 128; }

void Put4(uint8_t* p, const std::string& chars)
{
    for (size_t i = 0; i < 4; ++i) p[i] = i < chars.size() ? static_cast<uint8_t>(chars[i]) : ' ';
}

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
    Put4(h + 65, file.type);
    Put4(h + 69, file.creator);
    h[73] = static_cast<uint8_t>(file.finderFlags >> 8);
    Put32(h + 83, static_cast<uint32_t>(file.data.size()));
    Put32(h + 87, static_cast<uint32_t>(file.rsrc.size()));
    Put32(h + 91, file.created);
    Put32(h + 95, file.modified);
    h[101] = static_cast<uint8_t>(file.finderFlags);
    h[122] = 129;
    h[123] = 129;
    const uint16_t crc = Crc16Xmodem(h, 124);
    h[124] = static_cast<uint8_t>(crc >> 8);
    h[125] = static_cast<uint8_t>(crc);
    std::copy(file.data.begin(), file.data.end(), out.begin() + kHeaderSize);
    std::copy(file.rsrc.begin(), file.rsrc.end(), out.begin() + static_cast<long>(kHeaderSize + Padded(file.data.size())));
    return out;
}

bool ReadMacBinary(const std::vector<uint8_t>& bytes, MacFileImage* out, std::string* why)
{
    std::string ignored;
    std::string& reason = why ? *why : ignored;
    if (bytes.size() < kHeaderSize) {
        reason = "shorter than a MacBinary header";
        return false;
    }
    const uint8_t* h = bytes.data();
    if (h[0] != 0 || h[74] != 0 || h[1] < 1 || h[1] > 63) {
        reason = "not a MacBinary header";
        return false;
    }
    if (Crc16Xmodem(h, 124) != ((h[124] << 8) | h[125])) {
        reason = "header CRC does not match";
        return false;
    }
    const uint32_t dataLength = Get32(h + 83);
    const uint32_t rsrcLength = Get32(h + 87);
    if (bytes.size() < kHeaderSize + Padded(dataLength) + rsrcLength) {
        reason = "file shorter than its forks";
        return false;
    }
    MacFileImage file;
    file.name.assign(reinterpret_cast<const char*>(h + 2), h[1]);
    file.type.assign(reinterpret_cast<const char*>(h + 65), 4);
    file.creator.assign(reinterpret_cast<const char*>(h + 69), 4);
    file.finderFlags = static_cast<uint16_t>((h[73] << 8) | h[101]);
    file.created = Get32(h + 91);
    file.modified = Get32(h + 95);
    file.data.assign(bytes.begin() + kHeaderSize, bytes.begin() + static_cast<long>(kHeaderSize + dataLength));
    const size_t rsrcStart = kHeaderSize + Padded(dataLength);
    file.rsrc.assign(bytes.begin() + static_cast<long>(rsrcStart), bytes.begin() + static_cast<long>(rsrcStart + rsrcLength));
    *out = std::move(file);
    return true;
}
