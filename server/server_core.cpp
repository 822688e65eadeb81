#include "server/server_core.h"

#include <cerrno>
#include <cstdio>

#include "net/network_address.h"
#include "server/glob_frame.h"
#include "server/host_adapters.h"
#include "sessions/access_policy.h"
#include "sessions/multi_client_handler.h"
#include "toolkit/status.h"

namespace store {

ServerCore::ServerCore(HostInterface& host, const SessionModeTable& modes)
    : host(host),
      config(new Config(*this)),
      clientHandler(new RyStoreMultiClientHandler(*config, modes)),
      realtimeHandler(new RealtimeModeHandler(host)),
      frameCopy(new GlobFrame) {
    clientHandler->setRealtimeHandler(realtimeHandler.get());
}

ServerCore::~ServerCore() {
    // This runs from the public class's destructor, when the host's own part of the object is
    // already gone: no session that ends now may reach a host callback, so the mode adapters
    // go first.
    clientHandler->setRealtimeHandler(nullptr);
    clientHandler->setLiveFeatHandler(nullptr);
    clientHandler->setAcquireHandler(nullptr);
    pumpStage = nullptr;
    cameraIndices.clear();
    clientHandler.reset();
    config.reset();
    listener.closeIfValid();
}

// ---- listening

namespace {

// Formatted the way host texts of the listening path always were: the address up to a NUL,
// the whole text cut to 1023 characters.
std::string invalidAddressText(const std::string& address) {
    char text[1024];
    std::snprintf(text, sizeof text, "Error binding socket: invalid listen address \"%s\"", address.c_str());
    return text;
}

// Creates, binds and listens; a failure is worded as the host is told of it.
LuStatus openListener(LuTcpSocket& listener, const std::string& listenAddress, int listenPort) {
    // Numeric only: a name would need a lookup, which may block the host's thread.
    LuNetworkAddress address;
    if (!LuNetworkAddress::parse(listenAddress, address))
        return LuStatus::failure(invalidAddressText(listenAddress), 0);
    if (LuStatus created = listener.create(address); !created) return created;
    // Cut to 16 bits the port would silently become another one.
    if (listenPort < 0 || listenPort > 65535) return LuStatus::failure("Error binding socket", EINVAL);
    if (LuStatus bound = listener.bind(address, static_cast<uint16_t>(listenPort)); !bound) return bound;
    return listener.listen();
}

}  // namespace

bool ServerCore::startListening() {
    if (isListening()) {
        host.reportWarning("Already listening.");
        return true;
    }
    LuStatus opened = openListener(listener, listenAddress, listenPort);
    if (!opened) return failListening(opened);
    // Accepting happens only after the poll found a connection waiting, but one reset in
    // between must not leave the host blocked in accept(). Without the flag the readiness
    // test alone still guards, so a failure here is no reason to give up the listener.
    (void)listener.setNonBlocking(true);
    clientHandler->addListeningSocket(listener.descriptor());
    return true;
}

// The socket of a failed attempt is closed before the host hears of the failure, so that the
// next startListening(), even one from the host's error callback, tries afresh instead of
// taking the half-made socket for a listening one.
bool ServerCore::failListening(const LuStatus& failure) {
    // The failure that ended the attempt is the one the host hears of, not a failed close.
    (void)listener.closeIfValid();
    host.reportError(failure.message());
    return false;
}

void ServerCore::stopListening() {
    if (!isListening()) {
        host.reportWarning("Not listening.");
        return;
    }
    clientHandler->clearListeningSockets();
    // The descriptor is released whatever close() says, and nothing of a failure to close a
    // listener would be the host's to act on.
    listener.close();
}

// ---- access

bool ServerCore::setAllowedClients(const std::string& networks) {
    return clientHandler->accessPolicy().setAllowedClients(networks);
}

bool ServerCore::setControllingClients(const std::string& networks) {
    return clientHandler->accessPolicy().setControllingClients(networks);
}

void ServerCore::setMaxClients(unsigned int count) { clientHandler->accessPolicy().setMaxClients(count); }

unsigned int ServerCore::clientCount() const { return clientHandler->clientCount(); }

// ---- the event pump

void ServerCore::checkForEvent() {
    if (clientHandler->checkReadiness()) {
        clientHandler->serveDueSessions();
        clientHandler->acceptConnections();
    }
    // The sessions the frame reached are served again at once (their writes, their state), on
    // what the turn's one readiness check found.
    if (deliverFrame()) clientHandler->serveDueSessions();
    if (pumpStage != nullptr) pumpStage->run();
}

bool ServerCore::deliverFrame() {
    if (!clientHandler->isRealtimeActive() || !host.frameAvailable()) return false;
    // A deep copy: the host may reuse its buffers as soon as it has handed the frame over, and
    // one copy serves every client through per-client views.
    RyStoreProtocol::Timecode timecode{};
    if (!host.copyCurrentFrame(*frameCopy, timecode)) return false;
    // Masks of every camera, also those no client watches.
    LuDArray<LuDArray<RyCircularMask>> masks = config->circularMasks();
    MaskInfo maskView(masks);
    clientHandler->distributeFrame(*frameCopy, timecode, maskView);
    return true;
}

// ---- notifications

void ServerCore::setFrameRate(float rate) { clientHandler->rateChanged(RyStoreProtocol::frameRateKind, rate); }

void ServerCore::setTimecodeRate(float rate) {
    clientHandler->rateChanged(RyStoreProtocol::timecodeRateKind, rate);
}

void ServerCore::cameraSettingChanged(int camera) {
    for (const HostInterface::NumberSetting& setting : host.cameraNumberSettings(camera))
        announceSetting(camera, toLuStr(setting.name), setting.value);
}

void ServerCore::cameraThresholdChanged(int camera) {
    announceSetting(camera, "_threshold", host.cameraThreshold(camera));
}

void ServerCore::cameraRectangularMasksChanged(int) { broadcastRectangularMasks(); }

void ServerCore::announceSetting(int camera, const LuStr& name, double value) {
    clientHandler->announceSettingChanged(camera, name, value);
}

void ServerCore::broadcastRectangularMasks() { clientHandler->broadcastRectangularMasks(config->rectangularMasks()); }

}  // namespace store
