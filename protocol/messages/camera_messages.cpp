#include "protocol/messages/camera_messages.h"

#include "toolkit/json_parser.h"
#include "toolkit/json_value.h"

namespace RyStoreProtocol {

namespace {

// The client's camera number, truncated toward zero; false unless it names a position of the
// list. Written as a range test on the double, so 1e30, infinities and NaN are refused
// without ever being converted.
bool cameraPosition(const LuJSonValue& number, int listLength, int& position) {
    if (!number.isNumber()) return false;
    double value = number.number();
    if (!(value > -1.0 && value < double(listLength))) return false;
    position = static_cast<int>(value);
    return true;
}

bool maskCoordinate(const LuJSonValue& object, const char* name, float& out) {
    const LuJSonValue* member = object.member(name);
    if (!member || !member->isNumber()) return false;
    out = static_cast<float>(member->number());
    return true;
}

bool readMask(const LuJSonValue& value, RyRectangularMask& mask) {
    if (!value.isObject()) return false;
    if (!maskCoordinate(value, "x1", mask.x1) || !maskCoordinate(value, "x2", mask.x2) ||
        !maskCoordinate(value, "y1", mask.y1) || !maskCoordinate(value, "y2", mask.y2))
        return false;
    // A comparison with NaN is false, so a NaN coordinate is refused here too.
    return mask.x1 <= mask.x2 && mask.y1 <= mask.y2;
}

bool runCameraCommand(const LuJSonValue::ArrayType& command, int camera, AbstractConfig& config) {
    if (command.getSize() < 2 || !command[0].isString()) return false;
    const LuStr& name = command[0].string();
    if (name == "add_rectangular_mask" || name == "delete_rectangular_mask") {
        RyRectangularMask mask;
        if (!readMask(command[1], mask)) return false;
        if (name == "add_rectangular_mask")
            config.addRectangularMask(camera, mask);
        else
            config.deleteRectangularMask(camera, mask);
        return true;
    }
    if (name == "change_setting") {
        if (command.getSize() < 3 || !command[1].isString() || !command[2].isNumber()) return false;
        config.changeSetting(camera, command[1].string(), command[2].number());
        return true;
    }
    return false;
}

}  // namespace

bool handleCameraMessage(const LuStr& message, const LuDArray<int>& cameras, AbstractConfig& config) {
    LuJSonValue value;
    if (!parseJSonValue(message.c_str(), value, LuJSonParser::IgnoreErrorHandler::instance())) return false;
    if (!value.isArray()) return false;
    const LuJSonValue::ArrayType& parts = value.array();
    if (parts.getSize() < 3 || !parts[0].isString() || !(parts[0].string() == "camera")) return false;
    int position = 0;
    if (!cameraPosition(parts[1], cameras.getSize(), position)) return false;
    if (!parts[2].isArray()) return false;
    return runCameraCommand(parts[2].array(), cameras[position], config);
}

}  // namespace RyStoreProtocol
