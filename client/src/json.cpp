#include "frameyard/client/json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace frameyard {
namespace {

// Deep nesting never comes from a server; the bound keeps hostile input off the stack.
constexpr int kMaxDepth = 64;

class Reader {
public:
    explicit Reader(std::string_view text) : text(text) {}

    std::optional<Json> document(std::string* error) {
        std::optional<Json> value = readValue(0);
        skipSpace();
        if (value && pos != text.size()) fail("unexpected text after the value");
        if (!problem.empty()) {
            if (error) *error = problem + " at offset " + std::to_string(pos);
            return std::nullopt;
        }
        return value;
    }

private:
    void fail(const char* what) {
        if (problem.empty()) problem = what;
    }

    void skipSpace() {
        while (pos < text.size() && std::strchr(" \t\r\n", text[pos]) != nullptr) ++pos;
    }

    bool literal(std::string_view word) {
        if (text.substr(pos, word.size()) != word) return false;
        pos += word.size();
        return true;
    }

    std::optional<Json> readValue(int depth) {
        if (depth > kMaxDepth) {
            fail("nesting too deep");
            return std::nullopt;
        }
        skipSpace();
        if (pos >= text.size()) {
            fail("unexpected end of text");
            return std::nullopt;
        }
        Json value;
        char c = text[pos];
        if (c == '{') return readObject(depth);
        if (c == '[') return readArray(depth);
        if (c == '"') {
            std::optional<std::string> s = readString();
            if (!s) return std::nullopt;
            value.kind = Json::Kind::string;
            value.text = std::move(*s);
            return value;
        }
        if (literal("null")) return value;
        if (literal("true") || literal("false")) {
            value.kind = Json::Kind::boolean;
            value.boolean = text[pos - 4] == 't';
            return value;
        }
        return readNumber();
    }

    std::optional<std::string> readString() {
        ++pos;  // opening quote
        size_t end = text.find('"', pos);
        if (end == std::string_view::npos) {
            pos = text.size();
            fail("unterminated string");
            return std::nullopt;
        }
        std::string s(text.substr(pos, end - pos));
        pos = end + 1;
        return s;
    }

    std::optional<Json> readNumber() {
        size_t start = pos;
        if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) ++pos;
        while (pos < text.size() && std::strchr("0123456789.eE+-", text[pos]) != nullptr) ++pos;
        std::string digits(text.substr(start, pos - start));
        if (digits.empty()) {
            fail("unexpected character");
            return std::nullopt;
        }
        char* end = nullptr;
        double number = std::strtod(digits.c_str(), &end);
        if (end != digits.c_str() + digits.size() || !std::isfinite(number)) {
            pos = start;
            fail("invalid number");
            return std::nullopt;
        }
        Json value;
        value.kind = Json::Kind::number;
        value.number = number;
        return value;
    }

    std::optional<Json> readArray(int depth) {
        ++pos;
        Json value;
        value.kind = Json::Kind::array;
        skipSpace();
        if (pos < text.size() && text[pos] == ']') {
            ++pos;
            return value;
        }
        for (;;) {
            std::optional<Json> item = readValue(depth + 1);
            if (!item) return std::nullopt;
            value.items.push_back(std::move(*item));
            skipSpace();
            if (pos < text.size() && text[pos] == ',') {
                ++pos;
            } else if (pos < text.size() && text[pos] == ']') {
                ++pos;
                return value;
            } else {
                fail("expected ',' or ']'");
                return std::nullopt;
            }
        }
    }

    std::optional<Json> readObject(int depth) {
        ++pos;
        Json value;
        value.kind = Json::Kind::object;
        skipSpace();
        if (pos < text.size() && text[pos] == '}') {
            ++pos;
            return value;
        }
        for (;;) {
            skipSpace();
            if (pos >= text.size() || text[pos] != '"') {
                fail("expected a member name");
                return std::nullopt;
            }
            std::optional<std::string> name = readString();
            if (!name) return std::nullopt;
            skipSpace();
            if (pos >= text.size() || text[pos] != ':') {
                fail("expected ':'");
                return std::nullopt;
            }
            ++pos;
            std::optional<Json> member = readValue(depth + 1);
            if (!member) return std::nullopt;
            value.members.push_back({std::move(*name), std::move(*member)});
            skipSpace();
            if (pos < text.size() && text[pos] == ',') {
                ++pos;
            } else if (pos < text.size() && text[pos] == '}') {
                ++pos;
                return value;
            } else {
                fail("expected ',' or '}'");
                return std::nullopt;
            }
        }
    }

    std::string_view text;
    size_t pos = 0;
    std::string problem;
};

}  // namespace

const Json* Json::find(std::string_view name) const {
    for (const auto& member : members) {
        if (member.name == name) return &member.value;
    }
    return nullptr;
}

bool Json::isTagged(std::string_view name) const {
    return isArray() && !items.empty() && items[0].isString() && items[0].text == name;
}

std::optional<Json> parseJson(std::string_view text, std::string* error) {
    return Reader(text).document(error);
}

std::string formatNumber(double value) {
    char out[32];
    std::snprintf(out, sizeof out, "%g", value);
    return out;
}

std::string toJsonText(const Json& value) {
    switch (value.kind) {
    case Json::Kind::null: return "null";
    case Json::Kind::boolean: return value.boolean ? "true" : "false";
    case Json::Kind::number: return formatNumber(value.number);
    case Json::Kind::string: return "\"" + value.text + "\"";
    case Json::Kind::array: {
        std::string out = "[";
        for (size_t i = 0; i < value.items.size(); ++i) {
            if (i > 0) out += ',';
            out += toJsonText(value.items[i]);
        }
        return out + "]";
    }
    case Json::Kind::object: {
        std::string out = "{";
        for (size_t i = 0; i < value.members.size(); ++i) {
            if (i > 0) out += ',';
            out += "\"" + value.members[i].name + "\":" + toJsonText(value.members[i].value);
        }
        return out + "}";
    }
    }
    return "null";
}

}  // namespace frameyard
