#pragma once
// Building wire bytes in the client library's tests: big-endian words and concatenation.
#include <cstdint>
#include <initializer_list>

#include "frameyard/client/requests.h"

namespace frameyard {

inline Bytes words(std::initializer_list<uint16_t> values) {
    Bytes out;
    for (uint16_t v : values) {
        out.push_back(static_cast<uint8_t>(v >> 8));
        out.push_back(static_cast<uint8_t>(v));
    }
    return out;
}

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace frameyard
