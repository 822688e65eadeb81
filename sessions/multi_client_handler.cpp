#include "sessions/multi_client_handler.h"

#include "net/network_address.h"
#include "net/socket_functions.h"
#include "net/system_socket.h"
#include "sessions/client.h"
#include "sessions/event_loop.h"
#include "sessions/mode_table.h"
#include "sessions/realtime_fanout.h"
#include "sessions/session_services.h"
#include "sessions/status_broadcasts.h"

using Client = RyStoreMultiClientHandlerBase::Client;

// The handler's parts: the services its sessions share, the sessions and their loop, and the
// realtime clients it aggregates for the host.
struct RyStoreMultiClientHandlerBase::Impl {
    Impl(RyStoreConfigureHandlerBase& configure, const SessionModeTable& modes)
        : services(configure, modes), realtime(loop, services) {}

    SessionServices services;
    SessionEventLoop loop;
    RealtimeFanout realtime;
};

// ---- lifecycle

RyStoreMultiClientHandlerBase::RyStoreMultiClientHandlerBase(RyStoreConfigureHandlerBase& configure,
                                                             const SessionModeTable& modes)
    : impl(std::make_unique<Impl>(configure, modes)) {}

RyStoreMultiClientHandlerBase::~RyStoreMultiClientHandlerBase() = default;

bool RyStoreMultiClientHandlerBase::isAlive() { return !impl->loop.isEmpty(); }

const SessionModeTable& RyStoreMultiClientHandlerBase::modes() const { return impl->services.modes(); }

unsigned int RyStoreMultiClientHandlerBase::clientCount() const {
    return static_cast<unsigned int>(impl->loop.size());
}

bool RyStoreMultiClientHandlerBase::isRealtimeActive() const { return impl->services.realtimeActive(); }

void RyStoreMultiClientHandlerBase::setRealtimeHandler(RealtimeHandler* handler) {
    impl->services.setRealtimeHandler(handler);
    impl->realtime.announceWantedCameras();
}

void RyStoreMultiClientHandlerBase::setLiveFeatHandler(LiveFeatHandler* handler) {
    impl->services.setLiveFeatHandler(handler);
}

void RyStoreMultiClientHandlerBase::setAcquireHandler(AcquireHandler* handler) {
    impl->services.setAcquireHandler(handler);
}

void RyStoreMultiClientHandlerBase::setFeatureCamera(int camera, bool on) {
    impl->services.setFeatureCamera(camera, on);
}

void RyStoreMultiClientHandlerBase::setImageCamera(int camera, bool on) { impl->services.setImageCamera(camera, on); }

AccessPolicy& RyStoreMultiClientHandlerBase::accessPolicy() { return impl->services.access(); }

void RyStoreMultiClientHandlerBase::addClient(RySocketInterface* socket, bool mayChangeHost) {
    Client* client = new Client(*socket, impl->services, clock());
    if (!mayChangeHost) client->restrictToReading();
    impl->loop.add(client, socket);
}

// ---- the event loop

void RyStoreMultiClientHandlerBase::process() {
    checkReadiness();
    serveDueSessions();
    acceptConnections();
}

bool RyStoreMultiClientHandlerBase::checkReadiness() {
    bool work = impl->loop.checkReadiness();
    return work || impl->services.access().hasPendingReport();
}

void RyStoreMultiClientHandlerBase::serveDueSessions() {
    if (impl->loop.hasDue()) {
        impl->loop.serveDue([this](Client& client) { serve(client); });
        impl->loop.removeFinished([this](Client& client) { impl->realtime.forget(client); });
    }
    impl->realtime.stopIfIdle();
}

void RyStoreMultiClientHandlerBase::serve(Client& client) {
    if (!client.isAlive() || !impl->realtime.admit(client)) return;
    client.process();
    impl->realtime.noteReady(client);
}

// ---- broadcasts

void RyStoreMultiClientHandlerBase::distributeFrame(const RyStoreProtocol::AbstractGlobFrame& frame,
                                                   const RyStoreProtocol::Timecode& timecode,
                                                   const RyStoreProtocol::MaskInfo& masks) {
    impl->realtime.distribute(frame, timecode, masks);
}

void RyStoreMultiClientHandlerBase::distributeLiveFeatImage(int camera,
                                                            const RyStoreProtocol::SegmentListInterface& segments,
                                                            const RyStoreProtocol::ImageView* image,
                                                            const RyStoreProtocol::Timecode* timecode) {
    SessionBroadcasts::liveFeatImage(impl->loop, camera, segments, image, timecode);
}

void RyStoreMultiClientHandlerBase::rateChanged(RyStoreProtocol::RateKind kind, float value) {
    SessionBroadcasts::rateChanged(impl->loop, impl->services.config(), kind, value);
}

void RyStoreMultiClientHandlerBase::broadcastRectangularMasks(
    const LuDArray<LuNullable<LuDArray<RyRectangularMask>>>& table) {
    SessionBroadcasts::rectangularMasks(impl->loop, table);
}

void RyStoreMultiClientHandlerBase::announceSettingChanged(int camera, const LuStr& name, double value) {
    SessionBroadcasts::settingChanged(impl->loop, camera, name, value);
}

// ---- listening

void RyStoreMultiClientHandlerBase::listeningDescriptorsChanged() { impl->loop.setListeners(listeningDescriptors()); }

bool RyStoreMultiClientHandlerBase::listeningReadable(int descriptor) const {
    return impl->loop.listenerReadable(descriptor);
}

RyStoreMultiClientHandler::RyStoreMultiClientHandler(RyStoreConfigureHandlerBase& configure,
                                                     const SessionModeTable& modes)
    : RyStoreMultiClientHandlerBase(configure, modes) {}

void RyStoreMultiClientHandler::acceptConnections() {
    for (int descriptor : listening) {
        if (!listeningReadable(descriptor)) continue;
        acceptor.acceptPending(descriptor, [this](int accepted) { admit(accepted); });
    }
    accessPolicy().flush();
}

void RyStoreMultiClientHandler::admit(int descriptor) {
    LuNetworkAddress peer = LuNetworkAddress::peerOf(descriptor);
    AccessPolicy& access = accessPolicy();
    if (!access.admits(peer, clientCount())) {
        LuSocketClose(descriptor);
        return;
    }
    RySystemSocket* socket = new RySystemSocket(descriptor);
    socket->setSendFailureNotice(modes().diagnostics().failedSend);
    addClient(socket, access.controls(peer));
}

void RyStoreMultiClientHandler::addListeningSocket(int descriptor) {
    listening.append(descriptor);
    listeningDescriptorsChanged();
}

void RyStoreMultiClientHandler::clearListeningSockets() {
    listening.clear();
    listeningDescriptorsChanged();
}
