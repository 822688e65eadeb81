// The Host facade: configure requests, command exchanges and the few changes only a stream
// carries.
#include "frameyard/client/host.h"

namespace frameyard {
namespace {

template <class Answer, class Decode>
Answer configureGet(const Endpoint& endpoint, ConfigureItem item, Decode decode, const char* what) {
    Connection connection(endpoint);
    connection.send(encodeConfigureGet(item));
    Answer answer{};
    connection.receive([&](const uint8_t* data, size_t size) { return decode(data, size, answer); }, what);
    return answer;
}


}  // namespace

std::string exchangeCommand(Connection& connection, const std::string& json) {
    connection.send(encodeCommand(json));
    std::string reply;
    connection.receive([&](const uint8_t* data, size_t size) { return decodeSized(data, size, reply); },
                       "a command reply");
    return reply;
}

std::string Host::camerasText() {
    return configureGet<std::string>(
        endpoint_, ConfigureItem::descriptions,
        [](const uint8_t* data, size_t size, std::string& text) { return decodeSized(data, size, text); },
        "the camera descriptions");
}

std::vector<Camera> Host::cameras() {
    std::string text = camerasText();
    std::string error;
    std::optional<Json> value = parseJson(text, &error);
    if (!value) throw ProtocolError("the camera descriptions do not parse: " + error);
    return parseCameras(*value);
}

std::vector<int> Host::thresholds() {
    return configureGet<std::vector<int>>(endpoint_, ConfigureItem::thresholds, decodeThresholds, "the thresholds");
}

AspectAnswer Host::aspect() {
    return configureGet<AspectAnswer>(endpoint_, ConfigureItem::aspect, decodeAspect, "the aspect ratio");
}

CameraCountAnswer Host::cameraCount() {
    return configureGet<CameraCountAnswer>(endpoint_, ConfigureItem::cameras, decodeCameraCount, "the camera count");
}

MaskTable Host::circularMasks() {
    std::string bytes = configureGet<std::string>(
        endpoint_, ConfigureItem::masks,
        [](const uint8_t* data, size_t size, std::string& text) { return decodeSized(data, size, text); },
        "the circular masks");
    std::optional<MaskTable> table =
        decodeMaskTable(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (!table) throw ProtocolError("the server sent a mask table that does not decode");
    return *table;
}

void Host::setCircularMasks(const MaskTable& table) {
    Connection connection(endpoint_);
    connection.send(encodeSetMasks(table));
}

void Host::setThreshold(const std::string& camera, int threshold) {
    if (threshold < 0 || threshold > 255) {
        throw Error("threshold " + std::to_string(threshold) + " is out of range (0 to 255)");
    }
    int position = findCamera(cameras(), camera);
    sendOnStream(encodeThreshold(static_cast<uint16_t>(position), static_cast<uint16_t>(threshold)));
}

void Host::setSetting(const std::string& camera, const std::string& setting, double value) {
    std::vector<std::string> replies = commands({wantCamerasCommand({camera}), changeSettingCommand(setting, value)});
    requireOk(replies[0], "choosing camera '" + camera + "'");
    requireOk(replies[1], "changing setting '" + setting + "' of camera '" + camera + "'");
}

void Host::addRectangularMask(const std::string& camera, float x1, float y1, float x2, float y2) {
    int position = findCamera(cameras(), camera);
    sendOnStream(encodeMessage(cameraMessage(position, addRectangularMaskCommand(x1, y1, x2, y2))));
}

void Host::deleteRectangularMask(const std::string& camera, float x1, float y1, float x2, float y2) {
    int position = findCamera(cameras(), camera);
    sendOnStream(encodeMessage(cameraMessage(position, deleteRectangularMaskCommand(x1, y1, x2, y2))));
}

std::string Host::command(const std::string& json) { return commands({json})[0]; }

std::vector<std::string> Host::commands(const std::vector<std::string>& jsons) {
    Connection connection(endpoint_);
    std::vector<std::string> replies;
    for (const std::string& json : jsons) replies.push_back(exchangeCommand(connection, json));
    return replies;
}

void Host::sendOnStream(const Bytes& command) {
    Connection connection(endpoint_);
    Bytes bytes{static_cast<uint8_t>(SessionKind::liveFeatures)};
    bytes.insert(bytes.end(), command.begin(), command.end());
    connection.send(bytes);
}

}  // namespace frameyard
