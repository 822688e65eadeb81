#include "server/glob_frame.h"

#include <climits>

namespace store {

void Server::Impl::GlobFrame::visitGlobList(int camera, RyStoreProtocol::GlobListVisitor& visitor) const {
    static const std::vector<Centroid> none;
    bool inFrame = camera >= 0 && static_cast<size_t>(camera) < centroids.size();
    if (!inFrame) {
        GlobList empty(none, 0, 0);
        visitor.visit(empty);
        return;
    }
    GlobList list(centroids[static_cast<size_t>(camera)], host.cameraImageWidth(camera),
                  host.cameraImageHeight(camera));
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
