#include "protocol/frames/frame_format.h"

#include <cstdint>

#include "protocol/common/byte_order.h"
#include "toolkit/diagnostics.h"

namespace RyStoreProtocol {

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

// How many of a list's centroids a frame can carry.
inline int mostKept(int available) {
    return available < 0 ? 0 : available < maxCentroidsPerCamera ? available : maxCentroidsPerCamera;
}

inline uint8_t* storeCentroids(uint8_t* at, const GlobRecord* records, int count, bool compact) {
    return compact ? storeCompactCentroids(at, records, count) : storeFullCentroids(at, records, count);
}

// A list held in one array. Each run of centroids between masked ones goes to the list stores
// whole, so that a mask costs its test per centroid but no call per centroid.
int storeKeptRecords(uint8_t* at, const GlobRecord* records, int available, const LuDArray<RyCircularMask>& masks,
                     bool compact) {
    int kept = 0, runStart = 0, i = 0;
    for (; i < available && kept + (i - runStart) < maxCentroidsPerCamera; ++i) {
        if (!insideAnyMask(records[i], masks)) continue;
        at = storeCentroids(at, records + runStart, i - runStart, compact);
        kept += i - runStart;
        runStart = i + 1;
    }
    storeCentroids(at, records + runStart, i - runStart, compact);
    return kept + (i - runStart);
}

// Writes the kept centroids of one camera from `at` on and returns how many were kept.
int storeKeptCentroids(uint8_t* at, const AbstractGlobList& globs, const LuDArray<RyCircularMask>& masks,
                       bool compact) {
    int available = globs.globCount();
    const GlobRecord* records = globs.records();
    if (records != nullptr && masks.isEmpty()) {
        // Nothing to leave out: the first 2000 records as they are, in one loop.
        int count = mostKept(available);
        storeCentroids(at, records, count, compact);
        return count;
    }
    if (records != nullptr) return storeKeptRecords(at, records, available, masks, compact);
    // A list that hands out its centroids one at a time.
    int kept = 0;
    for (int i = 0; i < available && kept < maxCentroidsPerCamera; ++i) {
        GlobRecord record = globs.centroid(i);
        if (insideAnyMask(record, masks)) continue;
        at = storeCentroids(at, &record, 1, compact);
        ++kept;
    }
    return kept;
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

// Sums the most bytes each visited list can take: its count and every centroid it may keep.
class ListSizer final : public GlobListVisitor {
public:
    explicit ListSizer(size_t width) : width_(width) {}
    void visit(const AbstractGlobList& list) override {
        bytes += 2 + static_cast<size_t>(mostKept(list.globCount())) * width_;
        visited = true;
    }

    size_t bytes = 0;
    bool visited = false;

private:
    size_t width_;
};

// The frame's size when no centroid is masked, and otherwise more: reserved at once, so that
// the frame is built without reallocation and, unmasked, holds no slack to give back later.
size_t largestFrameSize(const AbstractGlobFrame& frame, const MaskInfo& masks, bool compact, bool timecodes,
                        bool tagged) {
    ListSizer sizer(centroidBytes(compact));
    int cameras = frame.globListCount();
    for (int camera = 0; camera < cameras; ++camera) {
        sizer.visited = false;
        if (!masks.isFullyMasked(camera)) frame.visitGlobList(camera, sizer);
        if (!sizer.visited) sizer.bytes += 2;
    }
    return (tagged ? 5 : 0) + (timecodes ? 5 : 0) + sizer.bytes;
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
    int most = mostKept(globs.globCount());
    size_t width = centroidBytes(compact);
    size_t countAt = out.size();
    // Room for every centroid that can be kept, filled in place (this runs for every camera of
    // every frame); what masks left unused is cut off below.
    out.resize(countAt + 2 + static_cast<size_t>(most) * width);
    uint8_t* at = out.data() + countAt + 2;
    int kept = storeKeptCentroids(at, globs, masks, compact);
    storeU16(out.data() + countAt, static_cast<uint16_t>(kept));
    out.resize(countAt + 2 + static_cast<size_t>(kept) * width);
}

std::vector<uint8_t> encodeRealtimeFrame(const AbstractGlobFrame& frame, const Timecode& timecode,
                                         const MaskInfo& masks, bool compact, bool timecodes, bool tagged) {
    int cameras = frame.globListCount();
    std::vector<uint8_t> out;
    out.reserve(largestFrameSize(frame, masks, compact, timecodes, tagged));
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
