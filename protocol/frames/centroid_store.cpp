#include "protocol/frames/centroid_store.h"

#include <cmath>
#include <cstddef>

#include "protocol/common/byte_order.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace RyStoreProtocol {

namespace {

// The low 16 bits of the truncated value for any magnitude: fmod is exact, and no
// out-of-range double is converted to an integer. NaN and infinities give 0.
uint16_t lowBitsOfAnyValue(double rounded) {
    if (!std::isfinite(rounded)) return 0;
    double low = std::fmod(std::trunc(rounded), 65536.0);
    if (low < 0.0) low += 65536.0;
    return static_cast<uint16_t>(low);
}

// Coordinates from 0 up to 2^24 scale to less than 2^31: there the conversion below is
// defined and equals toFixedPoint() (checked for every such float). Display coordinates lie in
// 0..512, so lists outside this range are the rare case.
constexpr float directRangeEnd = 16777216.0f;

inline bool convertsDirectly(float coordinate) { return coordinate >= 0.0f && coordinate < directRangeEnd; }

// toFixedPoint() in single precision: the scaling by 128 is exact, the truncation gives the
// whole part, the remainder is exact, and a remainder of at least one half rounds up, as adding
// 0.5 in double precision and truncating does.
inline int32_t fixedPointDirect(float coordinate) {
    float scaled = coordinate * 128.0f;
    int32_t whole = static_cast<int32_t>(scaled);
    return whole + (scaled - static_cast<float>(whole) >= 0.5f ? 1 : 0);
}

#if defined(__SSE2__)
static_assert(offsetof(GlobRecord, y) == offsetof(GlobRecord, x) + sizeof(float), "x and y are loaded as a pair");

// x and y of two records: x0 y0 x1 y1.
inline __m128 loadPoints(const GlobRecord* records) {
    __m128i first = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&records[0].x));
    __m128i second = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&records[1].x));
    return _mm_castsi128_ps(_mm_unpacklo_epi64(first, second));
}

// All ones in the lanes whose coordinate converts directly.
inline __m128 directLanes(__m128 coordinates) {
    return _mm_and_ps(_mm_cmpge_ps(coordinates, _mm_setzero_ps()),
                      _mm_cmplt_ps(coordinates, _mm_set1_ps(directRangeEnd)));
}

// fixedPointDirect() of four lanes, byte-swapped within each lane's low 16 bits and sign
// extended from them, ready for a pack that keeps those 16 bits exactly.
inline __m128i fixedPointLanes(__m128 coordinates) {
    __m128 scaled = _mm_mul_ps(coordinates, _mm_set1_ps(128.0f));
    __m128i whole = _mm_cvttps_epi32(scaled);
    __m128 remainder = _mm_sub_ps(scaled, _mm_cvtepi32_ps(whole));
    // The comparison's all-ones lanes are -1: subtracting them adds the rounding.
    __m128i rounded = _mm_sub_epi32(whole, _mm_castps_si128(_mm_cmpge_ps(remainder, _mm_set1_ps(0.5f))));
    __m128i lowByte = _mm_set1_epi32(0xFF);
    __m128i swapped = _mm_or_si128(_mm_slli_epi32(_mm_and_si128(rounded, lowByte), 8),
                                   _mm_and_si128(_mm_srli_epi32(rounded, 8), lowByte));
    return _mm_srai_epi32(_mm_slli_epi32(swapped, 16), 16);
}

// Four centroids at a time; returns how many were written, and false in `direct` if some
// coordinate lies outside the direct range (what was written for them is then of no use).
int storeCompactQuads(uint8_t* at, const GlobRecord* records, int count, bool& direct) {
    __m128 allDirect = _mm_castsi128_ps(_mm_set1_epi32(-1));
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        __m128 first = loadPoints(records + i);
        __m128 second = loadPoints(records + i + 2);
        allDirect = _mm_and_ps(allDirect, _mm_and_ps(directLanes(first), directLanes(second)));
        __m128i packed = _mm_packs_epi32(fixedPointLanes(first), fixedPointLanes(second));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 4 * i), packed);
    }
    direct = _mm_movemask_ps(allDirect) == 0xF;
    return i;
}
#else
int storeCompactQuads(uint8_t*, const GlobRecord*, int, bool& direct) {
    direct = true;
    return 0;
}
#endif

}  // namespace

uint16_t toFixedPoint(float coordinate) {
    // The scaling is single precision and the rounding offset double precision: clients decode
    // the values produced this way, so the rounding must match to the last unit.
    double rounded = static_cast<double>(coordinate * 128.0f) + 0.5;
    if (rounded >= 0.0 && rounded < 4294967296.0) return static_cast<uint16_t>(static_cast<uint32_t>(rounded));
    return lowBitsOfAnyValue(rounded);
}

uint8_t* storeFullCentroids(uint8_t* at, const GlobRecord* records, int count) {
    for (int i = 0; i < count; ++i) at = storeU16(storeF32(storeF32(at, records[i].x), records[i].y), records[i].flags);
    return at;
}

uint8_t* storeCompactCentroids(uint8_t* at, const GlobRecord* records, int count) {
    if (count <= 0) return at;
    bool direct = true;
    int i = storeCompactQuads(at, records, count, direct);
    for (; direct && i < count; ++i) {
        direct = convertsDirectly(records[i].x) && convertsDirectly(records[i].y);
        if (direct)
            storeU16(storeU16(at + 4 * i, static_cast<uint16_t>(fixedPointDirect(records[i].x))),
                     static_cast<uint16_t>(fixedPointDirect(records[i].y)));
    }
    if (!direct) {
        // Some coordinate lies outside: the whole list again, with the conversion that is
        // defined for every value.
        for (i = 0; i < count; ++i)
            storeU16(storeU16(at + 4 * i, toFixedPoint(records[i].x)), toFixedPoint(records[i].y));
    }
    return at + 4 * count;
}

}  // namespace RyStoreProtocol
