#include "sessions/acquire_mode.h"

#include <vector>

#include "protocol/acquire/acquire_records.h"
#include "protocol/common/byte_order.h"
#include "protocol/frames/frame_format.h"
#include "sessions/session_services.h"
#include "toolkit/diagnostics.h"

using Read = SessionInputBuffer::Read;

AcquireMode::~AcquireMode() {
    // A session that goes while the acquisition runs (the server shutting down, the handler
    // removing it) still ends it for the host.
    if (running) endAcquisition(next_);
}

RyStoreMultiClientHandlerBase::AcquireHandler* AcquireMode::handler() const {
    return session.services().acquireHandler();
}

bool AcquireMode::start() {
    // A client that may not change the host is answered as by a host without acquisitions.
    bool permitted = session.mayChangeHost();
    if (!permitted)
        session.services().access().reportRefusedChange(session.connection().getPeerName().str(), "acquisition");
    if (!permitted || handler() == nullptr || !handler()->acquireSupported()) {
        static const uint8_t refusal[2] = {0, 0};
        session.socket().write(refusal, sizeof refusal);
        return false;
    }
    id = session.services().takeAcquisitionId();
    running = true;
    // The camera count, 'R', each 'r' and the progress records are small writes the client waits
    // for; without this each would wait for the client's delayed acknowledgement of the one before.
    session.socket().setNoDelay();
    return true;
}

bool AcquireMode::waitsForClient() const {
    return phase_ == Phase::request || phase_ == Phase::arming || phase_ == Phase::waiting_to_close;
}

bool AcquireMode::step() {
    // The server may have withdrawn the host's acquisitions (it is shutting down).
    if (running && handler() == nullptr) {
        endAcquisition(Next::waitForClientToClose);
        return true;
    }
    switch (phase_) {
        case Phase::request: return stepRequest();
        case Phase::ready: return stepReady();
        case Phase::arming: return stepArming();
        case Phase::field_wait: return stepFieldWait();
        case Phase::recording: return stepRecording();
        case Phase::data: return stepData();
        case Phase::waiting_to_close: return stepWaitingToClose();
    }
    return false;
}

void AcquireMode::endAcquisition(Next then) {
    if (running) {
        running = false;
        if (handler() != nullptr) handler()->endAcquire(id);
        session.services().releaseAcquisitionId(id);
    }
    next_ = then;
}

bool AcquireMode::writeByte(uint8_t byte) { return RyStoreProtocol::writeAll(session.socket(), &byte, 1); }

// ---- 0 request, 1 ready --------------------------------------------------------------------------

bool AcquireMode::stepRequest() {
    if (!parser) {
        if (!session.socket().hasInput()) return false;
        builder = std::make_unique<AcquireProtocol::AcquireParamsBuilder>(request);
        parser = std::make_unique<RyStoreProtocol::AcquireRequestParser>(session.socket(), *builder,
                                                                         session.cameras().getSize());
    }
    switch (parser->process()) {
        case RyStoreProtocol::AcquireRequestParser::Result::waiting:
            return false;
        case RyStoreProtocol::AcquireRequestParser::Result::failed:
            // A request that cannot be read whole is not handed over half read.
            endAcquisition(Next::waitForClientToClose);
            return true;
        case RyStoreProtocol::AcquireRequestParser::Result::complete:
            break;
    }
    phase_ = Phase::ready;
    handler()->setAcquireRequest(id, request.frames);
    return true;
}

bool AcquireMode::stepReady() {
    if (!handler()->acquireReady(id)) return false;
    writeByte('R');
    phase_ = Phase::arming;
    return true;
}

// ---- 2 arming, 3 field wait ----------------------------------------------------------------------

bool AcquireMode::stepArming() {
    if (!session.socket().hasInput()) return false;
    uint8_t command = 0;
    Read read = session.socket().input().takeByte(command);
    if (read == Read::waiting) return false;
    if (read == Read::failed) {
        endAcquisition(Next::waitForClientToClose);
        return true;
    }
    if (command == 'G') {
        handler()->acquireGo(id);
        phase_ = Phase::field_wait;
    } else if (command == 'a') {
        fy::diagnostic("Client aborted\n");
    } else {
        lastReported = 0;
        phase_ = Phase::recording;
        handler()->startAcquireRecording(id);
    }
    return true;
}

bool AcquireMode::stepFieldWait() {
    if (!handler()->acquireFieldReady(id)) return false;
    if (writeByte('r')) {
        phase_ = Phase::arming;
        return true;
    }
    endAcquisition(Next::keepRunning);
    phase_ = Phase::waiting_to_close;
    return true;
}

// ---- 4 recording ---------------------------------------------------------------------------------

bool AcquireMode::stepRecording() {
    bool progress = false;
    if (session.socket().hasInput()) {
        uint8_t command = 0;
        Read read = session.socket().input().takeByte(command);
        if (read == Read::failed) {
            endAcquisition(Next::waitForClientToClose);
            return true;
        }
        if (read == Read::ok) {
            progress = true;
            if (command == 's') handler()->stopAcquireRecording(id);
        }
    }
    reportProgress();
    if (!handler()->acquireRecordingFinished(id)) return progress;
    phase_ = Phase::data;
    return true;
}

// A host count beyond the request is reported instead of sent, and not remembered, so that it
// is reported again on the next poll while it lasts.
void AcquireMode::reportProgress() {
    int count = handler()->acquiredFrameCount(id);
    uint32_t recorded = count > 0 ? uint32_t(count) : 0;
    if (recorded == lastReported) return;
    uint32_t requested = uint32_t(request.frames.getSize());
    if (recorded > requested) {
        fy::diagnostic("Too many frames recorded\n");
        return;
    }
    std::vector<uint8_t> record;
    int start = request.startFieldId.isNull() ? 0 : request.startFieldId.get();
    RyStoreProtocol::appendProgressRecord(record, start, recorded, requested);
    RyStoreProtocol::writeAll(session.socket(), record.data(), record.size());
    lastReported = recorded;
}

// ---- 5 data, 6 waiting to close ------------------------------------------------------------------

bool AcquireMode::stepData() {
    if (!sender) {
        int start = request.startFieldId.isNull() ? 0 : request.startFieldId.get();
        retriever = std::make_unique<AcquireProtocol::AcquiredDataRetriever>(
            *handler(), id, start, session.cameras().getSize(), request.frames);
        sender = std::make_unique<RyStoreProtocol::AcquiredDataSender>(session.socket(), *retriever);
    }
    if (sender->process() == RyStoreProtocol::AcquiredDataSender::Result::sending) return false;
    endAcquisition(Next::waitForClientToClose);
    return true;
}

bool AcquireMode::stepWaitingToClose() {
    if (!session.socket().hasInput()) return false;
    uint8_t byte = 0;
    Read read = session.socket().input().takeByte(byte);
    if (read == Read::waiting) return false;
    if (read == Read::failed) {
        fy::diagnostic("Client closed\n");
        session.socket().close();
        next_ = Next::exit;
        return true;
    }
    fy::diagnostic("Got '%c' from client while waiting to close\n", static_cast<char>(byte));
    return true;
}
