#pragma once
// libframeyard's live images: which cameras live-feature clients have selected (the host is told
// through its features-wanted and images-wanted flags), and the stage of the event pump that
// hands every available image of those cameras, in ascending camera order, to the live-feature
// sessions and releases it to the host within the same call.
#include <frameyard/server.h>

#include <vector>

#include "server/server_core.h"
#include "sessions/multi_client_handler.h"
#include "toolkit/lu_array.h"

namespace store {

class LiveImages final : public ServerCore::PumpStage, public RyStoreMultiClientHandlerBase::LiveFeatHandler {
public:
    // Neither is owned.
    LiveImages(Server& host, RyStoreMultiClientHandlerBase& clients) : host(host), clients(clients) {}

    void setFeaturesWanted(int camera, bool on) override;
    void setImagesWanted(int camera, bool on) override { host.setCameraImagesWanted(camera, on); }

    void run() override;

    // Cameras some live-feature client has selected: ascending, no duplicates.
    const LuDArray<int>& featuresWanted() const { return wanted; }

private:
    // Hands one camera's image to the clients while the host's buffers are valid.
    void handOver(int camera, const Server::Image& image);

    Server& host;
    RyStoreMultiClientHandlerBase& clients;
    LuDArray<int> wanted;
    LuDArray<int> handing;  // run()'s copy of `wanted`
};

// The host's segment records in wire order (second, first, third value); no list is an empty one.
class SegmentsWrapper final : public RyStoreProtocol::SegmentListInterface {
public:
    explicit SegmentsWrapper(const std::vector<Server::Segment>* segments) : segments(segments) {}

    int segmentCount() const override;
    unsigned int value1(int index) const override { return at(index).values[1]; }
    unsigned int value2(int index) const override { return at(index).values[0]; }
    unsigned int value3(int index) const override { return at(index).values[2]; }
    uint8_t* storeSegments(uint8_t* out, int count) const override;

private:
    const Server::Segment& at(int index) const { return (*segments)[static_cast<size_t>(index)]; }

    const std::vector<Server::Segment>* segments;
};

}  // namespace store
