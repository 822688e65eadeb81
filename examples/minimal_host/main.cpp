// A small but complete frameyard host: two simulated 640 x 480 cameras whose blobs move in
// circles. Run it to serve clients on port 4000 (or the port given as the only argument);
// with --self-test it serves one loopback realtime client of its own, reports what that client
// received, and exits (status 0 on success).
#include <frameyard/server.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

class MinimalHost : public store::Server {
public:
    static constexpr int cameras = 2;
    static constexpr int blobsPerCamera = 3;

    ~MinimalHost() = default;

    // Makes a new frame every 20 ms while some client streams.
    void tick() {
        if (!streaming) return;
        auto now = std::chrono::steady_clock::now();
        if (now < nextFrame) return;
        nextFrame = now + std::chrono::milliseconds(20);
        ++frameNumber;
        frame.centroids.assign(cameras, {});
        for (int camera = 0; camera < cameras; ++camera) {
            for (int blob = 0; blob < blobsPerCamera; ++blob) {
                double angle = 0.05 * frameNumber + blob * 2.1 + camera;
                float x = static_cast<float>(320 + 150 * std::cos(angle));
                float y = static_cast<float>(240 + 150 * std::sin(angle));
                frame.centroids[camera].push_back(Centroid{x, y});
            }
        }
        frame.timecode = {{static_cast<int>(frameNumber / 90000), static_cast<int>(frameNumber / 1500 % 60),
                           static_cast<int>(frameNumber / 25 % 60), static_cast<int>(frameNumber % 25)}};
        fresh = true;
    }

    bool isStreaming() const { return streaming; }
    int stopCount() const { return stops; }

    void reportError(const std::string& message) override { std::fprintf(stderr, "error: %s\n", message.c_str()); }
    void reportWarning(const std::string& message) override {
        std::fprintf(stderr, "warning: %s\n", message.c_str());
    }
    int cameraCount() override { return cameras; }
    int cameraThreshold(int camera) override { return threshold[index(camera)]; }
    bool setCameraThreshold(int camera, int value) override {
        threshold[index(camera)] = value;
        return true;
    }
    std::vector<NumberSetting> cameraNumberSettings(int camera) override {
        return {NumberSetting{"gain", gain[index(camera)], 0.0f, 16.0f, 1}};
    }
    bool changeCameraSetting(int camera, const std::string& name, float value) override {
        if (name != "gain") return false;
        gain[index(camera)] = value;
        return true;
    }
    float cameraPixelAspectRatio(int) override { return 1.0f; }
    std::vector<CircularMask> cameraCircularMasks(int camera) override { return circular[index(camera)]; }
    void setCameraCircularMasks(int camera, const std::vector<CircularMask>& masks) override {
        circular[index(camera)] = masks;
    }
    bool cameraSupportsRectangularMasks(int) override { return true; }
    std::vector<RectangularMask> cameraRectangularMasks(int camera) override { return rectangles[index(camera)]; }
    void addCameraRectangularMask(int camera, const RectangularMask& mask) override {
        rectangles[index(camera)].push_back(mask);
        cameraRectangularMasksChanged(camera);
    }
    void deleteCameraRectangularMask(int camera, const RectangularMask& mask) override {
        std::vector<RectangularMask>& list = rectangles[index(camera)];
        for (size_t i = 0; i < list.size(); ++i) {
            if (std::fabs(list[i].x - mask.x) < 0.01f && std::fabs(list[i].y - mask.y) < 0.01f) {
                list.erase(list.begin() + static_cast<long>(i));
                break;
            }
        }
    }
    std::string cameraName(int camera) override { return camera == 0 ? "left" : "right"; }
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
    // This host has no live images and records nothing.
    void setCameraFeaturesWanted(int, bool) override {}
    void setCameraImagesWanted(int, bool) override {}
    bool cameraImageAvailable(int) override { return false; }
    Image cameraImage(int) override { return Image{nullptr, nullptr, nullptr}; }
    void releaseCameraImage(int) override {}
    bool acquireSupported() override { return false; }
    void setAcquireRequest(int, const std::vector<AcquireFrame>&) override {}
    bool acquireReady(int) override { return false; }
    void acquireGo(int) override {}
    bool acquireFieldReady(int) override { return false; }
    void startAcquireRecording(int) override {}
    void stopAcquireRecording(int) override {}
    bool acquireRecordingFinished(int) override { return true; }
    int acquiredFrameCount(int) override { return 0; }
    bool acquiredTimecodeAvailable(int, int) override { return false; }
    bool acquiredImageAvailable(int, int) override { return false; }
    bool acquiredGlobsAvailable(int, int) override { return false; }
    Timecode acquiredTimecode(int, int) override { return Timecode{{0, 0, 0, 0}}; }
    AcquiredImage acquiredImage(int, int, int) override { return AcquiredImage{0, 0, nullptr}; }
    std::vector<Centroid> acquiredCentroids(int, int, int) override { return {}; }
    void endAcquire(int) override {}

private:
    static int index(int camera) { return camera == 1 ? 1 : 0; }

    int threshold[cameras] = {40, 40};
    float gain[cameras] = {1.0f, 1.0f};
    std::vector<CircularMask> circular[cameras];
    std::vector<RectangularMask> rectangles[cameras];
    Frame frame;
    bool fresh = false;
    bool streaming = false;
    int stops = 0;
    long frameNumber = 0;
    std::chrono::steady_clock::time_point nextFrame;
};

int freePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
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

// The host and its client share this thread, so the client never blocks: it reads what has
// arrived and the host's loop runs in between.
int selfTest() {
    MinimalHost host;
    int port = freePort();
    if (port <= 0) {
        std::fprintf(stderr, "self-test: no free port\n");
        return 1;
    }
    host.setListenPort(port);
    if (!host.startListening()) return 1;
    std::printf("self-test: listening on port %d\n", port);

    int client = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (client < 0 || ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::fprintf(stderr, "self-test: cannot connect: %s\n", std::strerror(errno));
        return 1;
    }
    ::fcntl(client, F_SETFL, ::fcntl(client, F_GETFL) | O_NONBLOCK);
    // 'R' chooses realtime streaming, '1' is the final opening option: no compact form, no
    // timecodes, no handshake. Every frame is then, per camera, a u16 count and 10 bytes a blob.
    const char opening[] = {'R', '1'};
    if (::send(client, opening, sizeof opening, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof opening)) return 1;

    const size_t frameSize = MinimalHost::cameras * (2 + 10 * MinimalHost::blobsPerCamera);
    std::vector<unsigned char> received;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (received.size() < frameSize && std::chrono::steady_clock::now() < deadline) {
        host.tick();
        host.checkForEvent();
        unsigned char buffer[512];
        ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n > 0) received.insert(received.end(), buffer, buffer + n);
        if (n == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (received.size() < frameSize) {
        std::fprintf(stderr, "self-test: got %zu bytes, expected a frame of %zu\n", received.size(), frameSize);
        return 1;
    }
    unsigned count0 = (unsigned(received[0]) << 8) | received[1];
    std::printf("self-test: first byte 'R' accepted; first frame %zu bytes, %u blobs on camera 0, %u clients\n",
                frameSize, count0, host.clientCount());
    if (count0 != MinimalHost::blobsPerCamera) return 1;

    ::close(client);
    while ((host.clientCount() > 0 || host.stopCount() == 0) && std::chrono::steady_clock::now() < deadline) {
        host.checkForEvent();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (host.clientCount() != 0 || host.stopCount() != 1) {
        std::fprintf(stderr, "self-test: the client's session did not end\n");
        return 1;
    }
    host.stopListening();
    std::printf("self-test: client gone, stopped cleanly\n");
    return 0;
}

int serve(int port) {
    MinimalHost host;
    host.setListenPort(port);
    if (!host.startListening()) return 1;
    std::signal(SIGINT, [](int) { stopRequested = 1; });
    std::signal(SIGTERM, [](int) { stopRequested = 1; });
    std::printf("serving two cameras on port %d; Ctrl-C stops\n", port);
    host.setFrameRate(50.0f);
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
    int port = argc > 1 ? std::atoi(argv[1]) : 4000;
    return serve(port);
}
