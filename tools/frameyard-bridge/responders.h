#pragma once
// The bridge's request/reply subjects: PREFIX.cameras always, and with --control the two
// control subjects. Camera descriptions are answered from the directory at once; control
// requests go to a worker thread of their own, so host I/O never holds up a NATS callback.
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <nats/nats.h>

#include <frameyard/client.h>

#include "tools/frameyard-bridge/camera_directory.h"

namespace bridge {

// The replies to the control requests, the host reached through `host`. Every reply is a JSON
// text: "ok", the host's answer, or ["error","TEXT"] (["error","bad_request"] for a request
// that is not of the expected form).
std::string answerThresholdRequest(std::string_view request, const CameraDirectory& cameras, frameyard::Host& host);
std::string answerSettingRequest(std::string_view request, const CameraDirectory& cameras, frameyard::Host& host);

class Responders {
public:
    Responders(natsConnection* nats, const std::string& prefix, bool control, const CameraDirectory& cameras,
               const frameyard::Endpoint& host);
    ~Responders();
    Responders(const Responders&) = delete;
    Responders& operator=(const Responders&) = delete;

private:
    struct Request {
        bool threshold = false;   // else a setting
        std::string body;
        std::string replyTo;
    };
    static void onCameras(natsConnection* nats, natsSubscription* subscription, natsMsg* message, void* self);
    static void onThreshold(natsConnection* nats, natsSubscription* subscription, natsMsg* message, void* self);
    static void onSetting(natsConnection* nats, natsSubscription* subscription, natsMsg* message, void* self);
    void subscribe(const std::string& subject, natsMsgHandler handler);
    void enqueue(bool threshold, natsMsg* message);
    void serveControl();
    void reply(const std::string& subject, const std::string& text);

    natsConnection* nats_;
    const CameraDirectory& cameras_;
    frameyard::Host host_;
    std::vector<natsSubscription*> subscriptions_;
    std::mutex mutex_;
    std::condition_variable pending_;
    std::deque<Request> requests_;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace bridge
