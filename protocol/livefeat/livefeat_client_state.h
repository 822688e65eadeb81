#pragma once
// A live-feature client's state (selected camera, image flag, pictures in flight, message
// flags), the view of it that the protocol and the frame writer use, and how a change of
// selection moves the client's share of the host's per-camera subscriptions.
#include <cstdint>

#include "protocol/frames/frame_format.h"
#include "toolkit/lu_array.h"
#include "toolkit/lu_nullable.h"

namespace RyStoreProtocol {

struct LiveFeatClientState {
    bool sendImages = false;
    // Set by the client's masks-monitor request; mask changes are sent only then.
    bool masksMonitor = false;
    // The connection's "enable_livefeat_messages" choice: camera messages are sent only then.
    bool messagesEnabled = false;
    // A position in the client's camera list, not a host camera.
    LuNullable<int> selectedPosition;
    int32_t unacknowledgedImages = 0;
};

struct LiveFeatClientStateParams {
    LiveFeatClientState* state;
};

// Reads and writes the record it points at; made for the length of one call.
class LiveFeatClientStateWrapper final : public LiveFeatClientStateInterface, private LiveFeatClientStateParams {
public:
    explicit LiveFeatClientStateWrapper(LiveFeatClientState& record) : LiveFeatClientStateParams{&record} {}

    void setMasksMonitor(bool on) override { state->masksMonitor = on; }
    void clearSelectedCamera() override { state->selectedPosition.setNull(); }
    void selectCamera(int position) override { state->selectedPosition = position; }
    bool isCameraSelected() const override { return !state->selectedPosition.isNull(); }
    int& unacknowledgedImages() override { return state->unacknowledgedImages; }
    void setSendImages(bool on) override { state->sendImages = on; }
    bool sendImages() const override { return state->sendImages; }
};

// What one client holds of the host's cameras: the camera of its selected position, and that
// camera's images while images are on.
struct LiveFeatSubscription {
    LuNullable<int> position;
    bool images = false;

    static LiveFeatSubscription of(const LiveFeatClientState& state) { return {state.selectedPosition, state.sendImages}; }
};

// The server-wide counts, per host camera, of clients that want its features and of those that
// want its images. Each call adds (on) or removes one client.
class LiveFeatSubscriptionCounts {
public:
    virtual void countFeatures(int camera, bool on) = 0;
    virtual void countImages(int camera, bool on) = 0;

protected:
    ~LiveFeatSubscriptionCounts() = default;
};

// Moves the client's share of the counts from what it held to what it holds now. A camera left
// loses its images before its features; a camera taken gains its images before its features.
// With the same selection only the image share changes. Positions outside the camera list
// hold nothing.
void updateLiveFeatSubscriptions(const LiveFeatSubscription& before, const LiveFeatSubscription& after,
                                 const LuDArray<int>& cameras, LiveFeatSubscriptionCounts& counts);
// Gives up everything the client holds (its session is over).
void releaseLiveFeatSubscriptions(const LiveFeatSubscription& held, const LuDArray<int>& cameras,
                                  LiveFeatSubscriptionCounts& counts);

// The live-feature frame dispatch for one client: a frame of another host camera than the
// client's selected one is not for it; otherwise the frame goes through the encoder under the
// client's flow control, and a picture sent is counted as unacknowledged.
LiveFeatSendResult sendLiveFeatFrameToClient(RySocketInterface& socket, const LuDArray<int>& cameras,
                                             LiveFeatClientState& state, int hostCamera,
                                             LiveFeatFrameEncoder& frame);

}  // namespace RyStoreProtocol
