#include "translate/crc16.h"

namespace {

struct Crc16Table {
    uint16_t entry[256];
    constexpr Crc16Table() : entry()
    {
        for (unsigned i = 0; i < 256; ++i) {
            unsigned r = i << 8;
            for (unsigned bit = 0; bit < 8; ++bit) r = (r & 0x8000) ? (r << 1) ^ 0x1021 : r << 1;
            entry[i] = static_cast<uint16_t>(r);
        }
    }
};
constexpr Crc16Table kCrc16Table;

}  // namespace

uint16_t Crc16Update(uint16_t crc, uint8_t byte)
{
    return static_cast<uint16_t>(kCrc16Table.entry[(crc >> 8) ^ byte] ^ (crc << 8));
}

uint16_t Crc16(const uint8_t* data, size_t size)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < size; ++i) crc = Crc16Update(crc, data[i]);
    return crc;
}
