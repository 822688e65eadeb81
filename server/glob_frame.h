#pragma once
// The host's data of one frame or one image as the encoders read it: a frame's centroid lists
// in display coordinates, the cameras' circular masks, an image's run segments.
#include <vector>

#include "protocol/glob_interfaces.h"
#include "server/display_coordinates.h"
#include "server/server_impl.h"

namespace store {

// One frame's centroid lists, copied from the host, by host camera index. A camera the frame
// has no list for reads as a camera without globs.
class Server::Impl::GlobFrame final : public RyStoreProtocol::AbstractGlobFrame {
public:
    class GlobList;

    // Neither the host nor the lists are owned; both outlive the view.
    GlobFrame(Server& host, const std::vector<std::vector<Centroid>>& centroids)
        : host(host), centroids(centroids) {}

    int globListCount() const override { return static_cast<int>(centroids.size()); }
    void visitGlobList(int camera, RyStoreProtocol::GlobListVisitor& visitor) const override;

private:
    Server& host;
    const std::vector<std::vector<Centroid>>& centroids;
};

// One camera's centroids, converted to display coordinates as they are read.
class Server::Impl::GlobFrame::GlobList final : public RyStoreProtocol::AbstractGlobList {
public:
    GlobList(const std::vector<Centroid>& centroids, int width, int height)
        : centroids(centroids), scale(width, height) {}

    int globCount() const override { return static_cast<int>(centroids.size()); }
    RyStoreProtocol::GlobRecord centroid(int index) const override {
        return scale.toGlob(centroids[static_cast<size_t>(index)]);
    }

private:
    const std::vector<Centroid>& centroids;
    DisplayScale scale;
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
