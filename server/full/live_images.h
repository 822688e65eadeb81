#pragma once
// libframeyard's live images: which cameras live-feature clients have selected (the host is told
// through its features-wanted and images-wanted flags), and the stage of the event pump that
// hands every available image of those cameras, in ascending camera order, to the live-feature
// sessions and releases it to the host within the same call.
#include "server/host_interface.h"
#include "server/server_core.h"
#include "sessions/multi_client_handler.h"
#include "toolkit/lu_array.h"

namespace store {

class LiveImages final : public ServerCore::PumpStage, public RyStoreMultiClientHandlerBase::LiveFeatHandler {
public:
    LiveImages(HostInterface& host, RyStoreMultiClientHandlerBase& clients) : host(host), clients(clients) {}

    void setFeaturesWanted(int camera, bool on) override;
    void setImagesWanted(int camera, bool on) override { host.setCameraImagesWanted(camera, on); }

    void run() override;

    // Cameras some live-feature client has selected: ascending, no duplicates.
    const LuDArray<int>& featuresWanted() const { return wanted; }

private:
    class HandOver;

    HostInterface& host;
    RyStoreMultiClientHandlerBase& clients;
    LuDArray<int> wanted;
};

}  // namespace store
