#include "protocol/frames/frame_format.h"

#include <cmath>
#include <cstdint>

#include "protocol/common/byte_order.h"
#include "toolkit/diagnostics.h"

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

// Inline, for the frame encoder: every coordinate a camera produces takes the first branch,
// where the conversion to 32 bits is defined.
inline uint16_t fixedPoint(float coordinate) {
    // The scaling is single precision and the rounding offset double precision: clients decode
    // the values produced this way, so the rounding must match to the last unit.
    double rounded = static_cast<double>(coordinate * 128.0f) + 0.5;
    if (rounded >= 0.0 && rounded < 4294967296.0) return static_cast<uint16_t>(static_cast<uint32_t>(rounded));
    return lowBitsOfAnyValue(rounded);
}

}  // namespace

uint16_t toFixedPoint(float coordinate) { return fixedPoint(coordinate); }

Centroid toCentroid(const GlobRecord& record) {
    Centroid centroid;
    centroid.x = toFixedPoint(record.x);
    centroid.y = toFixedPoint(record.y);
    centroid.flags = record.flags;
    return centroid;
}

void appendTimecodeRecord(std::vector<uint8_t>& out, const Timecode& timecode) {
    putU8(out, 't');
    for (uint32_t component : timecode) putU8(out, static_cast<uint8_t>(component));
}

namespace {

bool insideAnyMask(const GlobRecord& glob, const LuDArray<RyCircularMask>& masks) {
    for (const RyCircularMask& mask : masks) {
        float dx = glob.x - mask.x;
        float dy = glob.y - mask.y;
        float distanceSquared = dx * dx + dy * dy;
        if (distanceSquared <= mask.radius * mask.radius) return true;
    }
    return false;
}

// Always inlined: a call per centroid would cost more than the stores it makes.
template <bool compact>
[[gnu::always_inline]] inline uint8_t* storeCentroid(uint8_t* at, const GlobRecord& glob) {
    if (compact) return storeU16(storeU16(at, fixedPoint(glob.x)), fixedPoint(glob.y));
    return storeU16(storeF32(storeF32(at, glob.x), glob.y), glob.flags);
}

// Writes the kept centroids of one camera from `at` on and returns how many were kept. One
// instance per form and source, so that the loop, which runs for every centroid of every
// frame, carries no test that is the same for the whole list.
template <bool compact, class Source>
int storeKeptCentroids(uint8_t* at, int available, Source glob, const LuDArray<RyCircularMask>& masks) {
    bool masked = !masks.isEmpty();
    int kept = 0;
    for (int i = 0; i < available && kept < maxCentroidsPerCamera; ++i) {
        GlobRecord record = glob(i);
        if (masked && insideAnyMask(record, masks)) continue;
        at = storeCentroid<compact>(at, record);
        ++kept;
    }
    return kept;
}

template <bool compact>
int storeKeptCentroids(uint8_t* at, const AbstractGlobList& globs, const LuDArray<RyCircularMask>& masks) {
    int available = globs.globCount();
    if (const GlobRecord* records = globs.records())
        return storeKeptCentroids<compact>(at, available, [records](int i) { return records[i]; }, masks);
    return storeKeptCentroids<compact>(at, available, [&globs](int i) { return globs.centroid(i); }, masks);
}

// Receives one camera's glob list from the frame and appends it.
class GlobListWriter final : public GlobListVisitor {
public:
    GlobListWriter(std::vector<uint8_t>& out, const LuDArray<RyCircularMask>& masks, bool compact)
        : out_(out), masks_(masks), compact_(compact) {}
    void visit(const AbstractGlobList& list) override {
        appendGlobList(out_, list, masks_, compact_);
        visited_ = true;
    }
    bool visited() const { return visited_; }

private:
    std::vector<uint8_t>& out_;
    const LuDArray<RyCircularMask>& masks_;
    bool compact_;
    bool visited_ = false;
};

size_t estimatedFrameSize(int cameras, bool compact) {
    // Sized for the worst case so that a full frame is built without reallocation, but not
    // beyond a few megabytes for an unusually long camera list: the vector grows if needed.
    constexpr size_t cap = 4u * 1024 * 1024;
    size_t perCamera = 2 + static_cast<size_t>(maxCentroidsPerCamera) * (compact ? 4 : 10);
    size_t count = cameras > 0 ? static_cast<size_t>(cameras) : 0;
    size_t estimate = 5 + 5 + (count > cap / perCamera ? cap : count * perCamera);
    return estimate;
}

std::vector<uint8_t> messageBytes(const LuStr& text, bool liveFeat) {
    std::vector<uint8_t> out;
    size_t length = static_cast<size_t>(text.length());
    out.reserve(length + 8);
    if (liveFeat) {
        putU16(out, liveFeatHeaderMarker);
        putU8(out, 1);
    }
    putU8(out, 'm');
    putU32(out, static_cast<uint32_t>(length));
    putBytes(out, text.c_str(), length);
    return out;
}

}  // namespace

void appendGlobList(std::vector<uint8_t>& out, const AbstractGlobList& globs,
                    const LuDArray<RyCircularMask>& masks, bool compact) {
    int available = globs.globCount();
    int most = available < 0 ? 0 : available < maxCentroidsPerCamera ? available : maxCentroidsPerCamera;
    size_t width = compact ? 4 : 10;
    size_t countAt = out.size();
    // Room for every centroid that can be kept, filled in place (this runs for every camera of
    // every frame); what masks left unused is cut off below.
    out.resize(countAt + 2 + static_cast<size_t>(most) * width);
    uint8_t* at = out.data() + countAt + 2;
    int kept = compact ? storeKeptCentroids<true>(at, globs, masks) : storeKeptCentroids<false>(at, globs, masks);
    storeU16(out.data() + countAt, static_cast<uint16_t>(kept));
    out.resize(countAt + 2 + static_cast<size_t>(kept) * width);
}

std::vector<uint8_t> encodeRealtimeFrame(const AbstractGlobFrame& frame, const Timecode& timecode,
                                         const MaskInfo& masks, bool compact, bool timecodes, bool tagged) {
    int cameras = frame.globListCount();
    std::vector<uint8_t> out;
    out.reserve(estimatedFrameSize(cameras, compact));
    if (tagged) {
        putU8(out, 'f');
        putU32(out, 0);  // the body length, filled in below
    }
    size_t bodyStart = out.size();
    if (timecodes) appendTimecodeRecord(out, timecode);
    for (int camera = 0; camera < cameras; ++camera) {
        if (masks.isFullyMasked(camera)) {
            putU16(out, 0);
            continue;
        }
        GlobListWriter writer(out, masks.circularMasks(camera), compact);
        frame.visitGlobList(camera, writer);
        // A camera the frame has no list for still takes its place in the frame.
        if (!writer.visited()) putU16(out, 0);
    }
    if (tagged) {
        uint32_t bodyLength = static_cast<uint32_t>(out.size() - bodyStart);
        for (int i = 0; i < 4; ++i) out[1 + i] = static_cast<uint8_t>(bodyLength >> (24 - 8 * i));
    }
    return out;
}

bool writeAll(RySocketInterface& socket, const void* data, size_t length) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    while (length > 0) {
        int written = socket.write(bytes, length);
        if (written <= 0) return false;
        size_t taken = static_cast<size_t>(written) < length ? static_cast<size_t>(written) : length;
        bytes += taken;
        length -= taken;
    }
    return true;
}

namespace {

// writeAll() through the socket's lent write: a socket that queues holds what it cannot send
// at once by reference; one that does not is written to until it has taken every byte.
bool writeAllLent(RySocketInterface& socket, const LuBytePiece* pieces, size_t count, LuSharedBytesSource& source) {
    size_t length = totalLength(pieces, count);
    int written = socket.writeLent(pieces, count, source);
    if (written <= 0) return length == 0 && written == 0;
    size_t taken = static_cast<size_t>(written) < length ? static_cast<size_t>(written) : length;
    return taken == length || writeAll(socket, source.bytes().data() + taken, length - taken);
}

}  // namespace

std::vector<uint8_t> realtimeMessageBytes(const LuStr& text) { return messageBytes(text, false); }

std::vector<uint8_t> liveFeatMessageBytes(const LuStr& text) { return messageBytes(text, true); }

bool sendRealtimeMessage(RySocketInterface& socket, const LuStr& text) {
    std::vector<uint8_t> bytes = realtimeMessageBytes(text);
    return writeAll(socket, bytes.data(), bytes.size());
}

bool sendLiveFeatMessage(RySocketInterface& socket, const LuStr& text) {
    std::vector<uint8_t> bytes = liveFeatMessageBytes(text);
    return writeAll(socket, bytes.data(), bytes.size());
}

bool liveFeatImageFits(const ImageView& image) {
    if (image.width < 0 || image.height < 0) return false;
    if (image.width > maxImageSide || image.height > maxImageSide) return false;
    return image.pixels != nullptr || image.width == 0 || image.height == 0;
}

namespace {

size_t imagePixelCount(const ImageView* image) {
    return image ? static_cast<size_t>(image->width) * static_cast<size_t>(image->height) : 0;
}

// The frame up to the pixels: the header item when there is a timecode or a picture.
std::vector<uint8_t> liveFeatFrameHead(const Timecode* timecode, const ImageView* image) {
    std::vector<uint8_t> out;
    uint8_t headerLength = static_cast<uint8_t>((timecode ? 5 : 0) + (image ? 5 : 0));
    if (headerLength == 0) return out;
    out.reserve(3 + headerLength);
    putU16(out, liveFeatHeaderMarker);
    putU8(out, headerLength);
    if (timecode) appendTimecodeRecord(out, *timecode);
    if (image) {
        putU8(out, 'i');
        putU16(out, static_cast<uint16_t>(image->width));
        putU16(out, static_cast<uint16_t>(image->height));
    }
    return out;
}

// The segment count and the segments, cut to what the count can say.
std::vector<uint8_t> liveFeatSegmentBlock(const SegmentListInterface& segments) {
    int count = segments.segmentCount();
    if (count < 0) count = 0;
    if (count > maxSegmentsPerFrame) count = maxSegmentsPerFrame;
    std::vector<uint8_t> out;
    out.reserve(2 + static_cast<size_t>(count) * 6);
    putU16(out, static_cast<uint16_t>(count));
    out.resize(2 + static_cast<size_t>(count) * 6);
    segments.storeSegments(out.data() + 2, count);
    return out;
}

std::vector<uint8_t> joinFrame(const std::vector<uint8_t>& head, const uint8_t* pixels, size_t pixelCount,
                               const std::vector<uint8_t>& segmentBlock) {
    std::vector<uint8_t> out;
    out.reserve(head.size() + pixelCount + segmentBlock.size());
    out.insert(out.end(), head.begin(), head.end());
    if (pixelCount > 0) out.insert(out.end(), pixels, pixels + pixelCount);
    out.insert(out.end(), segmentBlock.begin(), segmentBlock.end());
    return out;
}

}  // namespace

std::vector<uint8_t> encodeLiveFeatFrame(const Timecode* timecode, const ImageView* image,
                                         const SegmentListInterface& segments) {
    return joinFrame(liveFeatFrameHead(timecode, image), image ? image->pixels : nullptr, imagePixelCount(image),
                     liveFeatSegmentBlock(segments));
}

uint8_t* SegmentListInterface::storeSegments(uint8_t* out, int count) const {
    for (int i = 0; i < count; ++i) {
        out = storeU16(out, static_cast<uint16_t>(value1(i)));
        out = storeU16(out, static_cast<uint16_t>(value2(i)));
        out = storeU16(out, static_cast<uint16_t>(value3(i)));
    }
    return out;
}

class LiveFeatFrameEncoder::Keeper final : public LuSharedBytesSource {
public:
    Keeper(LiveFeatFrameEncoder& encoder, bool withImage) : encoder_(encoder), withImage_(withImage) {}
    const LuSharedBytes& bytes() override { return encoder_.whole(withImage_); }

private:
    LiveFeatFrameEncoder& encoder_;
    bool withImage_;
};

LiveFeatFrameEncoder::Form& LiveFeatFrameEncoder::form(bool withImage) {
    Form& form = forms_[withImage ? 1 : 0];
    if (!form.prepared) {
        if (segmentBlock_.empty()) segmentBlock_ = liveFeatSegmentBlock(segments_);
        form.head = liveFeatFrameHead(timecode_, withImage ? image_ : nullptr);
        form.prepared = true;
    }
    return form;
}

size_t LiveFeatFrameEncoder::pixelCount(bool withImage) const { return withImage ? imagePixelCount(image_) : 0; }

const LuSharedBytes& LiveFeatFrameEncoder::whole(bool withImage) {
    Form& bytes = form(withImage);
    if (bytes.whole.size() == 0)
        bytes.whole = LuSharedBytes(
            joinFrame(bytes.head, withImage ? image_->pixels : nullptr, pixelCount(withImage), segmentBlock_));
    return bytes.whole;
}

LiveFeatSendResult LiveFeatFrameEncoder::sendTo(RySocketInterface& socket, LiveFeatClientStateInterface& client) {
    LiveFeatSendResult result;
    bool wantImages = client.sendImages();
    if (!client.isCameraSelected()) return result;
    // While images are on, a frame goes only with a picture and with at most one still
    // unacknowledged: that is the client's flow control.
    if (wantImages && (image_ == nullptr || client.unacknowledgedImages() > 1)) return result;
    bool withImage = wantImages && liveFeatImageFits(*image_);
    Form& bytes = form(withImage);
    LuBytePiece pieces[3] = {{bytes.head.data(), bytes.head.size()},
                             {withImage ? image_->pixels : nullptr, pixelCount(withImage)},
                             {segmentBlock_.data(), segmentBlock_.size()}};
    Keeper keeper(*this, withImage);
    // One write for the whole frame: a socket that fails it fails everything from the header
    // on, and only that is reported, as a failed segment count.
    if (!writeAllLent(socket, pieces, 3, keeper)) {
        fy::diagnostic("Failed to send segment count\n");
        result.ok = false;
        return result;
    }
    result.imageSent = withImage;
    return result;
}

LiveFeatSendResult sendLiveFeatFrame(RySocketInterface& socket, const Timecode* timecode, const ImageView* image,
                                     LiveFeatClientStateInterface& client, const SegmentListInterface& segments) {
    LiveFeatFrameEncoder encoder(timecode, image, segments);
    return encoder.sendTo(socket, client);
}

}  // namespace RyStoreProtocol
