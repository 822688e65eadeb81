#pragma once
// A small JSON value and reader for the texts a frameyard server writes: replies,
// notifications and camera descriptions. The server writes strings raw (no escapes), so a
// string here ends at the next double quote and a backslash is an ordinary byte.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frameyard/client/api.h"

namespace frameyard {

struct JsonMember;

// One JSON value as a plain tree.
struct FRAMEYARD_CLIENT_API Json {
    enum class Kind { null, boolean, number, string, array, object };
    Kind kind = Kind::null;
    bool boolean = false;
    double number = 0.0;
    std::string text;
    std::vector<Json> items;
    std::vector<JsonMember> members;

    bool isNull() const { return kind == Kind::null; }
    bool isNumber() const { return kind == Kind::number; }
    bool isString() const { return kind == Kind::string; }
    bool isArray() const { return kind == Kind::array; }
    bool isObject() const { return kind == Kind::object; }
    // The member of that name, or null when this is not an object or has no such member.
    const Json* find(std::string_view name) const;
    // True for an array whose first element is the string `name`.
    bool isTagged(std::string_view name) const;
};

struct JsonMember {
    std::string name;
    Json value;
};

// Reads exactly one value (white space around it allowed); nullopt with a reason otherwise.
FRAMEYARD_CLIENT_API std::optional<Json> parseJson(std::string_view text, std::string* error = nullptr);

// Numbers as the server prints them (6 significant digits, %g style).
FRAMEYARD_CLIENT_API std::string formatNumber(double value);

// Writes a value back as compact text in the server's own style (raw strings, %g numbers).
FRAMEYARD_CLIENT_API std::string toJsonText(const Json& value);

}  // namespace frameyard
