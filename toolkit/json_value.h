#pragma once
// A JSON value of any kind, as the generic parser handler builds it and the printer writes it.
// There is no boolean kind: the peers of this system never send one.
#include <map>
#include <memory>

#include "toolkit/lu_array.h"
#include "toolkit/lu_str.h"

class LuJSonValue {
public:
    enum Kind : unsigned { Null = 0, Number = 1, String = 2, Array = 3, Object = 4 };
    using ArrayType = LuDArray<LuJSonValue>;
    // Members ordered by byte-wise comparison of their names.
    using ObjectType = std::map<LuStr, LuJSonValue>;

    LuJSonValue();
    LuJSonValue(double value);              // NOLINT: implicit, a number converts naturally
    LuJSonValue(int value) : LuJSonValue(static_cast<double>(value)) {}  // NOLINT
    LuJSonValue(const LuStr& value);        // NOLINT
    LuJSonValue(const char* value);         // NOLINT: nullptr gives a null value
    LuJSonValue(const LuJSonValue& other);
    LuJSonValue(LuJSonValue&& other) noexcept;
    LuJSonValue& operator=(const LuJSonValue& other);
    LuJSonValue& operator=(LuJSonValue&& other) noexcept;
    ~LuJSonValue();

    unsigned kind() const { return valueKind; }
    bool isNull() const { return valueKind == Null; }
    bool isNumber() const { return valueKind == Number; }
    bool isString() const { return valueKind == String; }
    bool isArray() const { return valueKind == Array; }
    bool isObject() const { return valueKind == Object; }

    // Reading a value as the wrong kind gives 0, the null string or an empty array/object.
    double number() const { return valueKind == Number ? numberValue : 0.0; }
    const LuStr& string() const;
    const ArrayType& array() const;
    const ObjectType& object() const;
    // The member of an object, or nullptr (also when this is not an object).
    const LuJSonValue* member(const char* name) const;

    // Setting a kind frees the previous payload first.
    void setNull();
    void setNumber(double value);
    void setString(const LuStr& value);
    ArrayType& makeArray();    // becomes an empty array
    ObjectType& makeObject();  // becomes an empty object
    // Mutable access to an existing array or object; nullptr for other kinds.
    ArrayType* arrayPtr() { return valueKind == Array ? arrayValue.get() : nullptr; }
    ObjectType* objectPtr() { return valueKind == Object ? objectValue.get() : nullptr; }

    bool operator==(const LuJSonValue& other) const;

private:
    void freePayload();

    unsigned valueKind = Null;
    double numberValue = 0.0;
    LuStr stringValue;
    std::unique_ptr<ArrayType> arrayValue;
    std::unique_ptr<ObjectType> objectValue;
};
