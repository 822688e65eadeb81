#include "tools/frameyard-stress/steady_client.h"

#include <ctime>

namespace stress {
namespace {

// Seconds since midnight, UTC, as the host's stamps count them.
double timeOfDay() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec % 86400) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The decoder's view of the session: the handshake always, no timecodes until the answer.
frameyard::RealtimeFormat opening(frameyard::RealtimeFormat format) {
    format.handshake = true;
    format.timecodes = false;
    return format;
}

}  // namespace

SteadyClient::SteadyClient(const sockaddr_in& server, KindStats& stats, const SteadySettings& settings,
                           LatencyHistogram& latencies)
    : Peer(server, stats), settings_(settings), latencies_(latencies), decoder_(opening(settings.format)),
      sequence_(settings.fps) {}

void SteadyClient::connected(double) {
    decoder_ = frameyard::RealtimeDecoder(opening(settings_.format));
    input_.clear();
    readFrom_ = 0;
    frameyard::Bytes out;
    if (settings_.format.tagged) {
        out = frameyard::encodeCommand(frameyard::enableRealtimeMessagesCommand());
        step_ = Step::enabling;
    } else {
        step_ = Step::streaming;
    }
    frameyard::Bytes realtime = frameyard::encodeRealtimeOpening({settings_.format.compact, true});
    out.insert(out.end(), realtime.begin(), realtime.end());
    send(out.data(), out.size());
}

void SteadyClient::received(const uint8_t* data, size_t size, double now) {
    if (step_ == Step::done) return;
    input_.insert(input_.end(), data, data + size);
    try {
        while (step_ != Step::done && advance(now)) {
        }
    } catch (const frameyard::ProtocolError& error) {
        fail(decoder_.streaming() ? std::string("malformed frame") : std::string(error.what()));
    }
    // Keep the buffer from growing: drop what was consumed once it is most of it.
    if (readFrom_ > 0 && readFrom_ * 2 >= input_.size()) {
        input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(readFrom_));
        readFrom_ = 0;
    }
}

bool SteadyClient::advance(double now) {
    if (step_ == Step::enabling) return enabled();
    if (step_ != Step::streaming) return false;
    size_t used = decoder_.decode(input_.data() + readFrom_, input_.size() - readFrom_, item_, frame_);
    if (used == 0) return false;
    readFrom_ += used;
    if (item_.kind == frameyard::RealtimeItem::Kind::frame) frameArrived(now);
    else answer(item_);
    return true;
}

// The reply to enable_realtime_messages, which comes before the realtime stream.
bool SteadyClient::enabled() {
    std::string reply;
    size_t used = frameyard::decodeSized(input_.data() + readFrom_, input_.size() - readFrom_, reply);
    if (used == 0) return false;
    readFrom_ += used;
    if (!frameyard::checkReply(reply).ok) fail("enable_realtime_messages answered " + reply);
    else step_ = Step::streaming;
    return true;
}

// The handshake's two questions; messages are not what this client checks.
void SteadyClient::answer(const frameyard::RealtimeItem& item) {
    if (item.kind == frameyard::RealtimeItem::Kind::timecodeQuery) {
        frameyard::Bytes reply = frameyard::encodeTimecodeAnswer(settings_.format.timecodes);
        send(reply.data(), reply.size());
        decoder_.setTimecodes(settings_.format.timecodes);
    } else if (item.kind == frameyard::RealtimeItem::Kind::ready) {
        frameyard::Bytes go = frameyard::encodeGo();
        send(go.data(), go.size());
    }
}

void SteadyClient::frameArrived(double now) {
    if (firstFrameAt_ < 0) firstFrameAt_ = now;
    if (!frame_.timecode) {
        // Without timecodes only the count can be kept.
        sequence_.untimedFrame();
        return;
    }
    sequence_.frame(*frame_.timecode);
    if (settings_.clockTimecodes)
        latencies_.add(secondsLate(timeOfDay(), stampSeconds(*frame_.timecode, settings_.fps)));
}

void SteadyClient::fail(const std::string& why) {
    if (failure_.empty()) failure_ = why;
    ++stats().cutOff;
    step_ = Step::done;
    drop(false);
    scheduleRestart(-1);
}

void SteadyClient::ended(double) { fail("the server ended the connection"); }

}  // namespace stress
