#pragma once
// The client side of the load benchmarks: one thread that reads every client connection
// through epoll and cuts each stream into frames. It counts frames and bytes per client, keeps
// each frame's latency from the moment its sequence number was handed out, and knows up to
// which frame every client has got. A benchmark says how long a frame is and where its
// sequence number sits, and may act on each frame as a client would.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"

namespace bench {

class StreamReader {
public:
    // sequenceAt: where the big-endian u32 sequence number sits in a frame. With gapsAllowed a
    // client may miss frames (but never see one twice or out of order).
    StreamReader(const std::vector<int>& fds, const Stamps& stamps, size_t bufferSize, size_t sequenceAt,
                 bool gapsAllowed)
        : stamps(stamps), sequenceAt(sequenceAt), gapsAllowed(gapsAllowed), streams(fds.size()) {
        for (size_t i = 0; i < fds.size(); ++i) {
            streams[i].fd = fds[i];
            streams[i].buffer.resize(bufferSize);
        }
    }
    virtual ~StreamReader() { stop(); }
    StreamReader(const StreamReader&) = delete;
    StreamReader& operator=(const StreamReader&) = delete;

    void start() { thread = std::thread([this] { run(); }); }
    void stop() {
        stopping.store(true);
        if (thread.joinable()) thread.join();
    }

    // Frames that every client has received completely (a prefix of the sequence).
    uint32_t completed() const { return completed_.load(std::memory_order_acquire); }
    std::vector<uint64_t> frameCounts() const { return snapshot(&Stream::frames); }
    std::vector<uint64_t> byteCounts() const { return snapshot(&Stream::bytes); }
    // Latencies are kept for frames from this sequence number on, while recording is set.
    void record(uint32_t fromSeq) {
        firstRecorded.store(fromSeq);
        recording.store(true);
    }
    void stopRecording() { recording.store(false); }
    // Valid after stop().
    std::vector<int64_t>& latencies() { return samples; }
    const std::vector<uint8_t>& firstFrame() const { return sample; }
    bool failed() const { return failed_.load(std::memory_order_relaxed); }
    const std::string& error() const { return error_; }

protected:
    // The length of the frame at the start of the unread bytes, 0 while it is incomplete;
    // fail() for a stream that does not read as frames.
    virtual size_t frameLength(const uint8_t* frame, size_t available) = 0;
    // A whole frame has arrived on the connection.
    virtual void received(int /*fd*/, const uint8_t* /*frame*/, size_t /*length*/) {}
    void fail(const char* why) { error_ = why; }

private:
    struct Stream {
        int fd = -1;
        std::vector<uint8_t> buffer;
        size_t begin = 0, end = 0;
        uint32_t next = 0;  // one past the newest sequence number seen
        bool seen = false;
        std::atomic<uint64_t> frames{0}, bytes{0};
    };

    std::vector<uint64_t> snapshot(std::atomic<uint64_t> Stream::*field) const {
        std::vector<uint64_t> out;
        for (const Stream& s : streams) out.push_back((s.*field).load(std::memory_order_relaxed));
        return out;
    }

    void run() {
        int poller = ::epoll_create1(0);
        for (size_t i = 0; i < streams.size(); ++i) {
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.u64 = i;
            ::epoll_ctl(poller, EPOLL_CTL_ADD, streams[i].fd, &event);
        }
        std::vector<epoll_event> events(streams.size());
        while (!stopping.load(std::memory_order_relaxed) && error_.empty()) {
            int ready = ::epoll_wait(poller, events.data(), static_cast<int>(events.size()), 10);
            for (int k = 0; k < ready; ++k) drain(streams[events[static_cast<size_t>(k)].data.u64]);
            publishCompleted();
        }
        failed_.store(!error_.empty());
        ::close(poller);
    }

    void drain(Stream& s) {
        size_t room = s.buffer.size() / 4;
        for (int rounds = 0; rounds < 64; ++rounds) {
            if (s.buffer.size() - s.end < room) {
                std::memmove(s.buffer.data(), s.buffer.data() + s.begin, s.end - s.begin);
                s.end -= s.begin;
                s.begin = 0;
            }
            ssize_t got = ::recv(s.fd, s.buffer.data() + s.end, s.buffer.size() - s.end, MSG_DONTWAIT);
            if (got <= 0) {
                if (got == 0) fail("a client connection was closed");
                return;
            }
            int64_t t = nowNs();
            s.end += static_cast<size_t>(got);
            while (error_.empty()) {
                size_t length = frameLength(s.buffer.data() + s.begin, s.end - s.begin);
                if (length == 0) break;
                take(s, length, t);
            }
            if (!error_.empty()) return;
            if (s.begin == s.end) s.begin = s.end = 0;
        }
    }

    void take(Stream& s, size_t length, int64_t t) {
        const uint8_t* frame = s.buffer.data() + s.begin;
        received(s.fd, frame, length);
        const uint8_t* p = frame + sequenceAt;
        uint32_t seq = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
        if (s.seen && (gapsAllowed ? int32_t(seq - s.next) < 0 : seq != s.next))
            fail(gapsAllowed ? "a client got a frame twice or out of order" : "a client missed a frame or got one twice");
        s.seen = true;
        s.next = seq + 1;
        if (sample.empty()) sample.assign(frame, frame + length);
        if (recording.load(std::memory_order_relaxed) && int32_t(seq - firstRecorded.load()) >= 0)
            samples.push_back(t - stamps.get(seq));
        s.frames.fetch_add(1, std::memory_order_relaxed);
        s.bytes.fetch_add(length, std::memory_order_relaxed);
        s.begin += length;
    }

    void publishCompleted() {
        bool first = true;
        uint32_t least = 0;
        for (const Stream& s : streams) {
            if (!s.seen) return;
            if (first || int32_t(s.next - least) < 0) least = s.next;
            first = false;
        }
        completed_.store(least, std::memory_order_release);
    }

    const Stamps& stamps;
    const size_t sequenceAt;
    const bool gapsAllowed;
    std::vector<Stream> streams;
    std::atomic<uint32_t> completed_{0};
    std::atomic<bool> stopping{false}, recording{false}, failed_{false};
    std::atomic<uint32_t> firstRecorded{0};
    std::vector<int64_t> samples;
    std::vector<uint8_t> sample;
    std::string error_;
    std::thread thread;
};

// What one measured run saw: frames and bytes per client, how long it lasted, the latencies
// and one frame as a client received it.
struct Measurement {
    std::vector<uint64_t> frames, bytes;
    double seconds = 0;
    std::vector<int64_t> latencies;
    std::vector<uint8_t> frame;
    std::string error;
};

// Warms up for warmUp seconds, then measures for `seconds` while step() produces frames;
// step() is the producer's main loop body (one checkForEvent(), or one baseline send round)
// and `produced` the next sequence number it hands out.
template <class Step>
Measurement measureRun(StreamReader& reader, double warmUp, double seconds, const uint32_t& produced, Step step) {
    Measurement m;
    reader.start();
    int64_t warmEnd = nowNs() + static_cast<int64_t>(warmUp * 1e9);
    while (nowNs() < warmEnd && !reader.failed()) step();
    std::vector<uint64_t> frames = reader.frameCounts(), bytes = reader.byteCounts();
    int64_t t0 = nowNs();
    reader.record(produced);
    int64_t end = t0 + static_cast<int64_t>(seconds * 1e9);
    while (nowNs() < end && !reader.failed()) step();
    reader.stopRecording();
    m.frames = reader.frameCounts();
    m.bytes = reader.byteCounts();
    m.seconds = static_cast<double>(nowNs() - t0) / 1e9;
    reader.stop();
    for (size_t i = 0; i < frames.size(); ++i) {
        m.frames[i] -= frames[i];
        m.bytes[i] -= bytes[i];
    }
    m.latencies = std::move(reader.latencies());
    m.frame = reader.firstFrame();
    m.error = reader.error();
    return m;
}

// A listening socket on 127.0.0.1 with a port the system picked (in address), or -1.
inline int listenOnLoopback(sockaddr_in& address) {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    address = sockaddr_in{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 128) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(listener);
        return -1;
    }
    return listener;
}

}  // namespace bench
