#include "toolkit/json_parser.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "toolkit/locale_setup.h"

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The found part of an error message for the character at the current position.
LuStr describe(char c) {
    if (c == '\0') return LuStr("end of string");
    char quoted[] = {'\'', c, '\'', '\0'};
    return LuStr(quoted);
}

}  // namespace

// Counts one level of array or object nesting while it lives.
class LuJSonParser::DepthGuard {
public:
    explicit DepthGuard(LuJSonParser& parser) : parser(parser) { ++parser.depth; }
    ~DepthGuard() { --parser.depth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
    bool tooDeep() const { return parser.depth > kMaxDepth; }

private:
    LuJSonParser& parser;
};

LuJSonParser::IgnoreErrorHandler& LuJSonParser::IgnoreErrorHandler::instance() {
    static IgnoreErrorHandler shared;
    return shared;
}

LuJSonParser::LuJSonParser(const char* text, ErrorHandler& errors)
    : cursor(text), begin(text), errors(&errors) {}

bool LuJSonParser::expectationError(const char* expected) {
    return expectationError(expected, describe(*cursor).c_str());
}

bool LuJSonParser::expectationError(const char* expected, const char* found) {
    error(LuStr("Expecting ") + expected + ", but found " + found + ".");
    return false;
}

bool LuJSonParser::skipWhiteSpace() {
    while (*cursor == ' ' || *cursor == '\t' || *cursor == '\r' || *cursor == '\n') ++cursor;
    return *cursor != '\0';
}

bool LuJSonParser::readValue(ValueHandler& handler) {
    skipWhiteSpace();
    consumed = true;
    char c = *cursor;
    if (c == '{') return handler.object(*this);
    if (c == '[') return handler.array(*this);
    if (c == '"') {
        LuStr text;
        return readString(text) && handler.string(*this, text);
    }
    if (isDigit(c) || c == '-') {
        double value = 0.0;
        return readNumber(value) && handler.number(*this, value);
    }
    if (std::strncmp(cursor, "null", 4) == 0) {
        cursor += 4;
        return handler.null(*this);
    }
    if (c == '\0') {
        error(LuStr("Unexpected end of string."));
    } else {
        char message[] = "Unexpected character '?'.";
        message[22] = c;
        error(LuStr(message));
    }
    return false;
}

bool LuJSonParser::readNumber(double& value) {
    skipWhiteSpace();
    consumed = true;
    char* end = nullptr;
    {
        fy::CLocaleScope numbersInC;  // the wire's decimal point is '.' whatever the host's locale
        value = std::strtod(cursor, &end);
    }
    if (end == cursor) return expectationError("number");
    cursor = end;
    return true;
}

bool LuJSonParser::readInteger(int& value) {
    double number = 0.0;
    if (!readNumber(number)) return false;
    // The range test comes first (and is false for NaN), so the conversion below is defined.
    if (number > -2147483649.0 && number < 2147483648.0) {
        int truncated = static_cast<int>(number);
        if (static_cast<double>(truncated) == number) {
            value = truncated;
            return true;
        }
    }
    char found[64];
    {
        fy::CLocaleScope numbersInC;
        std::snprintf(found, sizeof found, "%g", number);
    }
    return expectationError("integer", found);
}

bool LuJSonParser::readString(LuStr& text) {
    skipWhiteSpace();
    consumed = true;
    if (*cursor != '"') return expectationError("string");
    const char* first = cursor + 1;
    const char* closing = std::strchr(first, '"');
    if (!closing) {
        cursor = first + std::strlen(first);
        return expectationError("\"", "end of string");
    }
    text = LuStr(first, static_cast<std::size_t>(closing - first));
    cursor = closing + 1;
    return true;
}

bool LuJSonParser::readNull() {
    skipWhiteSpace();
    consumed = true;
    if (std::strncmp(cursor, "null", 4) != 0) return expectationError("null");
    cursor += 4;
    return true;
}

bool LuJSonParser::peekNull() {
    skipWhiteSpace();
    if (std::strncmp(cursor, "null", 4) != 0) return false;
    cursor += 4;
    consumed = true;
    return true;
}

bool LuJSonParser::isString() {
    skipWhiteSpace();
    return *cursor == '"';
}

bool LuJSonParser::isNumber() {
    skipWhiteSpace();
    return isDigit(*cursor) || *cursor == '-';
}

bool LuJSonParser::expect(char c) {
    if (*cursor != c) {
        char quoted[] = {'\'', c, '\'', '\0'};
        return expectationError(quoted);
    }
    ++cursor;
    return true;
}

bool LuJSonParser::readArray(ArrayReader& reader) {
    skipWhiteSpace();
    consumed = true;
    if (*cursor != '[') return expectationError("'['");
    DepthGuard level(*this);
    if (level.tooDeep()) {
        error(LuStr::format("Nesting deeper than %d levels.", kMaxDepth));
        return false;
    }
    if (cursor[1] == ']') {  // only "[]" is empty; "[ ]" asks the reader for an element
        cursor += 2;
        return true;
    }
    ++cursor;
    for (;;) {
        consumed = false;
        if (!reader.readElement(*this)) return false;
        if (!consumed) {
            warning(LuStr("Unhandled element value."));
            if (!skipValue()) return false;
        }
        skipWhiteSpace();
        if (*cursor == ',') {
            ++cursor;
        } else if (*cursor == ']') {
            ++cursor;
            return true;
        } else {
            return expectationError("',' or ']'");
        }
    }
}

bool LuJSonParser::readObject(ObjectReader& reader) {
    skipWhiteSpace();
    consumed = true;
    DepthGuard level(*this);
    if (*cursor == '{' && level.tooDeep()) {
        error(LuStr::format("Nesting deeper than %d levels.", kMaxDepth));
        return false;
    }
    if (!expect('{')) return false;
    if (*cursor == '}') {
        ++cursor;
        return true;
    }
    for (;;) {
        LuStr name;
        if (!readString(name)) return false;
        if (!expect(':')) return false;  // no white space between a name and its colon
        consumed = false;
        if (!reader.readMember(name, *this)) return false;
        if (!consumed) {
            warning(LuStr("Unhandled value for member ") + name + ".");
            if (!skipValue()) return false;
        }
        skipWhiteSpace();
        if (*cursor == '}') {
            ++cursor;
            return true;
        }
        if (*cursor != ',') return expectationError("'}' or ','");
        ++cursor;
    }
}

bool LuJSonParser::skipValue() {
    JSonParser_IgnoreValueHandler ignore;
    return readValue(ignore);
}

bool LuJSonParser::unknownMemberWarning(const LuStr& name) {
    warning(LuStr("Unknown member '") + name + "'.");
    return true;
}

bool LuJSonParser::unknownMemberError(const LuStr& name) {
    error(LuStr("Unknown member '") + name + "'.");
    return false;
}

// --- ignoring handlers ---------------------------------------------------------------------

bool JSonParser_IgnoreValueHandler::array(LuJSonParser& parser) {
    JSonParser_IgnoreArrayReader reader;
    return parser.readArray(reader);
}

bool JSonParser_IgnoreValueHandler::object(LuJSonParser& parser) {
    JSonParser_IgnoreObjectReader reader;
    return parser.readObject(reader);
}

// --- the generic handler -------------------------------------------------------------------

namespace {

// Collects elements in a vector and hands them to the target array at the end, so that a long
// array is not reallocated once per element.
class GenericElementReader : public LuJSonParser::ArrayReader {
public:
    bool readElement(LuJSonParser& parser) override {
        elements.emplace_back();
        JSonParser_GenericValueHandler handler(elements.back());
        return parser.readValue(handler);
    }

    void moveInto(LuJSonValue::ArrayType& target) {
        target.setSize(static_cast<int>(elements.size()));
        for (std::size_t i = 0; i < elements.size(); ++i)
            target[static_cast<int>(i)] = std::move(elements[i]);
    }

private:
    std::vector<LuJSonValue> elements;
};

class GenericMemberReader : public LuJSonParser::ObjectReader {
public:
    explicit GenericMemberReader(LuJSonValue::ObjectType& members) : members(members) {}
    bool readMember(const LuStr& name, LuJSonParser& parser) override {
        JSonParser_GenericValueHandler handler(members[name]);  // a repeated name is overwritten
        return parser.readValue(handler);
    }

private:
    LuJSonValue::ObjectType& members;
};

}  // namespace

bool JSonParser_GenericValueHandler::number(LuJSonParser&, double value) {
    target.setNumber(value);
    return true;
}

bool JSonParser_GenericValueHandler::string(LuJSonParser&, const LuStr& text) {
    target.setString(text);
    return true;
}

bool JSonParser_GenericValueHandler::null(LuJSonParser&) {
    target.setNull();
    return true;
}

bool JSonParser_GenericValueHandler::array(LuJSonParser& parser) {
    GenericElementReader reader;
    bool ok = parser.readArray(reader);
    reader.moveInto(target.makeArray());
    return ok;
}

bool JSonParser_GenericValueHandler::object(LuJSonParser& parser) {
    LuJSonValue::ObjectType& members = target.makeObject();
    GenericMemberReader reader(members);
    return parser.readObject(reader);
}

bool parseJSonValue(const char* text, LuJSonValue& out, LuJSonParser::ErrorHandler& errors) {
    LuJSonParser parser(text, errors);
    JSonParser_GenericValueHandler handler(out);
    return parser.readValue(handler);
}
