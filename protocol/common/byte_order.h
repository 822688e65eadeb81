#pragma once
// Big-endian byte layouts of the binary protocols: every integer on the wire is written and
// read through these helpers, never by casting over a struct.
#include <bit>
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

// The same layouts written in place, for encoders that size their buffer first (frame
// encoding writes every centroid through these); each returns the position after its bytes.
// On little-endian machines the value is swapped and stored whole, which compilers turn into
// one instruction each where byte-wise stores would not be.
inline uint8_t* storeU16(uint8_t* out, uint16_t value) {
    if constexpr (std::endian::native == std::endian::little) {
        uint16_t swapped = static_cast<uint16_t>((value >> 8) | (value << 8));
        std::memcpy(out, &swapped, sizeof swapped);
    } else {
        out[0] = static_cast<uint8_t>(value >> 8);
        out[1] = static_cast<uint8_t>(value);
    }
    return out + 2;
}

inline uint8_t* storeU32(uint8_t* out, uint32_t value) {
    if constexpr (std::endian::native == std::endian::little) {
        uint32_t swapped = (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
        std::memcpy(out, &swapped, sizeof swapped);
    } else {
        out[0] = static_cast<uint8_t>(value >> 24);
        out[1] = static_cast<uint8_t>(value >> 16);
        out[2] = static_cast<uint8_t>(value >> 8);
        out[3] = static_cast<uint8_t>(value);
    }
    return out + 4;
}

inline uint8_t* storeF32(uint8_t* out, float value) { return storeU32(out, floatBits(value)); }

inline uint16_t getU16(const uint8_t* in) {
    return static_cast<uint16_t>((in[0] << 8) | in[1]);
}

inline uint32_t getU32(const uint8_t* in) {
    return (uint32_t(in[0]) << 24) | (uint32_t(in[1]) << 16) | (uint32_t(in[2]) << 8) | uint32_t(in[3]);
}

}  // namespace RyStoreProtocol
