#include "tools/frameyard-bridge/camera_directory.h"

#include <algorithm>
#include <cmath>

namespace bridge {
namespace {

struct SettingChange {
    size_t position = 0;
    std::string name;   // "_threshold" for the threshold
    double value = 0;
};

// ["camera",P,["setting_changed",NAME,V]]
std::optional<SettingChange> settingChange(const std::string& json) {
    std::optional<frameyard::Json> message = frameyard::parseJson(json);
    if (!message || !message->isTagged("camera") || message->items.size() != 3) return std::nullopt;
    const frameyard::Json& position = message->items[1];
    const frameyard::Json& change = message->items[2];
    if (!position.isNumber() || position.number < 0 || !change.isTagged("setting_changed") ||
        change.items.size() != 3 || !change.items[1].isString() || !change.items[2].isNumber()) {
        return std::nullopt;
    }
    return SettingChange{static_cast<size_t>(position.number), change.items[1].text, change.items[2].number};
}

// The "value" of the named entry of a description's number_settings, when there is one.
void setDescribedValue(frameyard::Json& description, const std::string& setting, double value) {
    for (frameyard::JsonMember& member : description.members) {
        if (member.name != "number_settings") continue;
        for (frameyard::Json& entry : member.value.items) {
            const frameyard::Json* name = entry.find("name");
            if (name == nullptr || !name->isString() || name->text != setting) continue;
            for (frameyard::JsonMember& field : entry.members) {
                if (field.name == "value") field.value.number = value;
            }
        }
    }
}

}  // namespace

void CameraDirectory::refresh(frameyard::Host& host) {
    std::string text = host.camerasText();
    std::vector<int> thresholds = host.thresholds();
    std::optional<frameyard::Json> descriptions = frameyard::parseJson(text);
    if (!descriptions || !descriptions->isArray()) throw frameyard::ProtocolError("the camera descriptions are not a JSON array");
    std::vector<std::string> names;
    for (const frameyard::Camera& camera : frameyard::parseCameras(*descriptions)) names.push_back(camera.name);
    thresholds.resize(names.size(), 0);
    std::lock_guard<std::mutex> lock(mutex_);
    descriptions_ = std::move(*descriptions);
    names_ = std::move(names);
    thresholds_ = std::move(thresholds);
}

void CameraDirectory::noteMessage(const std::string& json, const std::vector<std::string>& streamCameras) {
    std::optional<SettingChange> change = settingChange(json);
    if (!change || change->position >= streamCameras.size()) return;
    const std::string& camera = streamCameras[change->position];
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = std::find(names_.begin(), names_.end(), camera);
    if (found == names_.end()) return;
    auto index = static_cast<size_t>(found - names_.begin());
    if (change->name == "_threshold") {
        thresholds_[index] = static_cast<int>(std::lround(change->value));
    } else if (index < descriptions_.items.size()) {
        setDescribedValue(descriptions_.items[index], change->name, change->value);
    }
}

std::string CameraDirectory::answer() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!descriptions_.isArray()) return "[]";
    frameyard::Json reply = descriptions_;
    for (size_t i = 0; i < reply.items.size() && i < thresholds_.size(); ++i) {
        frameyard::Json threshold;
        threshold.kind = frameyard::Json::Kind::number;
        threshold.number = thresholds_[i];
        std::vector<frameyard::JsonMember>& members = reply.items[i].members;
        members.erase(std::remove_if(members.begin(), members.end(),
                                     [](const frameyard::JsonMember& m) { return m.name == "threshold"; }),
                      members.end());
        members.push_back(frameyard::JsonMember{"threshold", threshold});
    }
    return frameyard::toJsonText(reply);
}

bool CameraDirectory::knows(const std::string& camera) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::find(names_.begin(), names_.end(), camera) != names_.end();
}

bool CameraDirectory::loaded() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return descriptions_.isArray();
}

std::optional<int> CameraDirectory::threshold(const std::string& camera) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = std::find(names_.begin(), names_.end(), camera);
    if (found == names_.end()) return std::nullopt;
    return thresholds_[static_cast<size_t>(found - names_.begin())];
}

}  // namespace bridge
