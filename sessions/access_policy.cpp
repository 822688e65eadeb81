#include "sessions/access_policy.h"

#include "toolkit/diagnostics.h"

// ---- the rate-limited log

void RateLimitedLog::write(double now, const std::string& line) {
    if (!mayWrite(now)) {
        ++leftOut_;
        return;
    }
    if (leftOut_ == 0) {
        emit(now, line);
        return;
    }
    emit(now, line + " (" + std::to_string(leftOut_) + " earlier refusals left out)");
}

void RateLimitedLog::flush(double now) {
    if (leftOut_ == 0 || !mayWrite(now)) return;
    emit(now, std::to_string(leftOut_) + " more refusals left out");
}

void RateLimitedLog::emit(double now, const std::string& line) {
    fy::diagnostic("%s\n", line.c_str());
    written_ = true;
    last_ = now;
    leftOut_ = 0;
}

// ---- the policy

bool AccessPolicy::setAllowedClients(const std::string& networks) { return LuNetworkList::parse(networks, allowed_); }

bool AccessPolicy::setControllingClients(const std::string& networks) {
    return LuNetworkList::parse(networks, controlling_);
}

bool AccessPolicy::admits(const LuNetworkAddress& client, unsigned int connected) {
    if (!allowed_.isEmpty() && !allowed_.contains(client)) {
        report("Refused connection from " + client.text() + ": not an allowed client");
        return false;
    }
    if (maxClients_ > 0 && connected >= maxClients_) {
        report("Refused connection from " + client.text() + ": client limit of " + std::to_string(maxClients_) +
               " reached");
        return false;
    }
    return true;
}

bool AccessPolicy::controls(const LuNetworkAddress& client) const {
    return controlling_.isEmpty() || controlling_.contains(client);
}

void AccessPolicy::reportRefusedChange(const std::string& client, const char* what) {
    report(std::string("Refused ") + what + " from " + client + ": not a controlling client");
}
