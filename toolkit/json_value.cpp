#include "toolkit/json_value.h"

LuJSonValue::LuJSonValue() = default;

LuJSonValue::LuJSonValue(double value) : valueKind(Number), numberValue(value) {}

LuJSonValue::LuJSonValue(const LuStr& value) : valueKind(String), stringValue(value) {}

LuJSonValue::LuJSonValue(const char* value) {
    if (value) setString(LuStr(value));
}

LuJSonValue::LuJSonValue(const LuJSonValue& other) { *this = other; }

LuJSonValue::LuJSonValue(LuJSonValue&& other) noexcept { *this = std::move(other); }

LuJSonValue& LuJSonValue::operator=(const LuJSonValue& other) {
    if (this == &other) return *this;
    switch (other.valueKind) {
    case Number: setNumber(other.numberValue); break;
    case String: setString(other.stringValue); break;
    case Array: {
        // Build the copy before freeing: other may be nested inside this value.
        auto copy = std::make_unique<ArrayType>(*other.arrayValue);
        freePayload();
        arrayValue = std::move(copy);
        valueKind = Array;
        break;
    }
    case Object: {
        auto copy = std::make_unique<ObjectType>(*other.objectValue);
        freePayload();
        objectValue = std::move(copy);
        valueKind = Object;
        break;
    }
    default: setNull(); break;
    }
    return *this;
}

LuJSonValue& LuJSonValue::operator=(LuJSonValue&& other) noexcept {
    if (this == &other) return *this;
    // other may be nested inside this value: take its payload before freeing ours.
    unsigned kind = other.valueKind;
    double number = other.numberValue;
    LuStr text = std::move(other.stringValue);
    std::unique_ptr<ArrayType> elements = std::move(other.arrayValue);
    std::unique_ptr<ObjectType> members = std::move(other.objectValue);
    other.valueKind = Null;
    freePayload();
    valueKind = kind;
    numberValue = number;
    stringValue = std::move(text);
    arrayValue = std::move(elements);
    objectValue = std::move(members);
    return *this;
}

LuJSonValue::~LuJSonValue() = default;

void LuJSonValue::freePayload() {
    valueKind = Null;
    numberValue = 0.0;
    stringValue = LuStr();
    arrayValue.reset();
    objectValue.reset();
}

const LuStr& LuJSonValue::string() const {
    static const LuStr none;
    return valueKind == String ? stringValue : none;
}

const LuJSonValue::ArrayType& LuJSonValue::array() const {
    static const ArrayType none;
    return valueKind == Array ? *arrayValue : none;
}

const LuJSonValue::ObjectType& LuJSonValue::object() const {
    static const ObjectType none;
    return valueKind == Object ? *objectValue : none;
}

const LuJSonValue* LuJSonValue::member(const char* name) const {
    if (valueKind != Object) return nullptr;
    auto it = objectValue->find(LuStr(name));
    return it == objectValue->end() ? nullptr : &it->second;
}

void LuJSonValue::setNull() { freePayload(); }

void LuJSonValue::setNumber(double value) {
    freePayload();
    valueKind = Number;
    numberValue = value;
}

void LuJSonValue::setString(const LuStr& value) {
    LuStr keep(value);  // value may belong to this value's own payload
    freePayload();
    valueKind = String;
    stringValue = std::move(keep);
}

LuJSonValue::ArrayType& LuJSonValue::makeArray() {
    freePayload();
    arrayValue = std::make_unique<ArrayType>();
    valueKind = Array;
    return *arrayValue;
}

LuJSonValue::ObjectType& LuJSonValue::makeObject() {
    freePayload();
    objectValue = std::make_unique<ObjectType>();
    valueKind = Object;
    return *objectValue;
}

bool LuJSonValue::operator==(const LuJSonValue& other) const {
    if (valueKind != other.valueKind) return false;
    switch (valueKind) {
    case Number: return numberValue == other.numberValue;
    case String: return stringValue == other.stringValue;
    case Array: return *arrayValue == *other.arrayValue;
    case Object: return *objectValue == *other.objectValue;
    default: return true;
    }
}
