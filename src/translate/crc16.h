// The 16-bit CRC that MacBinary headers and BinHex sections carry: polynomial
// 0x1021, register starting at 0, bits taken most significant first, no
// final inversion.
#pragma once
#include <cstddef>
#include <cstdint>

uint16_t Crc16Update(uint16_t crc, uint8_t byte);
uint16_t Crc16(const uint8_t* data, size_t size);
