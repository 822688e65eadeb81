#include "server/full/acquire_adapter.h"

#include <vector>

#include "protocol/frames/frame_format.h"
#include "server/display_coordinates.h"

namespace store {

void AcquireModeHandler::setAcquireRequest(int id, const Frames& frames) {
    std::vector<HostInterface::AcquireField> fields;
    fields.reserve(size_t(frames.getSize()));
    for (const auto& frame : frames) fields.push_back({frame.sendGlobs, frame.sendImages});
    host.setAcquireRequest(id, fields);
}

LuNullable<RyStoreProtocol::Timecode> AcquireModeHandler::acquiredTimecode(int id, int field) {
    LuNullable<RyStoreProtocol::Timecode> result;
    if (!host.acquiredTimecodeAvailable(id, field)) return result;
    HostInterface::Timecode components = host.acquiredTimecode(id, field);
    RyStoreProtocol::Timecode timecode{};
    for (size_t i = 0; i < timecode.size(); ++i) timecode[i] = static_cast<uint32_t>(components[i]);
    result = timecode;
    return result;
}

RyStoreProtocol::ImageView AcquireModeHandler::acquiredImage(int id, int field, int camera) {
    HostInterface::AcquiredImage image = host.acquiredImage(id, field, camera);
    return RyStoreProtocol::ImageView{image.width, image.height, image.pixels};
}

LuDArray<RyStoreProtocol::Centroid> AcquireModeHandler::acquiredCentroids(int id, int field, int camera) {
    std::vector<HostInterface::Centroid> centroids = host.acquiredCentroids(id, field, camera);
    DisplayScale scale(host.cameraImageWidth(camera), host.cameraImageHeight(camera));
    LuDArray<RyStoreProtocol::Centroid> out;
    out.setSize(int(centroids.size()));
    for (size_t i = 0; i < centroids.size(); ++i) out[int(i)] = RyStoreProtocol::toCentroid(scale.toGlob(centroids[i]));
    return out;
}

}  // namespace store
