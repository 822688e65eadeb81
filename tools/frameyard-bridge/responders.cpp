#include "tools/frameyard-bridge/responders.h"

#include <cmath>
#include <optional>

#include "tools/frameyard-bridge/nats_link.h"

namespace bridge {
namespace {

const char* const badRequest = R"(["error","bad_request"])";
constexpr size_t kMaxWaitingRequests = 1024;

std::string errorReply(const std::string& text) {
    std::string quoted;
    for (char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    }
    return "[\"error\",\"" + quoted + "\"]";
}

// The request's object, with the named string member present; nullopt otherwise.
std::optional<frameyard::Json> requestWithCamera(std::string_view request) {
    std::optional<frameyard::Json> json = frameyard::parseJson(request);
    if (!json || !json->isObject()) return std::nullopt;
    const frameyard::Json* camera = json->find("camera");
    if (camera == nullptr || !camera->isString()) return std::nullopt;
    return json;
}

std::string unknownCamera(const CameraDirectory& cameras, const std::string& name) {
    if (!cameras.loaded()) return errorReply("the host's cameras are not known yet (is the host running?)");
    return errorReply("unknown camera '" + name + "'");
}

}  // namespace

std::string answerThresholdRequest(std::string_view request, const CameraDirectory& cameras, frameyard::Host& host) {
    std::optional<frameyard::Json> json = requestWithCamera(request);
    const frameyard::Json* threshold = json ? json->find("threshold") : nullptr;
    if (threshold == nullptr || !threshold->isNumber()) return badRequest;
    const std::string& camera = json->find("camera")->text;
    if (!cameras.knows(camera)) return unknownCamera(cameras, camera);
    double value = threshold->number;
    if (value != std::floor(value) || value < 0 || value > 255) {
        return errorReply("threshold " + frameyard::formatNumber(value) + " is out of range (0 to 255)");
    }
    try {
        host.setThreshold(camera, static_cast<int>(value));
    } catch (const frameyard::Error& error) {
        return errorReply(error.what());
    }
    return "\"ok\"";
}

std::string answerSettingRequest(std::string_view request, const CameraDirectory& cameras, frameyard::Host& host) {
    std::optional<frameyard::Json> json = requestWithCamera(request);
    const frameyard::Json* name = json ? json->find("name") : nullptr;
    const frameyard::Json* value = json ? json->find("value") : nullptr;
    if (name == nullptr || !name->isString() || value == nullptr || !value->isNumber()) return badRequest;
    const std::string& camera = json->find("camera")->text;
    if (!cameras.knows(camera)) return unknownCamera(cameras, camera);
    try {
        std::vector<std::string> replies = host.commands(
            {frameyard::wantCamerasCommand({camera}), frameyard::changeSettingCommand(name->text, value->number)});
        // A refused camera choice is the answer; otherwise the setting's own.
        return frameyard::checkReply(replies[0]).ok ? replies[1] : replies[0];
    } catch (const frameyard::Error& error) {
        return errorReply(error.what());
    }
}

Responders::Responders(natsConnection* nats, const std::string& prefix, bool control, const CameraDirectory& cameras,
                       const frameyard::Endpoint& host)
    : nats_(nats), cameras_(cameras), host_(host) {
    subscribe(prefix + ".cameras", &Responders::onCameras);
    if (!control) return;
    worker_ = std::thread([this] { serveControl(); });
    subscribe(prefix + ".control.threshold", &Responders::onThreshold);
    subscribe(prefix + ".control.setting", &Responders::onSetting);
}

Responders::~Responders() {
    for (natsSubscription* subscription : subscriptions_) {
        natsSubscription_Unsubscribe(subscription);
        natsSubscription_Destroy(subscription);
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    pending_.notify_all();
    if (worker_.joinable()) worker_.join();
}

void Responders::subscribe(const std::string& subject, natsMsgHandler handler) {
    natsSubscription* subscription = nullptr;
    natsStatus status = natsConnection_Subscribe(&subscription, nats_, subject.c_str(), handler, this);
    if (status != NATS_OK) throw NatsError("subscribing to " + subject, status);
    subscriptions_.push_back(subscription);
}

void Responders::onCameras(natsConnection*, natsSubscription*, natsMsg* message, void* self) {
    auto* responders = static_cast<Responders*>(self);
    if (const char* replyTo = natsMsg_GetReply(message)) responders->reply(replyTo, responders->cameras_.answer());
    natsMsg_Destroy(message);
}

void Responders::onThreshold(natsConnection*, natsSubscription*, natsMsg* message, void* self) {
    static_cast<Responders*>(self)->enqueue(true, message);
}

void Responders::onSetting(natsConnection*, natsSubscription*, natsMsg* message, void* self) {
    static_cast<Responders*>(self)->enqueue(false, message);
}

void Responders::enqueue(bool threshold, natsMsg* message) {
    const char* replyTo = natsMsg_GetReply(message);
    if (replyTo != nullptr && replyTo[0] != '\0') {
        const char* data = natsMsg_GetData(message);
        int length = natsMsg_GetDataLength(message);
        Request request{threshold, data != nullptr && length > 0 ? std::string(data, static_cast<size_t>(length)) : "",
                        replyTo};
        std::unique_lock<std::mutex> lock(mutex_);
        if (requests_.size() < kMaxWaitingRequests) {
            requests_.push_back(std::move(request));
        } else {
            // Each request waits for the host; a flood of them must not grow without bound.
            lock.unlock();
            reply(request.replyTo, errorReply("too many control requests waiting"));
        }
    }
    natsMsg_Destroy(message);
    pending_.notify_one();
}

void Responders::serveControl() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        pending_.wait(lock, [this] { return stopping_ || !requests_.empty(); });
        if (stopping_) return;
        Request request = std::move(requests_.front());
        requests_.pop_front();
        lock.unlock();
        std::string answer = request.threshold ? answerThresholdRequest(request.body, cameras_, host_)
                                               : answerSettingRequest(request.body, cameras_, host_);
        reply(request.replyTo, answer);
        lock.lock();
    }
}

void Responders::reply(const std::string& subject, const std::string& text) {
    natsConnection_Publish(nats_, subject.c_str(), text.data(), static_cast<int>(text.size()));
}

}  // namespace bridge
