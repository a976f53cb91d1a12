// SHA-256, to compare fork contents with digests recorded elsewhere.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The digest as 64 lower-case hex digits.
std::string Sha256Hex(const uint8_t* data, size_t size);
inline std::string Sha256Hex(const std::vector<uint8_t>& bytes) { return Sha256Hex(bytes.data(), bytes.size()); }
inline std::string Sha256Hex(const std::string& s) { return Sha256Hex(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }
