#include "protocol/livefeat/livefeat_client_state.h"

namespace RyStoreProtocol {

namespace {

// The host camera at the subscription's position, or -1 when it holds none.
int heldCamera(const LiveFeatSubscription& held, const LuDArray<int>& cameras) {
    if (held.position.isNull()) return -1;
    int position = held.position.get();
    if (position < 0 || position >= cameras.getSize()) return -1;
    return cameras[position];
}

}  // namespace

void updateLiveFeatSubscriptions(const LiveFeatSubscription& before, const LiveFeatSubscription& after,
                                 const LuDArray<int>& cameras, LiveFeatSubscriptionCounts& counts) {
    int left = heldCamera(before, cameras);
    int taken = heldCamera(after, cameras);
    if (before.position == after.position) {
        if (taken < 0 || before.images == after.images) return;
        counts.countImages(taken, after.images);
        return;
    }
    if (left >= 0) {
        if (before.images) counts.countImages(left, false);
        counts.countFeatures(left, false);
    }
    if (taken >= 0) {
        if (after.images) counts.countImages(taken, true);
        counts.countFeatures(taken, true);
    }
}

void releaseLiveFeatSubscriptions(const LiveFeatSubscription& held, const LuDArray<int>& cameras,
                                  LiveFeatSubscriptionCounts& counts) {
    updateLiveFeatSubscriptions(held, LiveFeatSubscription{}, cameras, counts);
}

LiveFeatSendResult sendLiveFeatFrameToClient(RySocketInterface& socket, const LuDArray<int>& cameras,
                                             LiveFeatClientState& state, int hostCamera,
                                             LiveFeatFrameEncoder& frame) {
    LiveFeatSubscription held = LiveFeatSubscription::of(state);
    if (!held.position.isNull() && heldCamera(held, cameras) != hostCamera) return {};
    LiveFeatClientStateWrapper client(state);
    LiveFeatSendResult result = frame.sendTo(socket, client);
    if (result.imageSent) ++state.unacknowledgedImages;
    return result;
}

}  // namespace RyStoreProtocol
