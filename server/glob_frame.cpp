#include "server/glob_frame.h"

#include <climits>

namespace store {

void Server::Impl::GlobFrame::copyFrom(Server& host, const Frame& frame) {
    lists.resize(frame.centroids.size());
    for (size_t camera = 0; camera < lists.size(); ++camera) {
        const std::vector<Centroid>& from = frame.centroids[camera];
        std::vector<RyStoreProtocol::GlobRecord>& to = lists[camera];
        to.resize(from.size());
        if (from.empty()) continue;
        int index = static_cast<int>(camera);
        DisplayScale scale(host.cameraImageWidth(index), host.cameraImageHeight(index));
        for (size_t i = 0; i < from.size(); ++i) to[i] = scale.toGlob(from[i]);
    }
}

void Server::Impl::GlobFrame::visitGlobList(int camera, RyStoreProtocol::GlobListVisitor& visitor) const {
    static const std::vector<RyStoreProtocol::GlobRecord> none;
    bool inFrame = camera >= 0 && static_cast<size_t>(camera) < lists.size();
    GlobList list(inFrame ? lists[static_cast<size_t>(camera)] : none);
    visitor.visit(list);
}

const LuDArray<RyCircularMask>& Server::Impl::MaskInfo::circularMasks(int camera) const {
    static const LuDArray<RyCircularMask> none;
    if (camera < 0 || camera >= table.getSize()) return none;
    return table[camera];
}

int SegmentsWrapper::segmentCount() const {
    if (!segments) return 0;
    return segments->size() > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(segments->size());
}

}  // namespace store
