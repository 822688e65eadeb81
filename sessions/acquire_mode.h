#pragma once
// The acquisition mode ('a'): reads the client's request and hands it to the host, signals
// when the host is ready, steps and starts the recording as the client asks, reports its
// progress, and finally streams the recorded fields. One acquisition per connection; the host
// hears endAcquire exactly once for it, however the session ends. Refused with u16 0 when the
// host offers no acquisitions.
#include <cstdint>
#include <memory>

#include "protocol/acquire/acquire_request_parser.h"
#include "protocol/acquire/acquired_data_sender.h"
#include "sessions/acquire_request.h"
#include "sessions/session_mode.h"

class AcquireMode final : public SessionMode {
public:
    // The phases, numbered as the diagnostics of the session's tests show them.
    enum class Phase { request = 0, ready = 1, arming = 2, field_wait = 3, recording = 4, data = 5, waiting_to_close = 6 };

    explicit AcquireMode(RyStoreMultiClientHandlerBase::Client& session) : session(session) {}
    // Ends the acquisition if it is still running and gives its id back.
    ~AcquireMode() override;

    bool start() override;
    bool step() override;
    Next next() const override { return next_; }
    RyStoreMultiClientHandlerBase::Client::State state() const override {
        return RyStoreMultiClientHandlerBase::Client::running_acquire_protocol;
    }
    // Ready, field-wait, recording and data poll the host or pace the download on every poll.
    bool waitsForClient() const override;

    Phase phase() const { return phase_; }
    int acquisitionId() const { return id; }

private:
    bool stepRequest();
    bool stepReady();
    bool stepArming();
    bool stepFieldWait();
    bool stepRecording();
    void reportProgress();
    bool stepData();
    bool stepWaitingToClose();
    // The acquisition is over: the host is told once, and the session goes on as `then`.
    void endAcquisition(Next then);
    bool writeByte(uint8_t byte);
    RyStoreMultiClientHandlerBase::AcquireHandler* handler() const;

    RyStoreMultiClientHandlerBase::Client& session;
    Phase phase_ = Phase::request;
    Next next_ = Next::keepRunning;
    int id = -1;
    bool running = false;  // the id is held and endAcquire is still owed
    uint32_t lastReported = 0;
    AcquireProtocol::AcquireRequest request;
    std::unique_ptr<AcquireProtocol::AcquireParamsBuilder> builder;
    std::unique_ptr<RyStoreProtocol::AcquireRequestParser> parser;
    std::unique_ptr<AcquireProtocol::AcquiredDataRetriever> retriever;
    std::unique_ptr<RyStoreProtocol::AcquiredDataSender> sender;
};
