#include "server/full/host_forwarder.h"

#include "protocol/frames/frame_format.h"
#include "server/display_coordinates.h"

namespace store {

Server::Impl::Impl(Server& host) : HostForwarderBase(host, fullServerModes()), images(host, server().clientHandlerObject()) {
    server().clientHandlerObject().setLiveFeatHandler(&images);
    server().clientHandlerObject().setAcquireHandler(this);
    server().setPumpStage(&images);
}

// ---- cameras

std::vector<HostInterface::NumberSetting> Server::Impl::cameraNumberSettings(int camera) {
    std::vector<NumberSetting> settings;
    for (const Server::NumberSetting& setting : host.cameraNumberSettings(camera))
        settings.push_back(NumberSetting{setting.name, setting.value, setting.minimum, setting.maximum, setting.precision});
    return settings;
}

std::vector<HostInterface::RectangularMask> Server::Impl::cameraRectangularMasks(int camera) {
    std::vector<RectangularMask> masks;
    for (const Server::RectangularMask& mask : host.cameraRectangularMasks(camera))
        masks.push_back(RectangularMask{mask.x, mask.y, mask.width, mask.height});
    return masks;
}

void Server::Impl::addCameraRectangularMask(int camera, const RectangularMask& mask) {
    host.addCameraRectangularMask(camera, Server::RectangularMask{mask.x, mask.y, mask.width, mask.height});
}

void Server::Impl::deleteCameraRectangularMask(int camera, const RectangularMask& mask) {
    host.deleteCameraRectangularMask(camera, Server::RectangularMask{mask.x, mask.y, mask.width, mask.height});
}

// ---- acquisitions

void Server::Impl::setAcquireRequest(int id, const AcquireProtocol::Frames& frames) {
    std::vector<AcquireFrame> fields;
    fields.reserve(size_t(frames.getSize()));
    for (const AcquireProtocol::AcquireRequest::Frame& frame : frames) fields.push_back(AcquireFrame{frame.sendGlobs, frame.sendImages});
    host.setAcquireRequest(id, fields);
}

LuNullable<RyStoreProtocol::Timecode> Server::Impl::acquiredTimecode(int id, int field) {
    LuNullable<RyStoreProtocol::Timecode> result;
    if (!host.acquiredTimecodeAvailable(id, field)) return result;
    Server::Timecode components = host.acquiredTimecode(id, field);
    RyStoreProtocol::Timecode timecode{};
    for (size_t i = 0; i < timecode.size(); ++i) timecode[i] = static_cast<uint32_t>(components[i]);
    result = timecode;
    return result;
}

RyStoreProtocol::ImageView Server::Impl::acquiredImage(int id, int field, int camera) {
    Server::AcquiredImage image = host.acquiredImage(id, field, camera);
    return RyStoreProtocol::ImageView{image.width, image.height, image.pixels};
}

LuDArray<RyStoreProtocol::Centroid> Server::Impl::acquiredCentroids(int id, int field, int camera) {
    std::vector<Server::Centroid> centroids = host.acquiredCentroids(id, field, camera);
    DisplayScale scale(host.cameraImageWidth(camera), host.cameraImageHeight(camera));
    LuDArray<RyStoreProtocol::Centroid> out;
    out.setSize(int(centroids.size()));
    for (size_t i = 0; i < centroids.size(); ++i) out[int(i)] = RyStoreProtocol::toCentroid(scale.toGlob(centroids[i]));
    return out;
}

}  // namespace store
