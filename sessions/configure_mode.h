#pragma once
// The configure mode ('c'): one configure request, answered from the configure adapter.
#include <memory>

#include "protocol/configure/configure_handler.h"
#include "sessions/session_mode.h"

class ConfigureMode final : public SessionMode {
public:
    explicit ConfigureMode(RyStoreMultiClientHandlerBase::Client& session) : session(session) {}

    bool start() override;
    bool step() override;
    Next next() const override { return next_; }
    RyStoreMultiClientHandlerBase::Client::State state() const override {
        return RyStoreMultiClientHandlerBase::Client::configure;
    }
    bool waitsForClient() const override { return false; }

private:
    RyStoreMultiClientHandlerBase::Client& session;
    std::unique_ptr<RyStoreConfigureHandlerBase::HandleConfigurationRequestTask> task;
    Next next_ = Next::keepRunning;
};
