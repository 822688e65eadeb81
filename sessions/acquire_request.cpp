#include "sessions/acquire_request.h"

namespace AcquireProtocol {

AcquireRequest::Frame& AcquireParamsBuilder::frame(int field) {
    if (field + 1 > request.frames.getSize()) request.frames.setSize(field + 1);
    return request.frames[field];
}

// Fields past the request (a host that recorded more than was asked) have no flags: they go
// as their number, timecode and '0' '0'.
LuNullable<int> AcquiredDataRetriever::imageField(int field) {
    LuNullable<int> result;
    if (field >= 0 && field < frames.getSize() && frames[field].sendImages && handler.acquiredImageAvailable(id, field))
        result = field;
    return result;
}

LuNullable<int> AcquiredDataRetriever::globsField(int field) {
    LuNullable<int> result;
    if (field >= 0 && field < frames.getSize() && frames[field].sendGlobs && handler.acquiredGlobsAvailable(id, field))
        result = field;
    return result;
}

const LuDArray<RyStoreProtocol::Centroid>& AcquiredDataRetriever::centroids(int field, int camera) {
    centroidBuffer = handler.acquiredCentroids(id, field, camera);
    return centroidBuffer;
}

}  // namespace AcquireProtocol
