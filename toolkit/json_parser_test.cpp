#include "toolkit/json_parser.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>
#include <vector>

#include "toolkit/json_printer.h"
#include "toolkit/test_prerequisite.h"

namespace {

// Keeps every report as "E@<position> <message>" or "W@<position> <message>".
class Recorder : public LuJSonParser::ErrorHandler {
public:
    void error(LuJSonParser& parser, const LuStr& message) override { add("E", parser, message); }
    void warning(LuJSonParser& parser, const LuStr& message) override { add("W", parser, message); }
    std::vector<std::string> reports;

private:
    void add(const char* kind, LuJSonParser& parser, const LuStr& message) {
        reports.push_back(std::string(kind) + "@" + std::to_string(parser.position()) + " " + message.str());
    }
};

using Reports = std::vector<std::string>;

// Parses text with the generic handler; returns the printed tree, or "!" on failure.
std::string parse(const char* text, Recorder& recorder) {
    LuJSonValue value;
    return parseJSonValue(text, value, recorder) ? toJSon(value).str() : "!";
}

// Reads the members it knows ("int", "list") and ignores the rest.
class PickyReader : public LuJSonParser::ObjectReader {
public:
    bool readMember(const LuStr& name, LuJSonParser& parser) override {
        if (name == "int") return parser.readInteger(number);
        if (name == "list") return parser.readArray(elements);
        return true;  // neither read nor refused: the parser skips it
    }
    int number = 0;
    class Elements : public LuJSonParser::ArrayReader {
    public:
        bool readElement(LuJSonParser& parser) override {
            ++seen;
            return parser.isNumber() ? parser.readNumber(last) : true;
        }
        int seen = 0;
        double last = 0;
    } elements;
};

}  // namespace

TEST(LuJSonParser, OnlyBracketsWithNothingBetweenAreAnEmptyArray) {
    Recorder r;
    EXPECT_EQ("[1,2]", parse("[1,2]", r));
    EXPECT_EQ("[]", parse("[]", r));
    EXPECT_EQ("[[],[1]]", parse(" [ [] ,\t[1]\r\n]", r));
    EXPECT_TRUE(r.reports.empty());
    EXPECT_EQ("!", parse("[ ]", r));
    EXPECT_EQ((Reports{"E@2 Unexpected character ']'."}), r.reports);
}

TEST(LuJSonParser, ObjectsAndTheirSyntaxErrors) {
    Recorder r;
    EXPECT_EQ("{\"a\":1,\"b\":[null,\"x\"]}", parse("{ \"b\":[ null , \"x\" ] , \"a\":1 }", r));
    EXPECT_TRUE(r.reports.empty());
    EXPECT_EQ("!", parse("{\"a\" :1}", r));  // no white space before a colon
    EXPECT_EQ((Reports{"E@4 Expecting ':', but found ' '."}), r.reports);

    r.reports.clear();
    EXPECT_EQ("{}", parse("{}", r));
    EXPECT_EQ("{\"a\":{}}", parse("{\"a\":{}}", r));
    EXPECT_TRUE(r.reports.empty());
    parse("{ }", r);
    parse("{\"a\":1 \"b\":2}", r);
    parse("{1:2}", r);
    parse("[1 2]", r);
    EXPECT_EQ((Reports{"E@2 Expecting string, but found '}'.", "E@7 Expecting '}' or ',', but found '\"'.",
                       "E@1 Expecting string, but found '1'.", "E@3 Expecting ',' or ']', but found '2'."}),
              r.reports);
}

TEST(LuJSonParser, DuplicateMembersKeepTheLaterValue) {
    Recorder r;
    LuJSonValue v;
    ASSERT_TRUE(parseJSonValue("{\"a\":1,\"a\":[2]}", v, r));
    ASSERT_EQ(1u, v.object().size());
    const LuJSonValue* a = v.member("a");
    ASSERT_NE(nullptr, a);
    ASSERT_TRUE(a->isArray());
    EXPECT_EQ(2.0, a->array()[0].number());
}

TEST(LuJSonParser, StringsHaveNoEscapes) {
    Recorder r;
    LuStr s;
    LuJSonParser p("\"a\\\"b\"", r);
    ASSERT_TRUE(p.readString(s));
    EXPECT_EQ(LuStr("a\\"), s);  // the backslash is an ordinary byte
    EXPECT_EQ(4, p.position());

    LuJSonParser open("\"abc", r);
    EXPECT_FALSE(open.readString(s));
    LuJSonParser notString("12", r);
    EXPECT_FALSE(notString.readString(s));
    EXPECT_EQ((Reports{"E@4 Expecting \", but found end of string.", "E@0 Expecting string, but found '1'."}),
              r.reports);
}

TEST(LuJSonParser, NumbersAreWhatStrtodTakes) {
    Recorder r;
    double d = 0;
    LuJSonParser hex("0x10", r);
    ASSERT_TRUE(hex.readNumber(d));
    EXPECT_EQ(16.0, d);
    LuJSonParser minusInf("-inf", r);
    ASSERT_TRUE(minusInf.readNumber(d));
    EXPECT_TRUE(std::isinf(d) && d < 0);
    LuJSonParser exponent(" -1.25e2,", r);
    ASSERT_TRUE(exponent.readNumber(d));
    EXPECT_EQ(-125.0, d);
    EXPECT_EQ(8, exponent.position());
    EXPECT_TRUE(r.reports.empty());

    parse(".5", r);
    parse("+1", r);
    parse("true", r);
    parse("false", r);
    parse("-x", r);
    LuJSonParser word("abc", r);
    EXPECT_FALSE(word.readNumber(d));
    EXPECT_EQ((Reports{"E@0 Unexpected character '.'.", "E@0 Unexpected character '+'.",
                       "E@0 Unexpected character 't'.", "E@0 Unexpected character 'f'.",
                       "E@0 Expecting number, but found '-'.", "E@0 Expecting number, but found 'a'."}),
              r.reports);
}

TEST(LuJSonParser, IntegersRejectFractionsRangeAndNaNWithoutUndefinedBehaviour) {
    struct Case {
        const char* text;
        const char* found;
    };
    const Case bad[] = {{"1.5", "1.5"},     {"3000000000", "3e+09"}, {"2147483648", "2.14748e+09"},
                        {"-2147483649", "-2.14748e+09"}, {"1e99999", "inf"}, {"-1e99999", "-inf"},
                        {"-nan", "-nan"},   {"-0.5", "-0.5"}};
    for (const Case& c : bad) {
        Recorder r;
        int value = 77;
        LuJSonParser p(c.text, r);
        EXPECT_FALSE(p.readInteger(value)) << c.text;
        EXPECT_EQ(77, value) << c.text;
        ASSERT_EQ(1u, r.reports.size()) << c.text;
        EXPECT_EQ(std::string("E@") + std::to_string(std::string(c.text).size()) + " Expecting integer, but found " +
                      c.found + ".",
                  r.reports[0]);
    }
    Recorder r;
    int value = 0;
    LuJSonParser max("2147483647", r);
    ASSERT_TRUE(max.readInteger(value));
    EXPECT_EQ(2147483647, value);
    LuJSonParser min("-2147483648", r);
    ASSERT_TRUE(min.readInteger(value));
    EXPECT_EQ(-2147483647 - 1, value);
    EXPECT_TRUE(r.reports.empty());
}

TEST(LuJSonParser, EndOfTextIsDescribedAsEndOfString) {
    Recorder r;
    LuJSonParser nothing("   ", r);
    EXPECT_FALSE(nothing.readNull());
    LuJSonParser colon("", r);
    EXPECT_FALSE(colon.expect(':'));
    parse("", r);
    parse("[1,", r);
    parse("{\"a\":1", r);
    EXPECT_EQ((Reports{"E@3 Expecting null, but found end of string.", "E@0 Expecting ':', but found end of string.",
                       "E@0 Unexpected end of string.", "E@3 Unexpected end of string.",
                       "E@6 Expecting '}' or ',', but found end of string."}),
              r.reports);
}

TEST(LuJSonParser, TestsReportNothingAndExpectDoesNotSkipWhiteSpace) {
    Recorder r;
    LuJSonParser p("  nullx \"s\" -1 :", r);
    EXPECT_FALSE(p.isString());
    EXPECT_FALSE(p.isNumber());
    EXPECT_TRUE(r.reports.empty());
    EXPECT_TRUE(p.peekNull());  // "null" is taken without looking at what follows
    EXPECT_FALSE(p.peekNull());
    EXPECT_TRUE(p.expect('x'));
    EXPECT_FALSE(p.expect('"'));
    EXPECT_TRUE(p.isString());
    LuStr s;
    EXPECT_TRUE(p.readString(s));
    EXPECT_EQ(LuStr("s"), s);
    int i = 0;
    EXPECT_TRUE(p.isNumber());
    EXPECT_TRUE(p.readInteger(i));
    EXPECT_EQ(-1, i);
    EXPECT_FALSE(p.expect(':'));
    EXPECT_TRUE(p.skipWhiteSpace());
    EXPECT_TRUE(p.expect(':'));
    EXPECT_FALSE(p.skipWhiteSpace());
    EXPECT_EQ((Reports{"E@7 Expecting '\"', but found ' '.", "E@14 Expecting ':', but found ' '."}), r.reports);

    LuJSonParser f("\f1", r);  // form feed is not white space here
    EXPECT_FALSE(f.skipValue());
    EXPECT_EQ("E@0 Unexpected character '\f'.", r.reports.back());
}

TEST(LuJSonParser, UnreadMembersAndElementsAreWarnedAboutAndSkipped) {
    Recorder r;
    PickyReader reader;
    LuJSonParser p("{\"skip\":{\"deep\":[1,{\"x\":[]}],\"n\":null},\"int\":5,\"list\":[\"s\",7],\"more\":\"m\"}", r);
    ASSERT_TRUE(p.readObject(reader));
    EXPECT_EQ(5, reader.number);
    EXPECT_EQ(2, reader.elements.seen);
    EXPECT_EQ(7.0, reader.elements.last);
    EXPECT_EQ((Reports{"W@8 Unhandled value for member skip.", "W@55 Unhandled element value.",
                       "W@69 Unhandled value for member more."}),
              r.reports);
    EXPECT_EQ('\0', *p.current());
}

TEST(LuJSonParser, ASyntaxErrorIsReportedOnceAndStopsEveryLevel) {
    Recorder r;
    PickyReader reader;
    LuJSonParser p("{\"skip\":[[1,}]],\"int\":2}", r);
    EXPECT_FALSE(p.readObject(reader));
    EXPECT_EQ((Reports{"W@8 Unhandled value for member skip.", "E@12 Unexpected character '}'."}), r.reports);
    EXPECT_EQ(0, reader.number);

    // A reader that refuses stops the parse without a further report.
    struct Refuse : LuJSonParser::ObjectReader {
        bool readMember(const LuStr& name, LuJSonParser& parser) override { return parser.unknownMemberError(name); }
    } refuse;
    r.reports.clear();
    LuJSonParser q("{\"bad\":1,\"x\":2}", r);
    EXPECT_FALSE(q.readObject(refuse));
    EXPECT_EQ((Reports{"E@7 Unknown member 'bad'."}), r.reports);
    r.reports.clear();
    EXPECT_TRUE(q.unknownMemberWarning(LuStr("w")));
    EXPECT_EQ((Reports{"W@7 Unknown member 'w'."}), r.reports);
}

TEST(LuJSonParser, NestingIsBoundedSoHostileInputCannotExhaustTheStack) {
    Recorder r;
    std::string ok = std::string(LuJSonParser::kMaxDepth, '[') + std::string(LuJSonParser::kMaxDepth, ']');
    LuJSonValue v;
    EXPECT_TRUE(parseJSonValue(ok.c_str(), v, r));
    EXPECT_TRUE(r.reports.empty());

    std::string deep(100000, '[');
    EXPECT_FALSE(parseJSonValue(deep.c_str(), v, r));
    std::string objects;
    for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
    EXPECT_FALSE(parseJSonValue(objects.c_str(), v, r));
    std::string depth = std::to_string(LuJSonParser::kMaxDepth);
    EXPECT_EQ((Reports{"E@" + depth + " Nesting deeper than " + depth + " levels.",
                       "E@" + std::to_string(5 * LuJSonParser::kMaxDepth) + " Nesting deeper than " + depth + " levels."}),
              r.reports);
}

TEST(LuJSonParser, NumbersUseADecimalPointWhateverTheLocale) {
    const char* comma = setlocale(LC_NUMERIC, "de_DE.UTF-8");
    FY_REQUIRE_PREREQUISITE(comma != nullptr, "no locale with a decimal comma installed");
    Recorder r;
    double d = 0;
    LuJSonParser p("1.5", r);
    bool ok = p.readNumber(d);
    int i = 0;
    LuJSonParser q("2.5", r);
    bool okInt = q.readInteger(i);
    setlocale(LC_NUMERIC, "C");
    EXPECT_TRUE(ok);
    EXPECT_EQ(1.5, d);
    EXPECT_FALSE(okInt);
    EXPECT_EQ((Reports{"E@3 Expecting integer, but found 2.5."}), r.reports);
}
