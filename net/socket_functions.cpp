#include "net/socket_functions.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "net/network_address.h"
#include "toolkit/diagnostics.h"

namespace {

// Readiness for reading in the sense select() gives it: data, end of stream, or an error that a
// read would report.
constexpr short readableEvents = POLLIN | POLLRDNORM | POLLRDBAND | POLLHUP | POLLERR;

// Errors other than EINTR are unexpected from poll(); retrying them forever would hang the host.
constexpr int maxUnexpectedPollFailures = 16;

// poll()'s time-out in milliseconds, rounded up so that a short positive wait does not become a
// busy test; -1 waits without limit.
int timeoutMilliseconds(long seconds, long microseconds) {
    if (seconds < 0) return -1;
    if (microseconds < 0) microseconds = 0;
    if (seconds >= INT_MAX / 1000) return INT_MAX;
    long long total = static_cast<long long>(seconds) * 1000 + (microseconds + 999) / 1000;
    return total > INT_MAX ? INT_MAX : static_cast<int>(total);
}

int clampLength(size_t length) { return length > INT_MAX ? INT_MAX : static_cast<int>(length); }

// The one line a failure has always been reported with, "<call>: <reason>" as perror() words it.
LuStatus written(LuStatus failure) {
    fy::diagnostic("%s\n", failure.message().c_str());
    return failure;
}

// setsockopt() with an int value, so that every option reads the same way.
LuStatus setIntOption(int descriptor, int level, int option, int value) {
    if (::setsockopt(descriptor, level, option, &value, sizeof value) != 0)
        return LuStatus::systemFailure("setsockopt");
    return LuStatus();
}

// One poll() over the set, repeated on interruption with the remaining time.
int pollForInput(std::vector<pollfd>& set, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    int failures = 0;
    int remaining = timeoutMs;
    for (;;) {
        int result = ::poll(set.data(), static_cast<nfds_t>(set.size()), remaining);
        if (result >= 0) return result;
        // The wait was a select() once; the line keeps the wording hosts have always seen.
        LuStatus failed = LuStatus::systemFailure("select");
        if (failed.error() == EBADF) return -1;
        if (failed.error() != EINTR) {
            written(failed);
            if (++failures >= maxUnexpectedPollFailures) return -1;
        }
        if (timeoutMs > 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            remaining = left > 0 ? static_cast<int>(left) : 0;
        }
    }
}

const char* addressText(int descriptor, char* buffer, bool peer) {
    sockaddr_storage address;  // 128 bytes
    socklen_t size = sizeof address;
    std::memset(&address, 0, sizeof address);
    int result = peer ? ::getpeername(descriptor, reinterpret_cast<sockaddr*>(&address), &size)
                      : ::getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &size);
    if (result != 0) return nullptr;
    LuNetworkAddress found = LuNetworkAddress::fromSocketAddress(reinterpret_cast<const sockaddr*>(&address), size);
    // Both lookups, getpeername() and getsockname(), have always reported under this one name,
    // and hosts see the same lines from either.
    if (!found.isValid()) {
        fy::diagnostic("LuSocketGetPeerName: unknown family\n");
        return nullptr;
    }
    std::string text = found.text();
    if (text.size() >= LuSocketAddressTextSize) {
        fy::diagnostic("LuSocketGetPeerName: failed to get string\n");
        return nullptr;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return buffer;
}

}  // namespace

int LuSocketCreate() {
    int descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
    if (descriptor >= 0) ::fcntl(descriptor, F_SETFD, FD_CLOEXEC);
    return descriptor;
}

int LuSocketCreateFor(const LuNetworkAddress& address) {
    bool ipv6 = address.family() == LuNetworkAddress::Family::ipv6;
    int descriptor = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (descriptor < 0) return descriptor;
    ::fcntl(descriptor, F_SETFD, FD_CLOEXEC);
    if (ipv6) {
        // Some systems default to IPv6 only; "::" must take IPv4 clients as well.
        int off = 0;
        ::setsockopt(descriptor, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    }
    return descriptor;
}

LuStatus LuSocketSetReuseAddr(int descriptor, bool on) {
    return setIntOption(descriptor, SOL_SOCKET, SO_REUSEADDR, on ? 1 : 0);
}

LuStatus LuSocketSetNoDelay(int descriptor, bool on) {
    return setIntOption(descriptor, IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0);
}

LuStatus LuSocketBind(int descriptor, uint16_t port) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    if (::bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return LuStatus::systemFailure("bind");
    return LuStatus();
}

LuStatus LuSocketBindTo(int descriptor, const LuNetworkAddress& address, uint16_t port) {
    sockaddr_storage socketAddress;
    socklen_t length = address.toSocketAddress(port, socketAddress);
    if (::bind(descriptor, reinterpret_cast<const sockaddr*>(&socketAddress), length) != 0)
        return LuStatus::systemFailure("bind");
    return LuStatus();
}

LuStatus LuSocketListen(int descriptor, int backlog) {
    if (::listen(descriptor, backlog) != 0) return LuStatus::systemFailure("listen");
    return LuStatus();
}

int LuSocketAccept(int descriptor) {
    sockaddr_storage address;
    socklen_t size = sizeof address;
    return ::accept(descriptor, reinterpret_cast<sockaddr*>(&address), &size);
}

int LuSocketAcceptIfReady(int descriptor) {
    if (!LuSocketIsReadable(descriptor)) return -1;
    return LuSocketAccept(descriptor);
}

bool LuSocketIsReadable(int descriptor) {
    bool ready = false;
    return LuSocketWaitForInput(&descriptor, &ready, 1, 0, 0) > 0 && ready;
}

int LuSocketWaitForInput(const int* descriptors, bool* readyFlags, int count, long seconds,
                         long microseconds) {
    if (count <= 0) return 0;
    std::vector<pollfd> set(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        set[i].fd = descriptors[i];  // poll() skips negative descriptors
        set[i].events = POLLIN;
        set[i].revents = 0;
    }
    int result = pollForInput(set, timeoutMilliseconds(seconds, microseconds));
    int ready = 0;
    for (int i = 0; i < count && result > 0; ++i) {
        if (set[i].revents & POLLNVAL) result = -1;  // what select() reports as EBADF
    }
    for (int i = 0; i < count; ++i) {
        bool flag = result > 0 && (set[i].revents & readableEvents) != 0;
        if (flag) ++ready;
        if (readyFlags) readyFlags[i] = flag;
    }
    return result < 0 ? -1 : ready;
}

LuStatus LuSocketSetNonBlocking(int descriptor, bool on) {
    int flags = ::fcntl(descriptor, F_GETFL, 0);
    if (flags < 0) return written(LuStatus::systemFailure("fcntl F_GETFL"));
    flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (::fcntl(descriptor, F_SETFL, flags) < 0) return written(LuStatus::systemFailure("fcntl F_SETFL"));
    return LuStatus();
}

LuStatus LuSocketIsNonBlocking(int descriptor, bool& nonBlocking) {
    int flags = ::fcntl(descriptor, F_GETFL, 0);
    if (flags < 0) return written(LuStatus::systemFailure("fcntl F_GETFL"));
    nonBlocking = (flags & O_NONBLOCK) != 0;
    return LuStatus();
}

namespace {

// What a send() or sendmsg() result means to a writer: the count, 0 when nothing could go now
// (a full buffer, an interruption), or -1 with the failure.
int sendResult(ssize_t sent, LuStatus& failure) {
    if (sent > 0) return static_cast<int>(sent);
    if (sent == 0 || errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    failure = LuStatus::systemFailure("send");
    return -1;
}

}  // namespace

int LuSocketSendQuietly(int descriptor, const void* buffer, size_t length, LuStatus& failure) {
    return sendResult(::send(descriptor, buffer, static_cast<size_t>(clampLength(length)), MSG_NOSIGNAL), failure);
}

int LuSocketSend(int descriptor, const void* buffer, size_t length) {
    LuStatus failure;
    int result = LuSocketSendQuietly(descriptor, buffer, length, failure);
    if (result < 0) written(failure);
    return result;
}

int LuSocketSendPiecesQuietly(int descriptor, const LuBytePiece* pieces, size_t count, LuStatus& failure) {
    iovec vector[LuSocketMaxPiecesPerSend];
    int used = 0;
    size_t room = INT_MAX;
    for (size_t i = 0; i < count && used < static_cast<int>(LuSocketMaxPiecesPerSend) && room > 0; ++i) {
        if (pieces[i].length == 0) continue;
        size_t length = pieces[i].length < room ? pieces[i].length : room;
        // sendmsg() only reads through iov_base.
        vector[used].iov_base = const_cast<uint8_t*>(pieces[i].data);
        vector[used].iov_len = length;
        room -= length;
        ++used;
    }
    if (used == 0) return 0;
    msghdr message{};
    message.msg_iov = vector;
    message.msg_iovlen = static_cast<decltype(message.msg_iovlen)>(used);
    // Gathered sends serve writers that must never wait, whatever mode the descriptor is in.
    return sendResult(::sendmsg(descriptor, &message, MSG_NOSIGNAL | MSG_DONTWAIT), failure);
}

int LuSocketSendPieces(int descriptor, const LuBytePiece* pieces, size_t count) {
    LuStatus failure;
    int result = LuSocketSendPiecesQuietly(descriptor, pieces, count, failure);
    if (result < 0) written(failure);
    return result;
}

int LuSocketRecv(int descriptor, void* buffer, size_t length) {
    // recv() of 0 bytes returns 0, which would read as the peer having closed.
    if (length == 0) return 0;
    ssize_t received = ::recv(descriptor, buffer, static_cast<size_t>(clampLength(length)), 0);
    if (received > 0) return static_cast<int>(received);
    if (received == 0) return -1;
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    written(LuStatus::systemFailure("recv"));
    return -1;
}

LuStatus LuSocketSetTimeout(int descriptor, float seconds) {
    double value = std::isnan(seconds) ? 0.0 : seconds;
    if (value > 1e9) value = 1e9;  // keeps the conversion below defined
    if (value < -1e9) value = -1e9;
    double whole = std::floor(value);
    timeval time;
    time.tv_sec = static_cast<time_t>(whole);
    time.tv_usec = static_cast<suseconds_t>((value - whole) * 1000000.0);
    // The prefix is the function's established name in this line; the call is named after it.
    if (::setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &time, sizeof time) != 0)
        return written(LuStatus::systemFailure("SetSocketTimeout: setsockopt"));
    return LuStatus();
}

LuStatus LuSocketGetTimeout(int descriptor, float& seconds) {
    timeval time{};
    socklen_t size = sizeof time;
    if (::getsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &time, &size) != 0)
        return LuStatus::systemFailure("getsockopt");
    seconds = static_cast<float>(static_cast<double>(time.tv_sec) + time.tv_usec / 1000000.0);
    return LuStatus();
}

const char* LuSocketGetPeerName(int descriptor, char* buffer) { return addressText(descriptor, buffer, true); }

const char* LuSocketGetSockName(int descriptor, char* buffer) { return addressText(descriptor, buffer, false); }

uint16_t LuSocketGetSockPort(int descriptor) {
    sockaddr_storage address;
    socklen_t size = sizeof address;
    std::memset(&address, 0, sizeof address);
    if (::getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
    if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
    if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    fy::diagnostic("LuSocketGetSockPort: unknown family\n");
    return 0;
}

LuStatus LuSocketAbort(int descriptor) {
    linger value;
    value.l_onoff = 1;
    value.l_linger = 0;
    LuStatus lingered;
    if (::setsockopt(descriptor, SOL_SOCKET, SO_LINGER, &value, sizeof value) != 0)
        lingered = written(LuStatus::systemFailure("setsockopt(2)"));
    LuStatus closed = LuSocketClose(descriptor);
    return lingered ? closed : lingered;
}

LuStatus LuSocketClose(int descriptor) {
    if (::close(descriptor) != 0) return LuStatus::systemFailure("close");
    return LuStatus();
}
