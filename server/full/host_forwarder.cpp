#include "server/full/host_forwarder.h"

#include <climits>

#include "server/glob_frame.h"

namespace store {

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

std::vector<RyCircularMask> Server::Impl::cameraCircularMasks(int camera) {
    std::vector<RyCircularMask> masks;
    for (const Server::CircularMask& mask : host.cameraCircularMasks(camera))
        masks.push_back(RyCircularMask{mask.x, mask.y, mask.radius});
    return masks;
}

void Server::Impl::setCameraCircularMasks(int camera, const std::vector<RyCircularMask>& masks) {
    std::vector<Server::CircularMask> hostMasks;
    hostMasks.reserve(masks.size());
    for (const RyCircularMask& mask : masks) hostMasks.push_back(Server::CircularMask{mask.x, mask.y, mask.radius});
    host.setCameraCircularMasks(camera, hostMasks);
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

bool Server::Impl::copyCurrentFrame(GlobFrame& into, RyStoreProtocol::Timecode& timecode) {
    const Frame* frame = host.currentFrame();
    if (!frame) return false;
    for (size_t i = 0; i < timecode.size(); ++i) timecode[i] = static_cast<uint32_t>(frame->timecode[i]);
    into.copyFrom(*this, *frame);
    return true;
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

int SegmentsWrapper::segmentCount() const {
    if (!segments) return 0;
    return segments->size() > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(segments->size());
}

}  // namespace store
