#pragma once
// Camera descriptions as a client reads them: name, image regions, numeric settings with their
// ranges. They come from the configure request `c g s` or from the command
// ["get_camera_settings"].
#include <optional>
#include <string>
#include <vector>

#include "frameyard/client/api.h"
#include "frameyard/client/json.h"

namespace frameyard {

// A rectangle in display coordinates.
struct Region {
    float left = 0, right = 0, top = 0, bottom = 0;
};

struct NumberSetting {
    std::string name;
    double value = 0;
    std::optional<double> minimum;   // absent: unbounded
    std::optional<double> maximum;
    int precision = 0;               // 0: none given
};

struct FRAMEYARD_CLIENT_API Camera {
    std::string name;
    std::optional<Region> imageRegion;
    std::optional<Region> acquireImageRegion;
    bool disabled = false;
    std::vector<NumberSetting> settings;

    // The setting of that name, or null.
    const NumberSetting* setting(const std::string& settingName) const;
};

// Reads an array of camera objects; throws ProtocolError on a malformed description.
FRAMEYARD_CLIENT_API std::vector<Camera> parseCameras(const Json& array);

// The camera names of a list, joined with ", " (for messages).
FRAMEYARD_CLIENT_API std::string cameraNames(const std::vector<Camera>& cameras);

// Position of the named camera, or throws Error naming the cameras there are.
FRAMEYARD_CLIENT_API int findCamera(const std::vector<Camera>& cameras, const std::string& name);

}  // namespace frameyard
