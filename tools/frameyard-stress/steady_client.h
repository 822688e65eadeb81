#pragma once
// A realtime client that behaves: it runs the opening and start handshake, then reads every
// frame, checks that each follows the one before, and notes how late each arrived.
#include <string>
#include <vector>

#include <frameyard/client.h>

#include "tools/frameyard-stress/peer.h"
#include "tools/frameyard-stress/stream_check.h"

namespace stress {

struct SteadySettings {
    // The handshake is always run; `timecodes` is the answer to the query, `cameras` the host's
    // camera count (untagged frames carry no length of their own).
    frameyard::RealtimeFormat format;
    int fps = 100;
    // The host stamps frames with the time of day, so lateness can be measured.
    bool clockTimecodes = false;
};

class SteadyClient : public Peer {
public:
    SteadyClient(const sockaddr_in& server, KindStats& stats, const SteadySettings& settings,
                 LatencyHistogram& latencies);

    bool streaming() const { return step_ == Step::streaming && decoder_.streaming(); }
    // When the first frame arrived, in seconds of the run; negative before.
    double firstFrameAt() const { return firstFrameAt_; }
    const SequenceCheck& sequence() const { return sequence_; }
    // Why the client stopped before the end, if it did.
    const std::string& failure() const { return failure_; }

protected:
    void connected(double now) override;
    void received(const uint8_t* data, size_t size, double now) override;
    void ended(double now) override;

private:
    enum class Step { enabling, streaming, done };

    // Consumes what the current step needs; false when it needs more bytes.
    bool advance(double now);
    bool enabled();
    void answer(const frameyard::RealtimeItem& item);
    void frameArrived(double now);
    void fail(const std::string& why);

    SteadySettings settings_;
    LatencyHistogram& latencies_;
    frameyard::RealtimeDecoder decoder_;
    frameyard::RealtimeItem item_;
    frameyard::Frame frame_;
    SequenceCheck sequence_;
    Step step_ = Step::enabling;
    std::vector<uint8_t> input_;
    size_t readFrom_ = 0;
    std::string failure_;
    double firstFrameAt_ = -1;
};

}  // namespace stress
