// A small but complete host of the realtime-only library: one simulated 640 x 480 camera with
// a blob that moves along a line. Run it to serve clients on port 4000 (or the port given as the
// only argument); with --self-test it serves a loopback realtime client of its own, checks the
// first frame and that a configure request and a command exchange are answered, and exits
// (status 0 on success). Written in C++11, as many hosts that only stream are.
#include <frameyard/server_rt.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

class LineHost : public store::Server {
public:
    // A new frame every 10 ms while some client streams.
    void tick() {
        if (!streaming) return;
        std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
        if (now < nextFrame) return;
        nextFrame = now + std::chrono::milliseconds(10);
        ++frames;
        frame.centroids.assign(1, std::vector<Centroid>());
        Centroid blob = {static_cast<float>(frames % 640), 240.0f};
        frame.centroids[0].push_back(blob);
        frame.timecode[0] = 0;
        frame.timecode[1] = static_cast<int>(frames / 6000 % 60);
        frame.timecode[2] = static_cast<int>(frames / 100 % 60);
        frame.timecode[3] = static_cast<int>(frames % 100);
        fresh = true;
    }
    int stopCount() const { return stops; }

    void reportError(const std::string& message) override { std::fprintf(stderr, "error: %s\n", message.c_str()); }
    void reportWarning(const std::string& message) override { std::fprintf(stderr, "warning: %s\n", message.c_str()); }
    int cameraCount() override { return 1; }
    int cameraThreshold(int) override { return threshold; }
    bool setCameraThreshold(int, int value) override {
        threshold = value;
        return true;
    }
    float cameraPixelAspectRatio(int) override { return 1.0f; }
    std::vector<CircularMask> cameraCircularMasks(int) override { return masks; }
    void setCameraCircularMasks(int, const std::vector<CircularMask>& table) override { masks = table; }
    std::string cameraName(int) override { return "line"; }
    int cameraImageWidth(int) override { return 640; }
    int cameraImageHeight(int) override { return 480; }
    void realtimeStarting() override { std::printf("host: a realtime client is ready\n"); }
    bool frameAvailable() override { return fresh; }
    const Frame* currentFrame() override {
        fresh = false;
        return &frame;
    }
    void startRealtime() override {
        streaming = true;
        nextFrame = std::chrono::steady_clock::now();
    }
    void stopRealtime() override {
        streaming = false;
        ++stops;
        std::printf("host: the last realtime client has gone\n");
    }
    // Never called; they hold the slot order of the callback table.
    void reserved16() override {}
    void reserved17() override {}

private:
    int threshold = 40;
    std::vector<CircularMask> masks;
    Frame frame;
    bool fresh = false;
    bool streaming = false;
    int stops = 0;
    long frames = 0;
    std::chrono::steady_clock::time_point nextFrame;
};

// A port nothing listens on now: the kernel picks one for a socket bound to port 0.
int freePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = -1;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0) ::close(fd);
    return port;
}

int connectTo(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return -1;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

// Sends a request and runs the host until `size` bytes of answer came (or ten seconds passed).
std::vector<unsigned char> ask(LineHost& host, int fd, const std::string& request, size_t size) {
    std::vector<unsigned char> answer;
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) return answer;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (answer.size() < size && std::chrono::steady_clock::now() < deadline) {
        host.tick();
        host.checkForEvent();
        unsigned char buffer[256];
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) answer.insert(answer.end(), buffer, buffer + n);
        if (n == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return answer;
}

int selfTest() {
    LineHost host;
    int port = freePort();
    host.setListenPort(port);
    if (port <= 0 || !host.startListening()) return 1;
    std::printf("self-test: listening on port %d\n", port);

    // 'R' then '1': plain opening, full centroids; one camera of one blob is 2 + 10 bytes.
    int stream = connectTo(port);
    std::vector<unsigned char> first = ask(host, stream, "R1", 12);
    if (first.size() < 12 || first[0] != 0 || first[1] != 1) {
        std::fprintf(stderr, "self-test: no frame of one blob (%zu bytes)\n", first.size());
        return 1;
    }
    // A configure request for the thresholds: 'c', 'g', 't' is answered u16 count, u16 value.
    int configure = connectTo(port);
    std::vector<unsigned char> thresholds = ask(host, configure, "cgt", 4);
    // A command exchange: the realtime-only library knows string commands only.
    int command = connectTo(port);
    std::string enable = "\"enable_realtime_messages\"";
    std::string request = std::string("C") + std::string(3, '\0') + static_cast<char>(enable.size()) + enable;
    std::vector<unsigned char> reply = ask(host, command, request, 8);
    std::string replyText(reply.begin() + (reply.size() >= 4 ? 4 : 0), reply.end());
    std::printf("self-test: first frame 12 bytes; thresholds answer %zu bytes; command reply %s\n",
                thresholds.size(), replyText.c_str());
    if (thresholds.size() < 4 || thresholds[3] != 40 || replyText != "\"ok\"") return 1;

    ::close(stream);
    ::close(configure);
    ::close(command);
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((host.clientCount() > 0 || host.stopCount() == 0) && std::chrono::steady_clock::now() < deadline) {
        host.checkForEvent();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (host.clientCount() != 0 || host.stopCount() != 1) {
        std::fprintf(stderr, "self-test: the sessions did not end\n");
        return 1;
    }
    host.stopListening();
    std::printf("self-test: clients gone, stopped cleanly\n");
    return 0;
}

int serve(int port) {
    LineHost host;
    host.setListenPort(port);
    if (!host.startListening()) return 1;
    std::signal(SIGINT, [](int) { stopRequested = 1; });
    std::signal(SIGTERM, [](int) { stopRequested = 1; });
    std::printf("serving one camera on port %d; Ctrl-C stops\n", port);
    host.setFrameRate(100.0f);
    while (!stopRequested) {
        host.tick();
        host.checkForEvent();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    host.stopListening();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--self-test") == 0) return selfTest();
    return serve(argc > 1 ? std::atoi(argv[1]) : 4000);
}
