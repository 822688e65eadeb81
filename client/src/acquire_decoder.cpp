// The acquisition exchange from the client side: the camera count, arming signals, progress
// records and the field records of the download.
#include <algorithm>

#include "byte_cursor.h"
#include "frameyard/client/decoders.h"

namespace frameyard {
namespace {

constexpr uint16_t kDataEnd = 0xFFFF;
constexpr uint16_t kCentroidMarker = 0xFFFF;

// A field's '0'/'1' flag; false when not yet arrived.
bool readFlag(ByteCursor& in, bool& flag, const char* what) {
    uint8_t byte = 0;
    if (!in.u8(byte)) return false;
    if (byte != '0' && byte != '1') {
        throw ProtocolError(std::string("a field record with a bad ") + what + " flag (" + byteText(byte) + ")");
    }
    flag = byte == '1';
    return true;
}

// Each block reader checks that its bytes have all arrived; with `copy` clear it only walks
// them, so that a large field arriving in pieces is copied once, when it is whole.
// A field is held whole before it is delivered, so its images together are bounded too
// (`fieldPixels` counts the field's images so far), checked before their bytes are waited for.
bool readImage(ByteCursor& in, AcquiredCamera& camera, const DecodeLimits& limits, bool copy, uint64_t& fieldPixels) {
    if (!in.u16(camera.width) || !in.u16(camera.height)) return false;
    uint64_t pixels = uint64_t(camera.width) * camera.height;
    if (pixels > limits.maxImageBytes) throw ProtocolError("an acquired image of " + std::to_string(pixels) + " bytes");
    fieldPixels += pixels;
    if (fieldPixels > limits.maxFieldBytes) {
        throw ProtocolError("an acquired field of more than " + std::to_string(limits.maxFieldBytes) + " image bytes");
    }
    if (!in.has(pixels)) return false;
    const uint8_t* p = in.take(static_cast<size_t>(pixels));
    if (copy) camera.pixels.assign(p, p + pixels);
    return true;
}

bool readCentroids(ByteCursor& in, AcquiredCamera& camera, uint16_t field, bool copy) {
    uint16_t marker = 0, length = 0, count = 0;
    if (!in.u16(marker) || !in.u16(length) || !in.u16(count)) return false;
    if (marker != kCentroidMarker || length != (3u * count + 1) * 2) {
        throw ProtocolError("a malformed centroid block in field " + std::to_string(field));
    }
    if (!in.has(size_t(count) * 6)) return false;
    const uint8_t* p = in.take(size_t(count) * 6);
    if (!copy) return true;
    camera.centroids.resize(count);
    for (size_t i = 0; i < count; ++i, p += 6) camera.centroids[i] = {loadU16(p), loadU16(p + 2), loadU16(p + 4)};
    return true;
}

}  // namespace

uint32_t AcquireRequest::requestedFields() const {
    auto length = [this](const std::vector<FieldRun>& runs) {
        if (runs.empty()) return fields;
        uint32_t total = 0;
        for (const FieldRun& run : runs) total += uint32_t(run.skip) + run.take;
        return total;
    };
    uint32_t longest = 0;
    if (centroids) longest = length(centroidList);
    if (images) longest = std::max(longest, length(imageList));
    return longest;
}

AcquireDecoder::AcquireDecoder(const AcquireRequest& request, const DecodeLimits& limits)
    : startFieldId_(request.startFieldId), requested_(request.requestedFields()), limits_(limits) {}

size_t AcquireDecoder::decode(const uint8_t* data, size_t size, AcquireItem& item) {
    ByteCursor in(data, size);
    switch (phase_) {
    case Phase::cameraCount:
        if (!in.u16(cameras_)) return 0;
        item.kind = AcquireItem::Kind::cameraCount;
        item.cameraCount = cameras_;
        // No cameras: the host offers no acquisition and the server says nothing more.
        phase_ = cameras_ == 0 ? Phase::done : Phase::arming;
        return in.used();
    case Phase::arming: {
        if (started_) {
            phase_ = Phase::recording;
            return decode(data, size, item);
        }
        uint8_t signal = 0;
        if (!in.u8(signal)) return 0;
        if (signal != 'R' && signal != 'r') {
            throw ProtocolError("expected 'R' or 'r' from the server while arming, got " + byteText(signal));
        }
        item.kind = signal == 'R' ? AcquireItem::Kind::ready : AcquireItem::Kind::stepped;
        return in.used();
    }
    case Phase::recording: {
        if (!in.has(2)) return 0;
        if (loadU16(data) == 0 && !in.has(6)) return 0;
        if (loadU16(data) == 0 && isProgressRecord(data, size)) {
            in.take(2);
            in.u16(item.progress.fieldNumber);
            in.u16(item.progress.value);
            // Field numbers travel as 16 bits; the count only grows.
            uint16_t count = static_cast<uint16_t>(item.progress.fieldNumber - startFieldId_);
            recorded_ += static_cast<uint16_t>(count - static_cast<uint16_t>(recorded_));
            item.kind = AcquireItem::Kind::progress;
            return in.used();
        }
        phase_ = Phase::data;
        return decode(data, size, item);
    }
    case Phase::data: {
        uint16_t number = 0;
        if (!in.u16(number)) return 0;
        // 0xFFFF ends the data, except where it is the number of a field still to come.
        if (number == kDataEnd && fieldsRead_ >= recorded_) {
            item.kind = AcquireItem::Kind::end;
            phase_ = Phase::done;
            return in.used();
        }
        item.field.number = number;
        if (decodeField(data + in.used(), size - in.used(), item.field, false) == 0) return 0;
        size_t used = decodeField(data + in.used(), size - in.used(), item.field, true);
        item.kind = AcquireItem::Kind::field;
        ++fieldsRead_;
        if (fieldsRead_ > recorded_) recorded_ = fieldsRead_;
        return in.used() + used;
    }
    case Phase::done:
        if (size == 0) return 0;
        throw ProtocolError("the server sent " + std::to_string(size) + " bytes after the acquisition ended");
    }
    return 0;
}

bool AcquireDecoder::isProgressRecord(const uint8_t* data, size_t) const {
    if (startFieldId_ != 0) return true;
    uint32_t count = loadU16(data + 2);
    if (count <= recorded_ || count > requested_) return false;
    return loadU16(data + 4) == progressValue(count, requested_);
}

size_t AcquireDecoder::decodeField(const uint8_t* data, size_t size, AcquiredField& field, bool copy) {
    ByteCursor in(data, size);
    uint8_t first = 0;
    if (!in.peekU8(first)) return 0;
    field.timecode.reset();
    if (first == 't') {
        if (!in.has(5)) return 0;
        const uint8_t* p = in.take(5);
        field.timecode = Timecode{p[1], p[2], p[3], p[4]};
    }
    if (!readFlag(in, field.images, "image") || !readFlag(in, field.centroids, "centroid")) return 0;
    field.cameras.clear();
    if (!field.images && !field.centroids) return in.used();
    AcquiredCamera scratch;
    if (copy) field.cameras.resize(cameras_);
    uint64_t fieldPixels = 0;
    for (size_t c = 0; c < cameras_; ++c) {
        AcquiredCamera& camera = copy ? field.cameras[c] : scratch;
        if (field.images && !readImage(in, camera, limits_, copy, fieldPixels)) return 0;
        if (field.centroids && !readCentroids(in, camera, field.number, copy)) return 0;
    }
    return in.used();
}

}  // namespace frameyard
