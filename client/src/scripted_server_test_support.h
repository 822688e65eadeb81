#pragma once
// A one-connection server on 127.0.0.1 for the client library's tests: it plays a script against
// the client under test on a thread of its own.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "frameyard/client/connection.h"

namespace frameyard {

class ScriptedServer {
public:
    explicit ScriptedServer(std::function<void(int fd)> script) {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener, 1);
        socklen_t length = sizeof address;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        worker = std::thread([this, script] {
            int fd = ::accept(listener, nullptr, nullptr);
            if (fd < 0) return;
            script(fd);
            ::close(fd);
        });
    }
    ~ScriptedServer() {
        join();
        ::close(listener);
    }
    // Waits for the script to end (unblocking an accept that never came).
    void join() {
        if (!worker.joinable()) return;
        ::shutdown(listener, SHUT_RDWR);
        worker.join();
    }
    Endpoint endpoint() const {
        Endpoint e;
        e.port = port;
        e.timeoutMs = 2000;
        return e;
    }

private:
    int listener;
    int port = 0;
    std::thread worker;
};

inline std::string readBytes(int fd, size_t n) {
    std::string out;
    char c;
    while (out.size() < n && ::recv(fd, &c, 1, 0) == 1) out += c;
    return out;
}

inline void writeBytes(int fd, const std::vector<uint8_t>& bytes) { ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

}  // namespace frameyard
