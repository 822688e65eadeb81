#pragma once
// One loopback connection of the load tool, driven by the tool's event loop: a non-blocking
// connect, sends that queue what the socket does not take, reads handed to the subclass, and
// a tick for whatever the connection does on its own time. Subclasses are the steady
// realtime clients and the abusive kinds.
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace stress {

// Counts shared by every connection of one kind.
struct KindStats {
    uint64_t clients = 0;
    uint64_t connections = 0;
    uint64_t refused = 0;
    // The server closed or reset a connection the client still wanted.
    uint64_t cutOff = 0;
    uint64_t bytesSent = 0;
    uint64_t bytesReceived = 0;
    // What the kind counts as a success of its own (answers received, partial items held).
    uint64_t answered = 0;
};

class Peer {
public:
    Peer(const sockaddr_in& server, KindStats& stats) : server_(server), stats_(stats) {}
    virtual ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    int fd() const { return fd_; }
    // Counts the connections opened, so that a new one on a reused descriptor number is told
    // from the last.
    uint64_t generation() const { return generation_; }
    bool isConnected() const { return fd_ >= 0 && connected_; }
    // When a peer without a connection opens its next one; negative: never again.
    double restartAt() const { return restartAt_; }

    // Opens a connection (not yet complete when this returns). False when it failed at once.
    bool start(double now);
    // The loop's events for this connection.
    void writable(double now);
    void readable(double now);
    void failed(double now);
    virtual void tick(double now) { (void)now; }
    // The events the loop is to watch for (EPOLLIN, EPOLLOUT).
    uint32_t interest() const;
    // Closes the connection, with a reset when asked; no reconnect unless scheduled.
    void drop(bool reset);

protected:
    virtual void connected(double now) = 0;
    // Bytes arrived; the default discards them.
    virtual void received(const uint8_t* data, size_t size, double now);
    // The server ended the connection; the default counts it as cut off and reconnects soon.
    virtual void ended(double now);
    // Whether the peer reads at all (a staller does not).
    virtual bool reads() const { return true; }
    void send(const void* data, size_t size);
    void send(const std::string& text) { send(text.data(), text.size()); }
    void scheduleRestart(double at) { restartAt_ = at; }
    KindStats& stats() { return stats_; }
    size_t queued() const { return outgoing_.size() - sentFrom_; }

    // Set before start() opens the socket: a small receive buffer, so that a stalled reader
    // fills its window quickly.
    int receiveBuffer = 0;

private:
    void flush();
    void refuse(double now);

    sockaddr_in server_;
    KindStats& stats_;
    int fd_ = -1;
    uint64_t generation_ = 0;
    bool connected_ = false;
    double restartAt_ = 0;
    std::vector<uint8_t> outgoing_;
    size_t sentFrom_ = 0;
};

}  // namespace stress
