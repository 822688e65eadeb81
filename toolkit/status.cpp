#include "toolkit/status.h"

#include <cerrno>
#include <cstring>

LuStatus LuStatus::failure(std::string what, int error) { return LuStatus(std::move(what), error); }

LuStatus LuStatus::systemFailure(const char* what) {
    // Taken before the text is copied: the allocation may touch errno.
    int error = errno;
    return LuStatus(what, error);
}

std::string LuStatus::message() const {
    if (error_ == 0) return what_;
    return what_ + ": " + std::strerror(error_);
}
