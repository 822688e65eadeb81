#pragma once
// Who may connect and who may change the host: the host's allowed and controlling client lists
// and its client limit. Decisions are taken when a connection is accepted, and a session keeps
// what it was given when the host changes them later. Every refusal is one line on standard
// error naming the client, at most one line per second in all, so that a hostile client cannot
// flood the host's log.
#include <string>

#include "net/clock.h"
#include "net/network_address.h"

// Diagnostic lines at most one per interval. Lines that come too soon are counted, and the count
// goes out with the next line or, once the interval has passed, on a line of its own.
class RateLimitedLog {
public:
    explicit RateLimitedLog(double intervalSeconds = 1.0) : interval_(intervalSeconds) {}

    // `now` in seconds on any monotonic clock; the line is given without its newline.
    void write(double now, const std::string& line);
    // Tells the count of lines left out once a line may go out again; cheap when there is none.
    void flush(double now);
    bool hasLeftOut() const { return leftOut_ > 0; }

private:
    bool mayWrite(double now) const { return !written_ || now - last_ >= interval_; }
    void emit(double now, const std::string& line);

    double interval_;
    bool written_ = false;
    double last_ = 0.0;
    unsigned long leftOut_ = 0;
};

class AccessPolicy {
public:
    // Every client may connect and change the host, without limit.
    AccessPolicy() = default;

    // Comma-separated addresses and networks (LuNetworkList); empty admits every client. False
    // for a malformed list, which changes nothing.
    bool setAllowedClients(const std::string& networks);
    // The same form; empty lets every admitted client change the host.
    bool setControllingClients(const std::string& networks);
    // 0 sets no limit.
    void setMaxClients(unsigned int count) { maxClients_ = count; }

    // Whether a connection from the client may stay when `connected` sessions exist already;
    // a refusal is reported.
    bool admits(const LuNetworkAddress& client, unsigned int connected);
    // Whether an admitted client may change the host.
    bool controls(const LuNetworkAddress& client) const;
    // A change the client may not make was not passed on ("threshold change", ...).
    void reportRefusedChange(const std::string& client, const char* what);
    // A count of refusals left out waits to be told.
    bool hasPendingReport() const { return log_.hasLeftOut(); }
    // Once per poll: lets the count of refusals left out be told without waiting for the next.
    // Costs no clock reading while none was left out, which is nearly always.
    void flush() {
        if (log_.hasLeftOut()) log_.flush(clock_.now());
    }

private:
    void report(const std::string& line) { log_.write(clock_.now(), line); }

    LuNetworkList allowed_;
    LuNetworkList controlling_;
    unsigned int maxClients_ = 0;
    RyStoreProtocol::RealClock clock_;
    RateLimitedLog log_;
};
