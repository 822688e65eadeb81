#include "tools/frameyard-bridge/nats_link.h"

#include <memory>

namespace bridge {
namespace {

void check(natsStatus status, const std::string& what) {
    if (status != NATS_OK) throw NatsError(what, status);
}

void onFirstConnect(natsConnection*, void*) {}

struct OptionsDeleter {
    void operator()(natsOptions* options) const { natsOptions_Destroy(options); }
};

std::unique_ptr<natsOptions, OptionsDeleter> makeOptions(const std::vector<std::string>& urls) {
    natsOptions* raw = nullptr;
    check(natsOptions_Create(&raw), "creating NATS options");
    std::unique_ptr<natsOptions, OptionsDeleter> options(raw);
    std::vector<const char*> servers;
    for (const std::string& url : urls) servers.push_back(url.c_str());
    check(natsOptions_SetServers(raw, servers.data(), static_cast<int>(servers.size())), "setting the NATS servers");
    check(natsOptions_SetMaxReconnect(raw, -1), "setting NATS reconnects");
    check(natsOptions_SetReconnectWait(raw, 250), "setting the NATS reconnect wait");
    check(natsOptions_SetReconnectBufSize(raw, NatsLink::reconnectBufferBytes), "setting the NATS reconnect buffer");
    check(natsOptions_SetTimeout(raw, 2000), "setting the NATS connect time-out");
    // A server killed without closing its sockets is noticed within a few seconds.
    check(natsOptions_SetPingInterval(raw, 2000), "setting the NATS ping interval");
    check(natsOptions_SetMaxPingsOut(raw, 2), "setting the NATS pings");
    // With a callback the first connection is made in the background: the bridge reads the host
    // (and counts what it cannot publish) while no server answers yet.
    check(natsOptions_SetRetryOnFailedConnect(raw, true, onFirstConnect, nullptr), "setting NATS connect retries");
    return options;
}

}  // namespace

NatsError::NatsError(const std::string& what, natsStatus status)
    : std::runtime_error(what + ": " + natsStatus_GetText(status)) {}

NatsLink::NatsLink(const std::vector<std::string>& urls) {
    auto options = makeOptions(urls);
    natsStatus status = natsConnection_Connect(&connection_, options.get());
    // Not yet connected: libnats goes on trying in the background.
    if (status != NATS_NOT_YET_CONNECTED) check(status, "connecting to NATS");
}

NatsLink::~NatsLink() {
    if (connection_ == nullptr) return;
    if (connected()) natsConnection_FlushTimeout(connection_, 2000);
    natsConnection_Destroy(connection_);
}

bool NatsLink::connected() const { return natsConnection_Status(connection_) == NATS_CONN_STATUS_CONNECTED; }

std::string NatsLink::serverInUse() const {
    char url[256] = {0};
    if (!connected() || natsConnection_GetConnectedUrl(connection_, url, sizeof url) != NATS_OK || url[0] == '\0') {
        return "none";
    }
    return url;
}

void NatsLink::ensureStream(const std::string& name, const std::vector<std::string>& subjects, int maxAgeSeconds) {
    jsCtx* js = nullptr;
    check(natsConnection_JetStream(&js, connection_, nullptr), "opening JetStream");
    std::unique_ptr<jsCtx, void (*)(jsCtx*)> context(js, jsCtx_Destroy);
    jsStreamInfo* info = nullptr;
    jsErrCode code = static_cast<jsErrCode>(0);
    natsStatus status = js_GetStreamInfo(&info, js, name.c_str(), nullptr, &code);
    if (status == NATS_OK) {
        jsStreamInfo_Destroy(info);
        return;
    }
    if (status != NATS_NOT_FOUND) throw NatsError("looking up JetStream stream '" + name + "'", status);
    std::vector<const char*> subjectNames;
    for (const std::string& subject : subjects) subjectNames.push_back(subject.c_str());
    jsStreamConfig config;
    jsStreamConfig_Init(&config);
    config.Name = name.c_str();
    config.Subjects = subjectNames.data();
    config.SubjectsLen = static_cast<int>(subjectNames.size());
    config.Storage = js_FileStorage;
    config.Replicas = 1;
    config.MaxAge = static_cast<int64_t>(maxAgeSeconds) * 1000000000LL;
    check(js_AddStream(&info, js, &config, nullptr, &code), "creating JetStream stream '" + name + "'");
    jsStreamInfo_Destroy(info);
}

void NatsLink::flush(int timeoutMs) {
    if (connected()) natsConnection_FlushTimeout(connection_, timeoutMs);
}

}  // namespace bridge
