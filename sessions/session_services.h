#pragma once
// What every session of one handler shares and reaches through named operations: the
// configure adapter and configuration, the mode table, the host's mode handlers, the access
// policy, the acquisition ids in use and the live-feature subscription counts.
#include <map>
#include <set>

#include "protocol/common/abstract_config.h"
#include "sessions/access_policy.h"
#include "sessions/multi_client_handler.h"

class SessionModeTable;

class SessionServices {
public:
    using RealtimeHandler = RyStoreMultiClientHandlerBase::RealtimeHandler;
    using LiveFeatHandler = RyStoreMultiClientHandlerBase::LiveFeatHandler;
    using AcquireHandler = RyStoreMultiClientHandlerBase::AcquireHandler;

    // Neither is owned; both must outlive the services.
    SessionServices(RyStoreConfigureHandlerBase& configure, const SessionModeTable& modes)
        : configure_(configure), modes_(modes) {}

    RyStoreConfigureHandlerBase& configureHandler() { return configure_; }
    RyStoreProtocol::AbstractConfig& config();
    const SessionModeTable& modes() const { return modes_; }
    // Who may connect and change the host, and where refusals are reported.
    AccessPolicy& access() { return access_; }

    // The host's mode handlers; none is owned, each may be null.
    RealtimeHandler* realtimeHandler() const { return realtime_; }
    LiveFeatHandler* liveFeatHandler() const { return liveFeat_; }
    AcquireHandler* acquireHandler() const { return acquire_; }
    void setRealtimeHandler(RealtimeHandler* handler) { realtime_ = handler; }
    void setLiveFeatHandler(LiveFeatHandler* handler) { liveFeat_ = handler; }
    void setAcquireHandler(AcquireHandler* handler) { acquire_ = handler; }

    // The host was told to start producing frames and has not been told to stop.
    bool realtimeActive() const { return realtimeActive_; }
    void setRealtimeActive(bool active) { realtimeActive_ = active; }
    // Realtime sessions can be served: the host takes realtime clients, or frames flow anyway.
    bool realtimeSupported() const { return realtime_ != nullptr || realtimeActive_; }

    // The smallest id no running acquisition holds; it is held until released.
    int takeAcquisitionId();
    void releaseAcquisitionId(int id) { acquisitionIds_.erase(id); }

    // Reference counts over live-feature sessions; the host hears only of the first on and the
    // last off per camera.
    void setFeatureCamera(int camera, bool on);
    void setImageCamera(int camera, bool on);

private:
    RyStoreConfigureHandlerBase& configure_;
    const SessionModeTable& modes_;
    AccessPolicy access_;
    RealtimeHandler* realtime_ = nullptr;
    LiveFeatHandler* liveFeat_ = nullptr;
    AcquireHandler* acquire_ = nullptr;
    bool realtimeActive_ = false;
    std::set<int> acquisitionIds_;
    std::map<int, int> featureCameraCounts_;
    std::map<int, int> imageCameraCounts_;
};
