#pragma once
// Camera descriptions as a client reads them: name, image regions, numeric settings with their
// ranges. They come from the configure settings request or from get_camera_settings.
#include <optional>
#include <string>
#include <vector>

#include "tools/client/json_reader.h"

namespace fyclient {

// A rectangle in display coordinates.
struct Region {
    float left = 0, right = 0, top = 0, bottom = 0;
};

struct NumberSettingInfo {
    std::string name;
    double value = 0;
    std::optional<double> minimum;   // absent: unbounded
    std::optional<double> maximum;
    int precision = 0;               // 0: none given
};

struct CameraInfo {
    std::string name;
    std::optional<Region> imageRegion;
    std::optional<Region> acquireImageRegion;
    bool disabled = false;
    std::vector<NumberSettingInfo> settings;

    const NumberSettingInfo* setting(const std::string& settingName) const;
};

// Reads an array of camera objects; throws ClientError on a malformed description.
std::vector<CameraInfo> parseCameraArray(const Json& array);

// The camera names of a list, joined with ", " (for messages).
std::string cameraNames(const std::vector<CameraInfo>& cameras);

// Index of the named camera, or throws ClientError naming the cameras there are.
int findCamera(const std::vector<CameraInfo>& cameras, const std::string& name);

}  // namespace fyclient
