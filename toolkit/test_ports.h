#pragma once
// A loopback port for a test's server. Ports the system hands out to outgoing connections (and
// to bind with port 0) are reused by parallel tests' connections the moment they are released,
// so a port found that way may be gone before the server binds it. This one is drawn at random
// from below that range and checked free by binding it without SO_REUSEADDR.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <random>

namespace fy_test {

// The lowest port of the system's ephemeral range (32768 when it cannot be read).
inline int ephemeralPortsStart() {
    std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range");
    int low = 0;
    return range >> low && low > 0 ? low : 32768;
}

// Binds 127.0.0.1:port for a moment; returns the port bound (the system's choice for 0), or 0.
inline int bindLoopbackBriefly(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int bound = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        bound = ntohs(address.sin_port);
    ::close(fd);
    return bound;
}

// A TCP port on 127.0.0.1 that was free a moment ago, or -1.
inline int freeLoopbackPort() {
    static std::mt19937 draw{std::random_device{}()};
    const int first = 10000, end = ephemeralPortsStart();
    for (int attempt = 0; end - first >= 1000 && attempt < 50; ++attempt) {
        int port = std::uniform_int_distribution<int>{first, end - 1}(draw);
        if (bindLoopbackBriefly(port) == port) return port;
    }
    int port = bindLoopbackBriefly(0);
    return port > 0 ? port : -1;
}

}  // namespace fy_test
