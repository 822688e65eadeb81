#include "tools/frameyard-stress/steady_client.h"

#include <ctime>

#include "tools/client/command_client.h"

namespace stress {
namespace {

// Seconds since midnight, UTC, as the host's stamps count them.
double timeOfDay() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec % 86400) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

SteadyClient::SteadyClient(const sockaddr_in& server, KindStats& stats, const SteadySettings& settings,
                           LatencyHistogram& latencies)
    : Peer(server, stats), settings_(settings), latencies_(latencies),
      scanner_(settings.options, settings.cameraCount), sequence_(settings.fps) {}

void SteadyClient::connected(double) {
    std::vector<uint8_t> out;
    if (settings_.options.tagged) {
        std::string request = fyclient::enableRealtimeMessagesRequest();
        out.push_back('C');
        fyclient::appendU32(out, static_cast<uint32_t>(request.size()));
        out.insert(out.end(), request.begin(), request.end());
        step_ = Step::enabling;
    } else {
        step_ = Step::query;
    }
    out.push_back('R');
    if (settings_.options.compact) out.push_back('f');
    out.push_back('t');
    out.push_back('1');
    send(out.data(), out.size());
}

void SteadyClient::received(const uint8_t* data, size_t size, double now) {
    if (step_ == Step::done) return;
    input_.insert(input_.end(), data, data + size);
    while (step_ != Step::done && advance(now)) {
    }
    // Keep the buffer from growing: drop what was consumed once it is most of it.
    if (readFrom_ > 0 && readFrom_ * 2 >= input_.size()) {
        input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(readFrom_));
        readFrom_ = 0;
    }
}

bool SteadyClient::advance(double now) {
    const uint8_t* data = input_.data() + readFrom_;
    size_t left = input_.size() - readFrom_;
    switch (step_) {
    case Step::enabling: {
        if (left < 4) return false;
        uint32_t length = fyclient::loadU32(data);
        if (left < 4 + length) return false;
        std::string reply(reinterpret_cast<const char*>(data + 4), length);
        readFrom_ += 4 + length;
        if (!fyclient::checkReply(reply).ok) fail("enable_realtime_messages answered " + reply);
        else step_ = Step::query;
        return true;
    }
    case Step::query: {
        if (left < 1) return false;
        ++readFrom_;
        if (data[0] != 't') return fail("expected the timecode query 't'"), true;
        uint8_t answer = settings_.options.timecodes ? '1' : '0';
        send(&answer, 1);
        step_ = Step::ready;
        return true;
    }
    case Step::ready: {
        if (left < 1) return false;
        ++readFrom_;
        if (data[0] != 'r') return fail("expected the start signal 'r'"), true;
        uint8_t go = 'g';
        send(&go, 1);
        step_ = Step::streaming;
        return true;
    }
    case Step::streaming: return readFrames(now);
    case Step::done: return false;
    }
    return false;
}

bool SteadyClient::readFrames(double now) {
    size_t used = 0;
    fyclient::RealtimeItem item;
    StreamScanner::Result result =
        scanner_.next(input_.data() + readFrom_, input_.size() - readFrom_, used, item);
    if (result == StreamScanner::Result::incomplete) return false;
    if (result == StreamScanner::Result::malformed) {
        fail("malformed frame");
        return false;
    }
    readFrom_ += used;
    if (item.isMessage) return true;
    if (firstFrameAt_ < 0) firstFrameAt_ = now;
    if (!item.frame.timecode) {
        // Without timecodes only the count can be kept.
        sequence_.untimedFrame();
        return true;
    }
    sequence_.frame(*item.frame.timecode);
    if (settings_.clockTimecodes)
        latencies_.add(secondsLate(timeOfDay(), stampSeconds(*item.frame.timecode, settings_.fps)));
    return true;
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
