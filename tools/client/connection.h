#pragma once
// A blocking TCP connection to a frameyard server with bounded waits, as a client program needs
// it: every wait has a time-out, so a silent server can never hang a client.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace fyclient {

// Every failure a client can meet, carrying one line fit to show a user.
class ClientError : public std::runtime_error {
public:
    explicit ClientError(const std::string& message) : std::runtime_error(message) {}
};

// Where the server is and how long one wait for it may take.
struct Endpoint {
    std::string host = "127.0.0.1";
    int port = 4000;
    int timeoutMs = 5000;

    std::string text() const { return host + ":" + std::to_string(port); }
};

// One connection. Reads are buffered; a read waits at most the endpoint's time-out for each
// chunk of bytes, so a read of n bytes fails only when the server goes silent or closes.
class Connection {
public:
    explicit Connection(const Endpoint& endpoint);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void send(const void* data, size_t size);
    void send(const std::vector<uint8_t>& bytes) { send(bytes.data(), bytes.size()); }
    void sendByte(uint8_t byte) { send(&byte, 1); }
    void sendU16(uint16_t value);
    void sendU32(uint32_t value);

    void receive(void* out, size_t size);
    uint8_t receiveByte();
    uint16_t receiveU16();
    uint32_t receiveU32();
    // The next byte, or the two at `offset` as a big-endian value, without consuming them.
    uint8_t peekByte();
    uint16_t peekU16(size_t offset = 0);

    // Waits up to waitMs for unread input; true when bytes are buffered or the server closed
    // (the next receive then reports it). False on time-out or when a signal interrupted it.
    bool waitForInput(int waitMs);

    int timeoutMs() const { return timeout; }

private:
    // Pulls what the socket has into the buffer, waiting up to waitMs; false when nothing came.
    bool fill(int waitMs);
    void ensure(size_t size);

    int fd = -1;
    int timeout;
    bool peerClosed = false;
    std::vector<uint8_t> buffer;
    size_t readPos = 0;
};

// Big-endian helpers for building request packets.
void appendU16(std::vector<uint8_t>& out, uint16_t value);
void appendU32(std::vector<uint8_t>& out, uint32_t value);
uint16_t loadU16(const uint8_t* p);
// The commands the realtime and live-feature streams share: 't', u16 position, u16 threshold;
// 'm', u32 length, the JSON text.
std::vector<uint8_t> thresholdCommand(uint16_t position, uint16_t threshold);
std::vector<uint8_t> messageCommand(const std::string& json);
uint32_t loadU32(const uint8_t* p);

}  // namespace fyclient
