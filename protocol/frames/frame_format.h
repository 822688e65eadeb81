#pragma once
// The bytes written to streaming clients: realtime frames (per-camera centroid lists, an
// optional timecode), live-feature frames (run segments, an optional image) and the framing of
// JSON messages inside both streams. Every integer is big-endian.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/socket_interface.h"
#include "protocol/frames/centroid_store.h"
#include "protocol/frames/glob_interfaces.h"
#include "protocol/common/records.h"
#include "toolkit/lu_array.h"
#include "toolkit/lu_str.h"

namespace RyStoreProtocol {

// A camera contributes at most this many centroids to one frame.
constexpr int maxCentroidsPerCamera = 2000;
// The largest image side and segment count the live-feature wire can carry: sides travel as
// u16, and a segment count of 0xFFFF would read as a header marker.
constexpr int maxImageSide = 65535;
constexpr int maxSegmentsPerFrame = 65534;
// The live-feature item marker that introduces a header instead of a segment block.
constexpr uint16_t liveFeatHeaderMarker = 0xFFFF;

Centroid toCentroid(const GlobRecord& record);

// The frame as one client sees it: camera i of the view is position i of the client's camera
// list. Neither the frame nor the list is owned; positions are not range-checked.
class ClientGlobs final : public AbstractGlobFrame {
public:
    ClientGlobs(const AbstractGlobFrame& frame, const LuDArray<int>& cameras)
        : frame_(frame), cameras_(cameras) {}
    int globListCount() const override { return cameras_.getSize(); }
    void visitGlobList(int position, GlobListVisitor& visitor) const override {
        frame_.visitGlobList(cameras_[position], visitor);
    }

private:
    const AbstractGlobFrame& frame_;
    const LuDArray<int>& cameras_;
};

// The circular masks as one client sees them, by position in its camera list.
class ClientMaskInfo final : public MaskInfo {
public:
    ClientMaskInfo(const MaskInfo& masks, const LuDArray<int>& cameras) : masks_(masks), cameras_(cameras) {}
    const LuDArray<RyCircularMask>& circularMasks(int position) const override {
        return masks_.circularMasks(cameras_[position]);
    }
    bool isFullyMasked(int position) const override { return masks_.isFullyMasked(cameras_[position]); }

private:
    const MaskInfo& masks_;
    const LuDArray<int>& cameras_;
};

// 't' and the low byte of each timecode component.
void appendTimecodeRecord(std::vector<uint8_t>& out, const Timecode& timecode);

// One camera's glob list: the u16 count, then the kept centroids. Centroids inside a circular
// mask (the circle included) are dropped; after the 2000th kept one the rest is not looked at.
void appendGlobList(std::vector<uint8_t>& out, const AbstractGlobList& globs,
                    const LuDArray<RyCircularMask>& masks, bool compact);

// A whole realtime frame as it goes on the wire: with `tagged` (the client enabled realtime
// messages) 'f' and the u32 body length come first. The bytes depend only on the frame, the
// timecode, the masks and the three flags, so clients that share a view can share the bytes.
std::vector<uint8_t> encodeRealtimeFrame(const AbstractGlobFrame& frame, const Timecode& timecode,
                                         const MaskInfo& masks, bool compact, bool timecodes, bool tagged);

// Hands every byte to the socket. A socket that fails, or takes nothing, fails the write: the
// session sockets always take every byte, and nothing here may wait for a client.
bool writeAll(RySocketInterface& socket, const void* data, size_t length);

// 'm', u32 length, the text.
std::vector<uint8_t> realtimeMessageBytes(const LuStr& text);
// 0xFFFF, header length 1, 'm', u32 length, the text.
std::vector<uint8_t> liveFeatMessageBytes(const LuStr& text);
bool sendRealtimeMessage(RySocketInterface& socket, const LuStr& text);
bool sendLiveFeatMessage(RySocketInterface& socket, const LuStr& text);

// The live-feature client's state as the protocol and the frame writer see it.
class LiveFeatClientStateInterface {
public:
    virtual void setMasksMonitor(bool on) = 0;
    virtual void clearSelectedCamera() = 0;
    virtual void selectCamera(int position) = 0;
    virtual bool isCameraSelected() const = 0;
    virtual int& unacknowledgedImages() = 0;
    virtual void setSendImages(bool on) = 0;
    virtual bool sendImages() const = 0;

protected:
    ~LiveFeatClientStateInterface() = default;
};

struct LiveFeatSendResult {
    bool ok = true;          // false only when the segment count could not be written
    bool imageSent = false;  // the caller counts it as one more unacknowledged image
};

// The bytes of one live-feature frame: the header item when there is a timecode or a picture,
// then the segment block. The picture must fit the wire (liveFeatImageFits); more than 65534
// segments are cut to 65534.
std::vector<uint8_t> encodeLiveFeatFrame(const Timecode* timecode, const ImageView* image,
                                         const SegmentListInterface& segments);
// Whether the wire can describe the picture: both sides 0 to 65535, and pixels unless empty.
bool liveFeatImageFits(const ImageView& image);

// One host image as every live-feature client receives it. The two forms a client can get
// (with the picture, without it) are each prepared once, when first needed, and written whole
// to each client: the picture goes out straight from the host's buffer, and only when some
// client cannot take a form at once is that form copied, once, into shared bytes that every
// such client holds by reference.
class LiveFeatFrameEncoder {
public:
    // Nothing is owned; a null timecode or image means none.
    LiveFeatFrameEncoder(const Timecode* timecode, const ImageView* image, const SegmentListInterface& segments)
        : timecode_(timecode), image_(image), segments_(segments) {}
    LiveFeatFrameEncoder(const LiveFeatFrameEncoder&) = delete;
    LiveFeatFrameEncoder& operator=(const LiveFeatFrameEncoder&) = delete;

    // Writes the frame in this client's form under its image flow control: nothing without a
    // selection; while images are on, nothing without a picture or with two pictures
    // unacknowledged; the picture only while images are on and only when the wire can carry it.
    // The caller counts a sent picture as unacknowledged.
    LiveFeatSendResult sendTo(RySocketInterface& socket, LiveFeatClientStateInterface& client);
    // How many forms were prepared so far (0 to 2).
    int encodedForms() const { return (forms_[0].prepared ? 1 : 0) + (forms_[1].prepared ? 1 : 0); }

private:
    // A form is lent to sockets as its header item up to the pixels, the pixels, and the
    // segment block, which both forms share.
    struct Form {
        bool prepared = false;
        std::vector<uint8_t> head;
        LuSharedBytes whole;  // made when a client must keep part of the form
    };
    class Keeper;

    Form& form(bool withImage);
    size_t pixelCount(bool withImage) const;
    const LuSharedBytes& whole(bool withImage);

    const Timecode* timecode_;
    const ImageView* image_;
    const SegmentListInterface& segments_;
    Form forms_[2];
    std::vector<uint8_t> segmentBlock_;
};

// Writes one live-feature frame for one client (a LiveFeatFrameEncoder used once). A null
// timecode or image means none. An image the wire cannot describe (a side above 65535, a
// negative side, no pixels) is left out and the frame goes without it; more than 65534
// segments are cut to 65534.
LiveFeatSendResult sendLiveFeatFrame(RySocketInterface& socket, const Timecode* timecode, const ImageView* image,
                                     LiveFeatClientStateInterface& client, const SegmentListInterface& segments);

}  // namespace RyStoreProtocol
