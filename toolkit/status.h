#pragma once
// The outcome of a fallible operation on the system: success, or what failed, named in the
// words its diagnostic or host text uses, with the system's error number (errno) at the time.
// It reports nothing itself: whoever must tell someone writes message() through the one
// diagnostic function or hands it to the host.
#include <string>
#include <utility>

class LuStatus {
public:
    // Success.
    LuStatus() = default;

    // A failure of `what` with the system error `error`; 0 when the failure has none of its
    // own, so that the text stands alone.
    static LuStatus failure(std::string what, int error);
    // A failure of `what` with the current errno; call it straight after the failing call,
    // before anything else can change errno.
    static LuStatus systemFailure(const char* what);

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    // Empty on success.
    const std::string& what() const { return what_; }
    // 0 on success and for failures without a system error.
    int error() const { return error_; }
    // "<what>: <strerror(error)>", the way perror() and the host texts word it; `what` alone
    // without a system error; empty on success.
    std::string message() const;

private:
    LuStatus(std::string what, int error) : what_(std::move(what)), error_(error), failed_(true) {}

    std::string what_;
    int error_ = 0;
    bool failed_ = false;
};
