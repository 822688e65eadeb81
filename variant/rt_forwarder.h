#pragma once
// libframeyard-rt's implementation object behind the store::Server of <frameyard/server_rt.h>:
// the server core, and the host interface answered from the host's 18 callbacks. What that
// class has no callback for is answered here: no number settings, no rectangular masks, no
// acquisition image regions. There are no live-feature or acquisition sessions to serve: the
// mode table has none.
#include <frameyard/server_rt.h>

#include <vector>

#include "server/host_forwarder_base.h"

class SessionModeTable;

namespace store {

// The modes of libframeyard-rt: realtime, configure and the command exchange.
const SessionModeTable& realtimeOnlyModes();

// Hidden explicitly: a nested class takes the visibility of the exported class around it, and
// nothing of the implementation may leave the library.
class __attribute__((visibility("hidden"))) Server::Impl final : public HostForwarderBase<Server> {
public:
    explicit Impl(Server& host) : HostForwarderBase(host, realtimeOnlyModes()) {}

    std::vector<NumberSetting> cameraNumberSettings(int) override { return {}; }
    bool changeCameraSetting(int, const std::string&, float) override { return false; }
    bool cameraSupportsRectangularMasks(int) override { return false; }
    std::vector<RectangularMask> cameraRectangularMasks(int) override { return {}; }
    void addCameraRectangularMask(int, const RectangularMask&) override {}
    void deleteCameraRectangularMask(int, const RectangularMask&) override {}
    bool describesAcquisitionRegions() override { return false; }
};

}  // namespace store
