#pragma once
// The host's data of one frame or one image as the encoders read it: a frame's centroid lists
// in display coordinates, the cameras' circular masks, an image's run segments.
#include <vector>

#include "protocol/frames/glob_interfaces.h"
#include "server/display_coordinates.h"
#include "server/server_impl.h"

namespace store {

// One frame's centroid lists, copied from the host and converted to display coordinates at
// once, by host camera index: the copy outlives the host's buffers, and every client view
// reads the same converted records. A camera the frame has no list for reads as a camera
// without globs.
class Server::Impl::GlobFrame final : public RyStoreProtocol::AbstractGlobFrame {
public:
    class GlobList;

    GlobFrame() = default;
    // Replaces the frame's lists with the host's frame; the lists' storage is reused from one
    // frame to the next. The host is asked for the image size of every camera with centroids.
    void copyFrom(Server& host, const Frame& frame);

    int globListCount() const override { return static_cast<int>(lists.size()); }
    void visitGlobList(int camera, RyStoreProtocol::GlobListVisitor& visitor) const override;

private:
    std::vector<std::vector<RyStoreProtocol::GlobRecord>> lists;
};

// One camera's centroids in display coordinates.
class Server::Impl::GlobFrame::GlobList final : public RyStoreProtocol::AbstractGlobList {
public:
    explicit GlobList(const std::vector<RyStoreProtocol::GlobRecord>& list) : list(list) {}

    int globCount() const override { return static_cast<int>(list.size()); }
    RyStoreProtocol::GlobRecord centroid(int index) const override { return list[static_cast<size_t>(index)]; }
    const RyStoreProtocol::GlobRecord* records() const override { return list.data(); }

private:
    const std::vector<RyStoreProtocol::GlobRecord>& list;
};

// The circular masks of every host camera for one frame. A camera outside the table has none.
class Server::Impl::MaskInfo final : public RyStoreProtocol::MaskInfo {
public:
    explicit MaskInfo(const LuDArray<LuDArray<RyCircularMask>>& table) : table(table) {}

    const LuDArray<RyCircularMask>& circularMasks(int camera) const override;
    bool isFullyMasked(int) const override { return false; }

private:
    const LuDArray<LuDArray<RyCircularMask>>& table;
};

// The host's segment records in wire order (second, first, third value); no list is an empty one.
class SegmentsWrapper final : public RyStoreProtocol::SegmentListInterface {
public:
    explicit SegmentsWrapper(const std::vector<Server::Segment>* segments) : segments(segments) {}

    int segmentCount() const override;
    unsigned int value1(int index) const override { return at(index).values[1]; }
    unsigned int value2(int index) const override { return at(index).values[0]; }
    unsigned int value3(int index) const override { return at(index).values[2]; }

private:
    const Server::Segment& at(int index) const { return (*segments)[static_cast<size_t>(index)]; }

    const std::vector<Server::Segment>* segments;
};

}  // namespace store
