#pragma once
// The host's data of one frame as the encoders read it: a frame's centroid lists in display
// coordinates and the cameras' circular masks.
#include <vector>

#include "protocol/frames/glob_interfaces.h"
#include "server/display_coordinates.h"
#include "server/host_interface.h"
#include "server/server_core.h"

namespace store {

// One frame's centroid lists, copied from the host and converted to display coordinates at
// once, by host camera index: the copy outlives the host's buffers, and every client view
// reads the same converted records. A camera the frame has no list for reads as a camera
// without globs.
class GlobFrame final : public RyStoreProtocol::AbstractGlobFrame {
public:
    class GlobList;

    GlobFrame() = default;
    // Replaces the frame's lists with a host frame (anything with `centroids`, one list of
    // points with x and y in image pixels per camera); the lists' storage is reused from one
    // frame to the next. The host (anything with the image size callbacks) is asked for the
    // image size of every camera with centroids.
    template <class Host, class HostFrame>
    void copyFrom(Host& host, const HostFrame& frame);

    int globListCount() const override { return static_cast<int>(lists.size()); }
    void visitGlobList(int camera, RyStoreProtocol::GlobListVisitor& visitor) const override;

private:
    std::vector<std::vector<RyStoreProtocol::GlobRecord>> lists;
};

// One camera's centroids in display coordinates.
class GlobFrame::GlobList final : public RyStoreProtocol::AbstractGlobList {
public:
    explicit GlobList(const std::vector<RyStoreProtocol::GlobRecord>& list) : list(list) {}

    int globCount() const override { return static_cast<int>(list.size()); }
    RyStoreProtocol::GlobRecord centroid(int index) const override { return list[static_cast<size_t>(index)]; }
    const RyStoreProtocol::GlobRecord* records() const override { return list.data(); }

private:
    const std::vector<RyStoreProtocol::GlobRecord>& list;
};

// The circular masks of every host camera for one frame. A camera outside the table has none.
class ServerCore::MaskInfo final : public RyStoreProtocol::MaskInfo {
public:
    explicit MaskInfo(const LuDArray<LuDArray<RyCircularMask>>& table) : table(table) {}

    const LuDArray<RyCircularMask>& circularMasks(int camera) const override;
    bool isFullyMasked(int) const override { return false; }

private:
    const LuDArray<LuDArray<RyCircularMask>>& table;
};

template <class Host, class HostFrame>
void GlobFrame::copyFrom(Host& host, const HostFrame& frame) {
    lists.resize(frame.centroids.size());
    for (size_t camera = 0; camera < lists.size(); ++camera) {
        const auto& from = frame.centroids[camera];
        std::vector<RyStoreProtocol::GlobRecord>& to = lists[camera];
        to.resize(from.size());
        if (from.empty()) continue;
        int index = static_cast<int>(camera);
        DisplayScale scale(host.cameraImageWidth(index), host.cameraImageHeight(index));
        scale.toGlobs(from.data(), from.size(), to.data());
    }
}

}  // namespace store
