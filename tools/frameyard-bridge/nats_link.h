#pragma once
// The bridge's one connection to a NATS server or cluster. It reconnects by itself, forever,
// to any server of the list or of those the cluster advertises; while it is away, libnats keeps
// a small buffer of what is published and refuses the rest.
#include <nats/nats.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace bridge {

class NatsError : public std::runtime_error {
public:
    NatsError(const std::string& what, natsStatus status);
};

class NatsLink {
public:
    // What libnats may hold while it reconnects (counted in the bridge's 64 MiB).
    static constexpr int reconnectBufferBytes = 4 << 20;

    // Connects, or keeps trying in the background when no server answers yet.
    explicit NatsLink(const std::vector<std::string>& urls);
    ~NatsLink();
    NatsLink(const NatsLink&) = delete;
    NatsLink& operator=(const NatsLink&) = delete;

    natsConnection* connection() const { return connection_; }
    bool connected() const;
    // The URL of the server in use, or "none".
    std::string serverInUse() const;

    // Makes sure the named JetStream stream exists: created with file storage, one replica and
    // `maxAgeSeconds` of retention on `subjects` when missing; an existing one is left as it is.
    // Throws NatsError.
    void ensureStream(const std::string& name, const std::vector<std::string>& subjects, int maxAgeSeconds);

    // Sends what is buffered, waiting at most timeoutMs.
    void flush(int timeoutMs);

private:
    natsConnection* connection_ = nullptr;
};

}  // namespace bridge
