#pragma once
// Configure requests from the client side ('c' then 'g' or 's' and an option letter), one per
// connection as the server allows, and the circular-mask table they carry.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/client/camera_info.h"
#include "tools/client/connection.h"

namespace fyclient {

// A circle in display coordinates inside which the server drops centroids.
struct CircularMask {
    float x = 0, y = 0, radius = 0;
    bool operator==(const CircularMask&) const = default;
};
// One mask list per camera, in the order of the session's camera list.
using MaskTable = std::vector<std::vector<CircularMask>>;

std::vector<uint8_t> encodeMaskTable(const MaskTable& table);
// Decodes a table as the server does (unknown tagged records are skipped by their length);
// nullopt when the bytes do not hold a whole table.
std::optional<MaskTable> decodeMaskTable(const uint8_t* data, size_t size);

// The two aspect values, as the server scales them by 256.
struct AspectAnswer {
    uint16_t pixelAspect = 0;
    uint16_t second = 0;
};

AspectAnswer configureGetAspect(const Endpoint& endpoint);
std::vector<int> configureGetThresholds(const Endpoint& endpoint);
MaskTable configureGetMasks(const Endpoint& endpoint);
// The camera descriptions of every camera, as JSON text and parsed.
std::string configureGetSettingsText(const Endpoint& endpoint);
std::vector<CameraInfo> configureGetCameras(const Endpoint& endpoint);
// Sends a new table; the server answers nothing, so callers read the masks back to confirm.
void configureSetMasks(const Endpoint& endpoint, const MaskTable& table);

}  // namespace fyclient
