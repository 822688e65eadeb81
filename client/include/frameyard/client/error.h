#pragma once
// The one exception family of the client library. Every message is one line fit to show a
// user: what failed and, where it helps, what the server sent or which limit it broke.
#include <stdexcept>
#include <string>

#include "frameyard/client/api.h"

namespace frameyard {

class FRAMEYARD_CLIENT_API Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// The server's bytes do not read as the protocol (a broken or hostile server); the connection
// cannot be used any further.
class FRAMEYARD_CLIENT_API ProtocolError : public Error {
public:
    explicit ProtocolError(const std::string& message) : Error(message) {}
};

// A wait for the server ran out of time.
class FRAMEYARD_CLIENT_API TimeoutError : public Error {
public:
    explicit TimeoutError(const std::string& message) : Error(message) {}
};

// The server closed the connection or the connection failed.
class FRAMEYARD_CLIENT_API ConnectionError : public Error {
public:
    explicit ConnectionError(const std::string& message) : Error(message) {}
};

}  // namespace frameyard
