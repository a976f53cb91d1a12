// Forks of many megabytes are hashed in sanitized debug builds: this file is
// built optimized and its plain arithmetic left uninstrumented.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("O2")
#endif
#include "support/sha256.h"

namespace {

constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

#define ROTR(x, n) (((x) >> (n)) | ((x) << (32 - (n))))

__attribute__((no_sanitize("address", "undefined"))) void Block(uint32_t* s, const uint8_t* p)
{
    uint32_t w[64];
    for (unsigned i = 0; i < 16; ++i)
        w[i] = (uint32_t{p[4 * i]} << 24) | (uint32_t{p[4 * i + 1]} << 16) | (uint32_t{p[4 * i + 2]} << 8) | p[4 * i + 3];
    for (unsigned i = 16; i < 64; ++i)
        w[i] = w[i - 16] + (ROTR(w[i - 15], 7) ^ ROTR(w[i - 15], 18) ^ (w[i - 15] >> 3)) + w[i - 7] +
               (ROTR(w[i - 2], 17) ^ ROTR(w[i - 2], 19) ^ (w[i - 2] >> 10));
    uint32_t v[8];
    for (unsigned i = 0; i < 8; ++i) v[i] = s[i];
    for (unsigned i = 0; i < 64; ++i) {
        const uint32_t e = v[4], a = v[0];
        const uint32_t t1 = v[7] + (ROTR(e, 6) ^ ROTR(e, 11) ^ ROTR(e, 25)) + ((e & v[5]) ^ (~e & v[6])) + kRound[i] + w[i];
        const uint32_t t2 = (ROTR(a, 2) ^ ROTR(a, 13) ^ ROTR(a, 22)) + ((a & v[1]) ^ (a & v[2]) ^ (v[1] & v[2]));
        for (unsigned k = 7; k > 0; --k) v[k] = v[k - 1];
        v[4] += t1;
        v[0] = t1 + t2;
    }
    for (unsigned i = 0; i < 8; ++i) s[i] += v[i];
}

}  // namespace

std::string Sha256Hex(const uint8_t* data, size_t size)
{
    uint32_t s[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    size_t done = 0;
    for (; done + 64 <= size; done += 64) Block(s, data + done);
    // The tail, the 0x80 marker and the length in bits fill one or two last blocks.
    uint8_t last[128] = {};
    const size_t tail = size - done, blocks = tail < 56 ? 1 : 2;
    for (size_t i = 0; i < tail; ++i) last[i] = data[done + i];
    last[tail] = 0x80;
    for (unsigned i = 0; i < 8; ++i) last[64 * blocks - 1 - i] = static_cast<uint8_t>(uint64_t{size} * 8 >> (8 * i));
    for (size_t b = 0; b < blocks; ++b) Block(s, last + 64 * b);
    std::string hex;
    for (uint32_t word : s)
        for (int shift = 28; shift >= 0; shift -= 4) hex += "0123456789abcdef"[(word >> shift) & 15];
    return hex;
}
