// SHA-256, to compare fork contents with digests recorded elsewhere.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class Sha256 {
public:
    Sha256();
    void Update(const uint8_t* data, size_t size);
    // The digest as 64 lower-case hex digits. The object is spent afterwards.
    std::string HexDigest();

private:
    void Block(const uint8_t* block);

    uint32_t state_[8];
    uint8_t pending_[64];
    size_t pendingSize_ = 0;
    uint64_t totalBytes_ = 0;
};

std::string Sha256Hex(const uint8_t* data, size_t size);
inline std::string Sha256Hex(const std::vector<uint8_t>& bytes) { return Sha256Hex(bytes.data(), bytes.size()); }
// The digest of a whole file, read in pieces; empty when it cannot be read.
std::string Sha256File(const std::string& path);
inline std::string Sha256Hex(const std::string& bytes)
{
    return Sha256Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}
