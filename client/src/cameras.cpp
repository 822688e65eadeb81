#include "frameyard/client/cameras.h"

#include <cmath>

#include "frameyard/client/error.h"

namespace frameyard {
namespace {

double numberMember(const Json& object, const char* name, const std::string& context) {
    const Json* member = object.find(name);
    if (member == nullptr) return 0.0;
    if (!member->isNumber()) throw ProtocolError(context + ": '" + name + "' is not a number");
    return member->number;
}

Region readRegion(const Json& object, const std::string& context) {
    if (!object.isObject()) throw ProtocolError(context + ": image region is not an object");
    Region region;
    region.left = static_cast<float>(numberMember(object, "left_edge_x", context));
    region.right = static_cast<float>(numberMember(object, "right_edge_x", context));
    region.top = static_cast<float>(numberMember(object, "top_edge_y", context));
    region.bottom = static_cast<float>(numberMember(object, "bottom_edge_y", context));
    return region;
}

NumberSetting readSetting(const Json& object, const std::string& context) {
    if (!object.isObject()) throw ProtocolError(context + ": a number setting is not an object");
    NumberSetting setting;
    const Json* name = object.find("name");
    if (name == nullptr || !name->isString()) throw ProtocolError(context + ": a setting has no name");
    setting.name = name->text;
    setting.value = numberMember(object, "value", context);
    if (object.find("minimum")) setting.minimum = numberMember(object, "minimum", context);
    if (object.find("maximum")) setting.maximum = numberMember(object, "maximum", context);
    double precision = numberMember(object, "precision", context);
    if (std::fabs(precision) < 1e6) setting.precision = static_cast<int>(std::floor(precision + 0.5));
    return setting;
}

Camera readCamera(const Json& object, size_t index) {
    std::string context = "camera " + std::to_string(index + 1);
    if (!object.isObject()) throw ProtocolError(context + ": description is not an object");
    Camera camera;
    const Json* name = object.find("name");
    if (name == nullptr || !name->isString()) throw ProtocolError(context + ": no name");
    camera.name = name->text;
    context = "camera '" + camera.name + "'";
    if (const Json* region = object.find("image_region")) camera.imageRegion = readRegion(*region, context);
    if (const Json* region = object.find("acquire_image_region")) {
        camera.acquireImageRegion = readRegion(*region, context);
    }
    if (const Json* disabled = object.find("disabled")) {
        camera.disabled = disabled->isNumber() ? disabled->number != 0 : disabled->boolean;
    }
    if (const Json* settings = object.find("number_settings")) {
        if (!settings->isArray()) throw ProtocolError(context + ": number_settings is not an array");
        for (const Json& item : settings->items) camera.settings.push_back(readSetting(item, context));
    }
    return camera;
}

}  // namespace

const NumberSetting* Camera::setting(const std::string& settingName) const {
    for (const auto& s : settings) {
        if (s.name == settingName) return &s;
    }
    return nullptr;
}

std::vector<Camera> parseCameras(const Json& array) {
    if (!array.isArray()) throw ProtocolError("camera descriptions are not an array");
    std::vector<Camera> cameras;
    for (size_t i = 0; i < array.items.size(); ++i) cameras.push_back(readCamera(array.items[i], i));
    return cameras;
}

std::string cameraNames(const std::vector<Camera>& cameras) {
    std::string out;
    for (const auto& camera : cameras) {
        if (!out.empty()) out += ", ";
        out += camera.name;
    }
    return out.empty() ? "none" : out;
}

int findCamera(const std::vector<Camera>& cameras, const std::string& name) {
    for (size_t i = 0; i < cameras.size(); ++i) {
        if (cameras[i].name == name) return static_cast<int>(i);
    }
    throw Error("unknown camera '" + name + "' (cameras: " + cameraNames(cameras) + ")");
}

}  // namespace frameyard
