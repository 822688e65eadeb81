#pragma once
// A small recursive-descent reader for the JSON that peers send (commands, camera descriptions,
// live-feature messages). It builds no tree unless asked: handlers receive each value as it is
// recognised and readers receive members and elements one at a time. Errors and warnings go to
// an ErrorHandler; nothing is thrown.
//
// The dialect is the peers' one: strings have no escape sequences (a string ends at the next
// double quote), numbers are whatever strtod() takes, and there are no true/false words.
#include "toolkit/json_value.h"
#include "toolkit/lu_str.h"

class LuJSonParser {
public:
    // Decides how syntax errors and warnings are reported. The parser passes itself, so the
    // handler can ask for position().
    class ErrorHandler {
    public:
        virtual ~ErrorHandler() = default;
        virtual void error(LuJSonParser& parser, const LuStr& message) = 0;
        virtual void warning(LuJSonParser& parser, const LuStr& message) = 0;
    };

    // Drops everything. One shared instance serves the whole program.
    class IgnoreErrorHandler : public ErrorHandler {
    public:
        void error(LuJSonParser&, const LuStr&) override {}
        void warning(LuJSonParser&, const LuStr&) override {}
        static IgnoreErrorHandler& instance();
    };

    // Receives one value. Each operation returns true to go on. array() and object() are
    // called with the parser standing on the opening bracket or brace; they read the value
    // themselves (normally with readArray() or readObject()).
    class ValueHandler {
    public:
        virtual ~ValueHandler() = default;
        virtual bool number(LuJSonParser& parser, double value) = 0;
        virtual bool string(LuJSonParser& parser, const LuStr& text) = 0;
        virtual bool array(LuJSonParser& parser) = 0;
        virtual bool object(LuJSonParser& parser) = 0;
        virtual bool null(LuJSonParser& parser) = 0;
    };

    // Reads one array element at the current position. Returning true without reading a value
    // makes the parser warn and skip it.
    class ArrayReader {
    public:
        virtual ~ArrayReader() = default;
        virtual bool readElement(LuJSonParser& parser) = 0;
    };

    // Reads the value of one object member at the current position. Returning true without
    // reading a value makes the parser warn and skip it.
    class ObjectReader {
    public:
        virtual ~ObjectReader() = default;
        virtual bool readMember(const LuStr& name, LuJSonParser& parser) = 0;
    };

    // Arrays and objects nested deeper than this are refused, so hostile input cannot exhaust
    // the host's stack.
    static constexpr int kMaxDepth = 256;

    // text is NUL-terminated, owned by the caller and must outlive the parser.
    explicit LuJSonParser(const char* text, ErrorHandler& errors = IgnoreErrorHandler::instance());

    // Byte offset of the current position from the start of the text.
    long position() const { return static_cast<long>(cursor - begin); }
    const char* current() const { return cursor; }
    ErrorHandler& errorHandler() const { return *errors; }
    bool valueConsumed() const { return consumed; }

    // Every operation but expect() first skips white space (space, tab, CR, LF). Each returns
    // false after reporting a syntax error, which enclosing operations pass on unreported.
    bool skipWhiteSpace();  // false when the text has ended
    bool readValue(ValueHandler& handler);
    bool readNumber(double& value);
    bool readInteger(int& value);  // fails for fractions, out-of-range values and NaN
    bool readString(LuStr& text);
    bool readNull();
    bool readArray(ArrayReader& reader);
    bool readObject(ObjectReader& reader);
    bool skipValue();
    bool expect(char c);  // at the current position, white space not skipped

    // Tests that report nothing; peekNull() consumes "null" when it is there.
    bool peekNull();
    bool isString();
    bool isNumber();

    // For readers: report a member they do not know. The error form returns false and the
    // warning form true, so a reader can return the result; neither skips the value.
    bool unknownMemberWarning(const LuStr& name);
    bool unknownMemberError(const LuStr& name);

    void error(const LuStr& message) { errors->error(*this, message); }
    void warning(const LuStr& message) { errors->warning(*this, message); }
    // "Expecting <expected>, but found <found>."; found defaults to the current character.
    // Returns false.
    bool expectationError(const char* expected);
    bool expectationError(const char* expected, const char* found);

private:
    class DepthGuard;

    const char* cursor;
    const char* begin;
    ErrorHandler* errors;
    bool consumed = false;
    int depth = 0;
};

// Reads and discards any value.
class JSonParser_IgnoreValueHandler : public LuJSonParser::ValueHandler {
public:
    bool number(LuJSonParser&, double) override { return true; }
    bool string(LuJSonParser&, const LuStr&) override { return true; }
    bool array(LuJSonParser& parser) override;
    bool object(LuJSonParser& parser) override;
    bool null(LuJSonParser&) override { return true; }
};

// Reads and discards every element.
class JSonParser_IgnoreArrayReader : public LuJSonParser::ArrayReader {
public:
    bool readElement(LuJSonParser& parser) override { return parser.skipValue(); }
};

// Reads and discards every member's value.
class JSonParser_IgnoreObjectReader : public LuJSonParser::ObjectReader {
public:
    bool readMember(const LuStr&, LuJSonParser& parser) override { return parser.skipValue(); }
};

// Passes every element to one value handler (not owned).
class JSonParser_GenericArrayReader : public LuJSonParser::ArrayReader {
public:
    explicit JSonParser_GenericArrayReader(LuJSonParser::ValueHandler& handler) : handler(handler) {}
    bool readElement(LuJSonParser& parser) override { return parser.readValue(handler); }

private:
    LuJSonParser::ValueHandler& handler;
};

// Stores the value it is given into a target LuJSonValue, arrays and objects included. A
// member name that occurs twice keeps the later value.
class JSonParser_GenericValueHandler : public LuJSonParser::ValueHandler {
public:
    explicit JSonParser_GenericValueHandler(LuJSonValue& target) : target(target) {}
    bool number(LuJSonParser& parser, double value) override;
    bool string(LuJSonParser& parser, const LuStr& text) override;
    bool array(LuJSonParser& parser) override;
    bool object(LuJSonParser& parser) override;
    bool null(LuJSonParser& parser) override;

private:
    LuJSonValue& target;
};

// Reads one value from text into out. What follows the value is not looked at.
bool parseJSonValue(const char* text, LuJSonValue& out,
                    LuJSonParser::ErrorHandler& errors = LuJSonParser::IgnoreErrorHandler::instance());
