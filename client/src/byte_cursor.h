#pragma once
// Reading a server's bytes in place: a cursor over the bytes that have arrived, which says
// "not yet" (returns false) instead of reading past them. A decoder takes an item only when
// every byte of it is there, so a short read simply leaves everything for the next call.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "frameyard/client/decoders.h"
#include "frameyard/client/error.h"

namespace frameyard {

class ByteCursor {
public:
    ByteCursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t used() const { return pos_; }
    size_t left() const { return size_ - pos_; }
    bool has(uint64_t count) const { return count <= left(); }
    const uint8_t* here() const { return data_ + pos_; }

    bool u8(uint8_t& out) {
        if (!has(1)) return false;
        out = data_[pos_++];
        return true;
    }
    bool u16(uint16_t& out) {
        if (!has(2)) return false;
        out = loadU16(data_ + pos_);
        pos_ += 2;
        return true;
    }
    bool u32(uint32_t& out) {
        if (!has(4)) return false;
        out = loadU32(data_ + pos_);
        pos_ += 4;
        return true;
    }
    bool peekU8(uint8_t& out) const {
        if (!has(1)) return false;
        out = data_[pos_];
        return true;
    }
    // Takes `count` bytes (already checked by has()) and returns where they start.
    const uint8_t* take(size_t count) {
        const uint8_t* start = data_ + pos_;
        pos_ += count;
        return start;
    }
    bool text(size_t count, std::string& out) {
        if (!has(count)) return false;
        out.assign(reinterpret_cast<const char*>(take(count)), count);
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

inline void checkTextLength(uint32_t length, const DecodeLimits& limits, const char* what) {
    if (length > limits.maxText) {
        throw ProtocolError(std::string("the server announced ") + what + " of " + std::to_string(length) +
                            " bytes (limit " + std::to_string(limits.maxText) + ")");
    }
}

inline std::string byteText(uint8_t byte) {
    if (byte >= 0x20 && byte < 0x7f) return std::string("'") + char(byte) + "'";
    return "byte " + std::to_string(byte);
}

}  // namespace frameyard
