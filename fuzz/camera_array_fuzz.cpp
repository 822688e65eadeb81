// Feeds arbitrary text to the client library's camera-description reader. Nothing may crash;
// cameras it read are written back by the server's camera writer, and that text must read back
// to the same cameras (names, disabled flags and setting counts; the writer's six digits make
// values differ).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "protocol/command/camera_description.h"
#include "protocol/command/command_test_fakes.h"
#include "toolkit/string_stream.h"
#include "frameyard/client/cameras.h"
#include "frameyard/client/error.h"
#include "frameyard/client/json.h"

namespace {

std::optional<std::vector<frameyard::Camera>> readCameras(const std::string& text) {
    std::optional<frameyard::Json> json = frameyard::parseJson(text);
    if (!json) return std::nullopt;
    try {
        return frameyard::parseCameras(*json);
    } catch (const frameyard::Error&) {
        return std::nullopt;
    }
}

// Infinities and NaN print as words no JSON reader takes.
bool finite(const frameyard::Camera& camera) {
    for (const frameyard::Region* region : {camera.imageRegion ? &*camera.imageRegion : nullptr,
                                           camera.acquireImageRegion ? &*camera.acquireImageRegion : nullptr}) {
        if (region && !(std::isfinite(region->left) && std::isfinite(region->right) && std::isfinite(region->top) &&
                        std::isfinite(region->bottom)))
            return false;
    }
    for (const frameyard::NumberSetting& setting : camera.settings) {
        if (!std::isfinite(setting.value)) return false;
        if (setting.minimum && !std::isfinite(*setting.minimum)) return false;
        if (setting.maximum && !std::isfinite(*setting.maximum)) return false;
    }
    return true;
}

LuGlobImageRegion toRegion(const std::optional<frameyard::Region>& region) {
    if (!region) return LuGlobImageRegion{};
    return LuGlobImageRegion{region->left, region->right, region->top, region->bottom};
}

command_test::FakeCamera toCamera(const frameyard::Camera& info) {
    command_test::FakeCamera camera("");
    camera.cameraName = LuStr(info.name.data(), info.name.size());
    camera.region = toRegion(info.imageRegion);
    camera.acquireRegion = toRegion(info.acquireImageRegion);
    camera.disabled = info.disabled;
    for (const frameyard::NumberSetting& from : info.settings) {
        RyStoreProtocol::NumberSetting setting;
        setting.name = LuStr(from.name.data(), from.name.size());
        setting.value = from.value;
        setting.minimum = from.minimum.value_or(-1e300);
        setting.maximum = from.maximum.value_or(1e300);
        setting.precision = from.precision;
        camera.settings.push_back(setting);
    }
    return camera;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::optional<std::vector<frameyard::Camera>> first =
        readCameras(std::string(reinterpret_cast<const char*>(data), size));
    if (!first) return 0;
    for (const frameyard::Camera& camera : *first)
        if (!finite(camera)) return 0;

    LuOSStream out;
    out << '[';
    for (size_t i = 0; i < first->size(); ++i) {
        if (i) out << ',';
        RyStoreProtocol::writeCameraObject(out, toCamera((*first)[i]));
    }
    out << ']';
    std::optional<std::vector<frameyard::Camera>> second = readCameras(out.toLuStr().str());
    if (!second || second->size() != first->size()) std::abort();
    for (size_t i = 0; i < first->size(); ++i) {
        const frameyard::Camera& a = (*first)[i];
        const frameyard::Camera& b = (*second)[i];
        if (a.name != b.name || a.disabled != b.disabled || a.settings.size() != b.settings.size()) std::abort();
    }
    return 0;
}
