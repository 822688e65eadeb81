#pragma once
// Big-endian byte layouts of the binary protocols: every integer on the wire is written and
// read through these helpers, never by casting over a struct.
#include <cstdint>
#include <cstring>
#include <vector>

namespace RyStoreProtocol {

inline void putU8(std::vector<uint8_t>& out, uint8_t value) { out.push_back(value); }

inline void putU16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

inline void putU32(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value >> 24));
    out.push_back(static_cast<uint8_t>(value >> 16));
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

inline uint32_t floatBits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

inline float floatFromBits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline void putF32(std::vector<uint8_t>& out, float value) { putU32(out, floatBits(value)); }

inline void putBytes(std::vector<uint8_t>& out, const void* data, size_t length) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    out.insert(out.end(), bytes, bytes + length);
}

inline uint16_t getU16(const uint8_t* in) {
    return static_cast<uint16_t>((in[0] << 8) | in[1]);
}

inline uint32_t getU32(const uint8_t* in) {
    return (uint32_t(in[0]) << 24) | (uint32_t(in[1]) << 16) | (uint32_t(in[2]) << 8) | uint32_t(in[3]);
}

}  // namespace RyStoreProtocol
