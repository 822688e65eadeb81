// A complete small frameyard client: it lists the host's cameras, streams realtime frames of
// every camera and prints one line per second, raises the first camera's threshold by one and
// waits for the host to announce the change, then puts it back.
//
//   minimal_client [HOST [PORT [SECONDS]]]      (127.0.0.1 4000 5 by default)
//
// It exits with status 0 when frames came and the threshold change was announced, 1 otherwise.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <frameyard/client.h>

int main(int argc, char** argv) {
    frameyard::Endpoint endpoint;
    if (argc > 1) endpoint.host = argv[1];
    if (argc > 2) endpoint.port = std::atoi(argv[2]);
    double seconds = argc > 3 ? std::atof(argv[3]) : 5.0;
    try {
        frameyard::Host host(endpoint);
        std::vector<frameyard::Camera> cameras = host.cameras();
        for (const frameyard::Camera& camera : cameras) std::printf("camera %s\n", camera.name.c_str());
        if (cameras.empty()) return 1;
        int original = host.thresholds().at(0);
        int raised = (original + 1) % 256;

        // Messages on: the stream also carries the host's setting and threshold changes.
        frameyard::RealtimeOptions options;
        options.messages = true;
        frameyard::RealtimeStream stream(endpoint, options);

        using Clock = std::chrono::steady_clock;
        auto start = Clock::now(), nextLine = start + std::chrono::seconds(1);
        auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
        frameyard::Frame frame;
        std::string message;
        unsigned framesThisSecond = 0, framesInAll = 0;
        bool changeSent = false, changeAnnounced = false;
        while (Clock::now() < end) {
            frameyard::Got got = stream.next(frame, message, 100);
            if (got == frameyard::Got::frame) {
                ++framesThisSecond;
                ++framesInAll;
            } else if (got == frameyard::Got::message) {
                std::printf("host says %s\n", message.c_str());
                changeAnnounced = changeAnnounced || message.find("\"setting_changed\"") != std::string::npos;
            }
            if (Clock::now() >= nextLine) {
                std::string timecode = frame.timecode ? frameyard::formatTimecode(*frame.timecode) : "--";
                std::printf("%u frames/s, %zu centroids in the last frame, timecode %s\n", framesThisSecond,
                            frame.centroidCount(), timecode.c_str());
                framesThisSecond = 0;
                nextLine += std::chrono::seconds(1);
                if (!changeSent) {
                    std::printf("threshold of %s: %d -> %d\n", cameras[0].name.c_str(), original, raised);
                    stream.setThreshold(cameras[0].name, raised);
                    changeSent = true;
                }
            }
        }
        host.setThreshold(cameras[0].name, original);
        std::printf("%u frames; threshold change %s\n", framesInAll, changeAnnounced ? "announced" : "not announced");
        return framesInAll > 0 && changeAnnounced ? 0 : 1;
    } catch (const frameyard::Error& error) {
        std::fprintf(stderr, "minimal_client: %s\n", error.what());
        return 1;
    }
}
