#include "server/full/host_forwarder.h"

#include <climits>

#include "protocol/common/byte_order.h"

namespace store {

Server::Impl::Impl(Server& host)
    : HostForwarderBase(host, fullServerModes()), images(*this, server().clientHandlerObject()), acquisitions(*this) {
    server().clientHandlerObject().setLiveFeatHandler(&images);
    server().clientHandlerObject().setAcquireHandler(&acquisitions);
    server().setPumpStage(&images);
}

namespace {

Server::RectangularMask toHost(const HostInterface::RectangularMask& mask) {
    return Server::RectangularMask{mask.x, mask.y, mask.width, mask.height};
}

}  // namespace

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
    host.addCameraRectangularMask(camera, toHost(mask));
}

void Server::Impl::deleteCameraRectangularMask(int camera, const RectangularMask& mask) {
    host.deleteCameraRectangularMask(camera, toHost(mask));
}

void Server::Impl::takeCameraImage(int camera, ImageReceiver& receiver) {
    Image image = host.cameraImage(camera);
    SegmentsWrapper segments(image.segments);
    CameraImage view{&segments, image.pixels ? image.pixels->data() : nullptr,
                     image.pixels ? image.pixels->size() : 0, image.timecode};
    receiver.receive(view);
}

void Server::Impl::setAcquireRequest(int acquisition, const std::vector<AcquireField>& fields) {
    std::vector<AcquireFrame> frames;
    frames.reserve(fields.size());
    for (const AcquireField& field : fields) frames.push_back(AcquireFrame{field.sendGlobs, field.sendImages});
    host.setAcquireRequest(acquisition, frames);
}

HostInterface::AcquiredImage Server::Impl::acquiredImage(int acquisition, int field, int camera) {
    Server::AcquiredImage image = host.acquiredImage(acquisition, field, camera);
    return AcquiredImage{image.width, image.height, image.pixels};
}

std::vector<HostInterface::Centroid> Server::Impl::acquiredCentroids(int acquisition, int field, int camera) {
    std::vector<Centroid> centroids;
    for (const Server::Centroid& centroid : host.acquiredCentroids(acquisition, field, camera))
        centroids.push_back(Centroid{centroid.x, centroid.y});
    return centroids;
}

uint8_t* SegmentsWrapper::storeSegments(uint8_t* out, int count) const {
    const Server::Segment* records = segments ? segments->data() : nullptr;
    for (int i = 0; i < count; ++i) {
        const unsigned int* values = records[i].values;
        out = RyStoreProtocol::storeU16(out, static_cast<uint16_t>(values[1]));
        out = RyStoreProtocol::storeU16(out, static_cast<uint16_t>(values[0]));
        out = RyStoreProtocol::storeU16(out, static_cast<uint16_t>(values[2]));
    }
    return out;
}

int SegmentsWrapper::segmentCount() const {
    if (!segments) return 0;
    return segments->size() > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(segments->size());
}

}  // namespace store
