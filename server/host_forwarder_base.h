#pragma once
// What every public server class's implementation object shares: it owns the server core and
// answers the host interface by forwarding to the host's own callbacks. This template forwards
// the callbacks every public class has (the realtime and camera-configuration ones); each
// library's Server::Impl derives from it and answers the rest.
#include <vector>

#include "server/glob_frame.h"
#include "server/host_interface.h"
#include "server/server_core.h"

namespace store {

template <class PublicServer>
class HostForwarderBase : public HostInterface {
public:
    ServerCore& server() { return core; }

    void reportError(const std::string& message) override { host.reportError(message); }
    void reportWarning(const std::string& message) override { host.reportWarning(message); }

    int cameraCount() override { return host.cameraCount(); }
    int cameraThreshold(int camera) override { return host.cameraThreshold(camera); }
    bool setCameraThreshold(int camera, int threshold) override { return host.setCameraThreshold(camera, threshold); }
    float cameraPixelAspectRatio(int camera) override { return host.cameraPixelAspectRatio(camera); }
    std::vector<RyCircularMask> cameraCircularMasks(int camera) override {
        std::vector<RyCircularMask> masks;
        for (const auto& mask : host.cameraCircularMasks(camera)) masks.push_back(RyCircularMask{mask.x, mask.y, mask.radius});
        return masks;
    }
    void setCameraCircularMasks(int camera, const std::vector<RyCircularMask>& masks) override {
        std::vector<typename PublicServer::CircularMask> hostMasks;
        hostMasks.reserve(masks.size());
        for (const RyCircularMask& mask : masks) hostMasks.push_back({mask.x, mask.y, mask.radius});
        host.setCameraCircularMasks(camera, hostMasks);
    }
    std::string cameraName(int camera) override { return host.cameraName(camera); }
    int cameraImageWidth(int camera) override { return host.cameraImageWidth(camera); }
    int cameraImageHeight(int camera) override { return host.cameraImageHeight(camera); }

    void realtimeStarting() override { host.realtimeStarting(); }
    bool frameAvailable() override { return host.frameAvailable(); }
    bool copyCurrentFrame(GlobFrame& into, RyStoreProtocol::Timecode& timecode) override {
        const typename PublicServer::Frame* frame = host.currentFrame();
        if (!frame) return false;
        for (size_t i = 0; i < timecode.size(); ++i) timecode[i] = static_cast<uint32_t>(frame->timecode[i]);
        into.copyFrom(*this, *frame);
        return true;
    }
    void startRealtime() override { host.startRealtime(); }
    void stopRealtime() override { host.stopRealtime(); }

protected:
    // The core is made here but calls no host callback before the host's first call into it,
    // when the whole object exists.
    HostForwarderBase(PublicServer& host, const SessionModeTable& modes) : host(host), core(*this, modes) {}
    ~HostForwarderBase() = default;

    PublicServer& host;

private:
    // Last: it is destroyed first, while the forwarder it calls is still whole.
    ServerCore core;
};

}  // namespace store
