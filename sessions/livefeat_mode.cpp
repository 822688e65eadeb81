#include "sessions/livefeat_mode.h"

#include "protocol/configure/configure_handler.h"
#include "protocol/livefeat/livefeat_protocol.h"
#include "protocol/messages/status_messages.h"
#include "sessions/session_services.h"
#include "toolkit/diagnostics.h"

namespace {

// The server-wide subscription counts, which tell the host of a camera's first and last
// live-feature client.
class ServiceCounts final : public RyStoreProtocol::LiveFeatSubscriptionCounts {
public:
    explicit ServiceCounts(SessionServices& services) : services(services) {}
    void countFeatures(int camera, bool on) override { services.setFeatureCamera(camera, on); }
    void countImages(int camera, bool on) override { services.setImageCamera(camera, on); }

private:
    SessionServices& services;
};

}  // namespace

LiveFeatMode::~LiveFeatMode() { releaseSubscriptions(); }

bool LiveFeatMode::start() {
    SessionServices& services = session.services();
    if (services.liveFeatHandler() == nullptr) {
        fy::diagnostic("Features mode not supported\n");
        return false;
    }
    // What the client asked for through the command exchange applies to this stream.
    if (services.configureHandler().supportsClientConfig()) {
        const RyStoreProtocol::ClientConfiguration& wanted = session.clientConfiguration();
        client.messagesEnabled = wanted.livefeatMessages;
        if (!wanted.wantedCameras.isNull()) session.cameras() = wanted.wantedCameras.get();
    }
    // Frames go out as the host produces them; a small segments-only frame must not wait for
    // the client's acknowledgement of the one before.
    session.socket().setNoDelay();
    return true;
}

bool LiveFeatMode::step() {
    SessionServices& services = session.services();
    RyStoreProtocol::LiveFeatSubscription before = RyStoreProtocol::LiveFeatSubscription::of(client);
    RyStoreProtocol::LiveFeatClientStateWrapper view(client);
    int commands = 0;
    bool open = RyStoreProtocol::checkLiveFeatInputFromClient(session.socket(), session.cameras(), session.config(),
                                                              view, &commands);
    ServiceCounts counts(services);
    RyStoreProtocol::updateLiveFeatSubscriptions(before, RyStoreProtocol::LiveFeatSubscription::of(client),
                                                 session.cameras(), counts);
    if (open) return commands > 0;
    // The host stops producing live features for cameras no remaining client watches.
    releaseSubscriptions();
    next_ = Next::exit;
    return true;
}

void LiveFeatMode::releaseSubscriptions() {
    if (released) return;
    released = true;
    ServiceCounts counts(session.services());
    RyStoreProtocol::releaseLiveFeatSubscriptions(RyStoreProtocol::LiveFeatSubscription::of(client),
                                                  session.cameras(), counts);
}

bool LiveFeatMode::sendMessage(const LuStr& text) {
    if (!running()) return true;
    return RyStoreProtocol::sendLiveFeatMessage(session.socket(), text);
}

bool LiveFeatMode::monitorEnabled(int kind) const {
    return running() && kind == RyStoreProtocol::rectangularMasksMonitor && client.masksMonitor;
}
