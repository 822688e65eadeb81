#include "tools/frameyard-stress/abusers.h"

#include <cstring>

#include <frameyard/client.h>

namespace stress {
namespace {

using frameyard::Bytes;

Bytes bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A length as the protocols write one, for the items these peers cut short or inflate.
Bytes u32(uint32_t value) {
    return Bytes{static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
                 static_cast<uint8_t>(value)};
}

// Deterministic bytes, so that a run can be repeated.
class Noise {
public:
    explicit Noise(unsigned seed) : state_(seed * 2654435761u + 1) {}
    uint8_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<uint8_t>(state_);
    }

private:
    uint32_t state_;
};

// Sends part of one item of some protocol, then waits silently: the server must keep the
// session (and every other) going without the rest.
class HalfSender : public Peer {
public:
    HalfSender(const sockaddr_in& server, KindStats& stats, unsigned serial) : Peer(server, stats), serial_(serial) {}

protected:
    void connected(double) override {
        static const std::vector<Bytes> halves = {
            bytes("Rf"),                                    // realtime opening without its final byte
            bytes("Rt"),                                    // the same with the timecode query
            bytes("C\x00\x00"),                             // two of four length bytes
            bytes("C") + u32(40) + bytes("[\"want_cam"),    // part of the command text
            bytes("cg"),                                    // configure without its option letter
            bytes("csm\x00\x00"),                           // half of the mask packet's size
            bytes("R1t\x00\x01\x00"),                       // part of a threshold command
            bytes("R1m") + u32(30) + bytes("[\"enab"),      // part of a realtime message
        };
        const Bytes& half = halves[serial_ % halves.size()];
        send(half.data(), half.size());
        ++stats().answered;
    }

private:
    unsigned serial_;
};

// A realtime client that never reads: the server must cut it off by its stall rule and
// memory cap without slowing anyone else.
class Staller : public Peer {
public:
    Staller(const sockaddr_in& server, KindStats& stats) : Peer(server, stats) { receiveBuffer = 4096; }

protected:
    void connected(double) override { send(std::string("R1")); }
    bool reads() const override { return false; }
    void ended(double now) override {
        ++stats().answered;   // cut off, as it should be
        Peer::ended(now);
        --stats().cutOff;
        scheduleRestart(now + 0.5);
    }
};

// Sends command exchanges one byte at a time, a byte every few milliseconds.
class ByteSender : public Peer {
public:
    ByteSender(const sockaddr_in& server, KindStats& stats) : Peer(server, stats) {}
    void tick(double now) override {
        if (!isConnected() || at_ >= request_.size() || now < nextByte_) return;
        send(&request_[at_++], 1);
        nextByte_ = now + 0.002;
    }

protected:
    void connected(double) override {
        request_ = frameyard::encodeCommand(frameyard::enableRealtimeMessagesCommand());
        at_ = 0;
        reply_.clear();
    }
    void received(const uint8_t* data, size_t size, double) override {
        reply_.insert(reply_.end(), data, data + size);
        if (reply_.size() >= 4 && reply_.size() >= 4 + size_t{frameyard::loadU32(reply_.data())}) {
            ++stats().answered;
            reply_.clear();
            at_ = 0;   // and again
        }
    }

private:
    Bytes request_;
    size_t at_ = 0;
    Bytes reply_;
    double nextByte_ = 0;
};

// Bytes that are no protocol at all, for a while; then it leaves and comes back.
class GarbageSender : public Peer {
public:
    GarbageSender(const sockaddr_in& server, KindStats& stats, unsigned serial)
        : Peer(server, stats), noise_(serial) {}
    void tick(double now) override {
        if (!isConnected()) return;
        if (now > leaveAt_) {
            drop(false);
            scheduleRestart(now + 0.05);
            return;
        }
        if (now < nextBurst_ || queued() > 0) return;
        Bytes burst(256);
        for (uint8_t& byte : burst) byte = noise_.next();
        send(burst.data(), burst.size());
        ++stats().answered;
        nextBurst_ = now + 0.02;
    }

protected:
    void connected(double now) override {
        // A first byte that chooses no session; whatever follows is drained.
        uint8_t first = 'Z';
        send(&first, 1);
        leaveAt_ = now + 1.0;
        nextBurst_ = now;
    }

private:
    Noise noise_;
    double leaveAt_ = 0, nextBurst_ = 0;
};

// Announces lengths far beyond what the server accepts; the server must refuse them without
// allocating (it ends the session or drains the connection). Then it comes back with another.
class OversizedSender : public Peer {
public:
    OversizedSender(const sockaddr_in& server, KindStats& stats, unsigned serial)
        : Peer(server, stats), serial_(serial) {}
    void tick(double now) override {
        if (!isConnected() || now < leaveAt_) return;
        drop(false);
        scheduleRestart(now + 0.05);
    }

protected:
    void connected(double now) override {
        static const std::vector<Bytes> packets = {
            bytes("C") + u32(0xFFFFFFF0u),           // command text
            bytes("R1m") + u32(0x7FFFFFFFu),         // realtime message
            bytes("csm") + u32(0x40000000u),         // configure mask packet
        };
        const Bytes& packet = packets[serial_++ % packets.size()];
        send(packet.data(), packet.size());
        ++stats().answered;
        leaveAt_ = now + 0.2;
    }
    // Being closed on is what the server may well do here.
    void ended(double now) override {
        drop(false);
        scheduleRestart(now + 0.05);
    }

private:
    unsigned serial_;
    double leaveAt_ = 0;
};

// Starts something, then resets the connection in the middle of it.
class Resetter : public Peer {
public:
    Resetter(const sockaddr_in& server, KindStats& stats, unsigned serial) : Peer(server, stats), serial_(serial) {}
    void tick(double now) override {
        if (!isConnected() || now < resetAt_) return;
        drop(true);
        ++stats().answered;
        scheduleRestart(now + 0.02);
    }

protected:
    void connected(double now) override {
        // Mid-stream, or in the middle of a command text.
        if (serial_++ % 2 == 0) send(std::string("R1"));
        else send(bytes("C") + u32(64) + bytes("[\"want_cameras\",[\""));
        resetAt_ = now + 0.2;
    }

private:
    void send(const Bytes& packet) { Peer::send(packet.data(), packet.size()); }
    using Peer::send;

    unsigned serial_;
    double resetAt_ = 0;
};

// Connects and leaves at once, over and over.
class Churner : public Peer {
public:
    Churner(const sockaddr_in& server, KindStats& stats) : Peer(server, stats) {}

protected:
    void connected(double now) override {
        ++stats().answered;
        drop(false);
        scheduleRestart(now + 0.01);
    }
};

// Connects and says nothing.
class Silent : public Peer {
public:
    Silent(const sockaddr_in& server, KindStats& stats) : Peer(server, stats) {}

protected:
    void connected(double) override { ++stats().answered; }
};

}  // namespace

const char* kindName(AbuseKind kind) {
    switch (kind) {
    case AbuseKind::half: return "half";
    case AbuseKind::staller: return "staller";
    case AbuseKind::bytewise: return "bytewise";
    case AbuseKind::garbage: return "garbage";
    case AbuseKind::oversized: return "oversized";
    case AbuseKind::reset: return "reset";
    case AbuseKind::churn: return "churn";
    case AbuseKind::silent: return "silent";
    }
    return "?";
}

bool kindFromName(const std::string& name, AbuseKind& kind) {
    for (AbuseKind candidate : allAbuseKinds) {
        if (name == kindName(candidate)) {
            kind = candidate;
            return true;
        }
    }
    return false;
}

const char* successLabel(AbuseKind kind) {
    switch (kind) {
    case AbuseKind::half: return "partial items sent";
    case AbuseKind::staller: return "cut off as meant";
    case AbuseKind::bytewise: return "exchanges answered";
    case AbuseKind::garbage: return "bursts";
    case AbuseKind::oversized: return "oversized lengths sent";
    case AbuseKind::reset: return "resets";
    case AbuseKind::churn: return "connect-and-leaves";
    case AbuseKind::silent: return "silent connections";
    }
    return "?";
}

std::unique_ptr<Peer> makeAbuser(AbuseKind kind, const sockaddr_in& server, KindStats& stats, unsigned serial) {
    switch (kind) {
    case AbuseKind::half: return std::make_unique<HalfSender>(server, stats, serial);
    case AbuseKind::staller: return std::make_unique<Staller>(server, stats);
    case AbuseKind::bytewise: return std::make_unique<ByteSender>(server, stats);
    case AbuseKind::garbage: return std::make_unique<GarbageSender>(server, stats, serial);
    case AbuseKind::oversized: return std::make_unique<OversizedSender>(server, stats, serial);
    case AbuseKind::reset: return std::make_unique<Resetter>(server, stats, serial);
    case AbuseKind::churn: return std::make_unique<Churner>(server, stats);
    case AbuseKind::silent: return std::make_unique<Silent>(server, stats);
    }
    return nullptr;
}

}  // namespace stress
