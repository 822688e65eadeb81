#include "server/glob_frame.h"

namespace store {

void GlobFrame::visitGlobList(int camera, RyStoreProtocol::GlobListVisitor& visitor) const {
    static const std::vector<RyStoreProtocol::GlobRecord> none;
    bool inFrame = camera >= 0 && static_cast<size_t>(camera) < lists.size();
    GlobList list(inFrame ? lists[static_cast<size_t>(camera)] : none);
    visitor.visit(list);
}

const LuDArray<RyCircularMask>& ServerCore::MaskInfo::circularMasks(int camera) const {
    static const LuDArray<RyCircularMask> none;
    if (camera < 0 || camera >= table.getSize()) return none;
    return table[camera];
}

}  // namespace store
