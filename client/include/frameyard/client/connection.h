#pragma once
// One TCP connection to a frameyard server. It exposes its descriptor so that any event loop
// can drive it (call readAvailable() when the descriptor is readable: it never waits), and it
// offers blocking receives for programs that want them, each wait bounded by the time-out.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "frameyard/client/api.h"
#include "frameyard/client/error.h"
#include "frameyard/client/requests.h"

namespace frameyard {

// Where the server is and how long one wait for it may take.
struct Endpoint {
    std::string host = "127.0.0.1";   // a numeric IPv4 or IPv6 address, or a host name
    int port = 4000;
    int timeoutMs = 5000;

    std::string text() const { return host + ":" + std::to_string(port); }
};

class FRAMEYARD_CLIENT_API Connection {
public:
    // Connects, waiting at most the endpoint's time-out; throws ConnectionError.
    explicit Connection(const Endpoint& endpoint);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // For an event loop's readiness checks. The descriptor is in blocking mode: the library's
    // own reads and writes say MSG_DONTWAIT, and only the waits a caller asks for block.
    int descriptor() const { return fd_; }
    const Endpoint& endpoint() const { return endpoint_; }

    // Writes every byte, waiting at most the time-out whenever the socket takes none.
    void send(const void* data, size_t size);
    void send(const Bytes& bytes) { send(bytes.data(), bytes.size()); }
    void sendByte(uint8_t byte) { send(&byte, 1); }

    // Reads what the socket holds now without waiting. False once the server has closed the
    // connection (what arrived before stays readable); throws ConnectionError when it failed.
    bool readAvailable();
    // Waits at most waitMs for more bytes and reads them; false when none came.
    bool waitForMore(int waitMs);
    // True when unread bytes are there, arrive within waitMs, or the server has closed.
    bool waitForInput(int waitMs);
    bool closed() const { return closed_; }

    // The bytes received and not yet consumed.
    const uint8_t* data() const { return buffer_.data() + readPos_; }
    size_t size() const { return end_ - readPos_; }
    void consume(size_t count);

    // Runs decode(data(), size()) until it takes bytes (a decoder's "how many bytes, 0 for more
    // needed"), reading as they come; the wait is bounded by the time-out since the last byte
    // arrived. Throws TimeoutError, or ConnectionError when the server closes first.
    template <class Decode>
    size_t receive(Decode&& decode, const char* what) {
        for (;;) {
            size_t used = decode(data(), size());
            if (used > 0) {
                consume(used);
                return used;
            }
            if (closed_) throw ConnectionError("the server closed the connection while sending " + std::string(what));
            if (!waitForMore(endpoint_.timeoutMs)) {
                throw TimeoutError("no answer from " + endpoint_.text() + " within " +
                                   std::to_string(endpoint_.timeoutMs) + " ms while waiting for " + what);
            }
        }
    }

    // Blocking reads of a fixed number of bytes, for programs that walk a stream field by field
    // (tests, captures); the waits and failures are those of receive() above.
    void receive(void* out, size_t size);
    uint8_t receiveByte();
    uint16_t receiveU16();

private:
    Endpoint endpoint_;
    int fd_ = -1;
    bool closed_ = false;
    // Unread bytes are [readPos_, end_); the vector only grows, so reads never zero-fill it.
    void makeRoom();
    void setReceiveTimeout(int waitMs);
    int receiveTimeoutMs_ = 0;
    std::vector<uint8_t> buffer_;
    size_t readPos_ = 0;
    size_t end_ = 0;
};

}  // namespace frameyard
