#include "tools/client/configure_client.h"

#include <bit>
#include <cstring>

#include "tools/client/json_reader.h"

namespace fyclient {
namespace {

constexpr uint32_t kMaxAnswer = 64u * 1024 * 1024;

void sendRequest(Connection& connection, char direction, char option) {
    uint8_t request[3] = {'c', static_cast<uint8_t>(direction), static_cast<uint8_t>(option)};
    connection.send(request, sizeof request);
}

std::vector<uint8_t> receiveSized(Connection& connection, const char* what) {
    uint32_t length = connection.receiveU32();
    if (length > kMaxAnswer) {
        throw ClientError(std::string("the server announced ") + std::to_string(length) + " bytes of " + what);
    }
    std::vector<uint8_t> bytes(length);
    connection.receive(bytes.data(), length);
    return bytes;
}

void appendFloat(std::vector<uint8_t>& out, float value) { appendU32(out, std::bit_cast<uint32_t>(value)); }

}  // namespace

std::vector<uint8_t> encodeMaskTable(const MaskTable& table) {
    std::vector<uint8_t> out;
    appendU16(out, static_cast<uint16_t>(table.size()));
    for (const auto& masks : table) {
        if (!masks.empty()) {
            out.push_back('c');
            appendU32(out, static_cast<uint32_t>(12 * masks.size() + 4));
            appendU32(out, static_cast<uint32_t>(masks.size()));
            for (const CircularMask& mask : masks) {
                appendFloat(out, mask.x);
                appendFloat(out, mask.y);
                appendFloat(out, mask.radius);
            }
        }
        out.push_back('$');
    }
    return out;
}

std::optional<MaskTable> decodeMaskTable(const uint8_t* data, size_t size) {
    if (size < 2) return std::nullopt;
    size_t pos = 2;
    MaskTable table(loadU16(data));
    for (auto& masks : table) {
        if (pos >= size) return std::nullopt;
        uint8_t tag = data[pos++];
        while (tag != '$') {
            size_t recordStart = pos;
            uint64_t recordLength = 0;
            if (size - pos >= 4) {
                recordLength = loadU32(data + pos);
                pos += 4;
                recordStart = pos;
            }
            uint64_t used = 0;
            if (tag == 'c') {
                if (size - pos < 4) return std::nullopt;
                uint32_t count = loadU32(data + pos);
                pos += 4;
                for (uint32_t i = 0; i < count; ++i) {
                    if (size - pos < 12) return std::nullopt;
                    CircularMask mask;
                    mask.x = std::bit_cast<float>(loadU32(data + pos));
                    mask.y = std::bit_cast<float>(loadU32(data + pos + 4));
                    mask.radius = std::bit_cast<float>(loadU32(data + pos + 8));
                    masks.push_back(mask);
                    pos += 12;
                }
                used = 4 + 12 * uint64_t{count};
            }
            if (recordLength < used || recordLength > size - recordStart) return std::nullopt;
            pos = recordStart + static_cast<size_t>(recordLength);
            if (pos >= size) return std::nullopt;
            tag = data[pos++];
        }
    }
    return table;
}

AspectAnswer configureGetAspect(const Endpoint& endpoint) {
    Connection connection(endpoint);
    sendRequest(connection, 'g', 'a');
    AspectAnswer answer;
    answer.pixelAspect = connection.receiveU16();
    answer.second = connection.receiveU16();
    return answer;
}

std::vector<int> configureGetThresholds(const Endpoint& endpoint) {
    Connection connection(endpoint);
    sendRequest(connection, 'g', 't');
    uint16_t count = connection.receiveU16();
    std::vector<int> thresholds;
    for (uint16_t i = 0; i < count; ++i) thresholds.push_back(connection.receiveU16());
    return thresholds;
}

MaskTable configureGetMasks(const Endpoint& endpoint) {
    Connection connection(endpoint);
    sendRequest(connection, 'g', 'm');
    std::vector<uint8_t> bytes = receiveSized(connection, "mask table");
    std::optional<MaskTable> table = decodeMaskTable(bytes.data(), bytes.size());
    if (!table) throw ClientError("the server sent a mask table that does not decode");
    return *table;
}

std::string configureGetSettingsText(const Endpoint& endpoint) {
    Connection connection(endpoint);
    sendRequest(connection, 'g', 's');
    std::vector<uint8_t> bytes = receiveSized(connection, "camera descriptions");
    return std::string(bytes.begin(), bytes.end());
}

std::vector<CameraInfo> configureGetCameras(const Endpoint& endpoint) {
    std::string text = configureGetSettingsText(endpoint);
    std::string error;
    std::optional<Json> value = parseJson(text, &error);
    if (!value) throw ClientError("the server sent camera descriptions that do not parse: " + error);
    return parseCameraArray(*value);
}

void configureSetMasks(const Endpoint& endpoint, const MaskTable& table) {
    Connection connection(endpoint);
    std::vector<uint8_t> packet{'c', 's', 'm'};
    std::vector<uint8_t> body = encodeMaskTable(table);
    appendU32(packet, static_cast<uint32_t>(body.size()));
    packet.insert(packet.end(), body.begin(), body.end());
    connection.send(packet);
}

}  // namespace fyclient
