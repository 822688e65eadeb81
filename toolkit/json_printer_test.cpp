#include "toolkit/json_printer.h"

#include <gtest/gtest.h>

#include <clocale>
#include <sstream>
#include <stdexcept>
#include <string>

#include "toolkit/json_parser.h"
#include "toolkit/test_prerequisite.h"

namespace {

std::string printed(const LuJSonPrinter::ValueWriter& writer) {
    std::ostringstream out;
    out << writer;
    return out.str();
}

std::string number(double d) { return toJSon(LuJSonValue(d)).str(); }

}  // namespace

TEST(LuJSonPrinter, NumbersAreWrittenLikePercentG) {
    EXPECT_EQ("1e+21", number(1e21));
    EXPECT_EQ("0.1", number(0.1));
    EXPECT_EQ("100000", number(100000));
    EXPECT_EQ("1e+06", number(1000000));
    EXPECT_EQ("3", number(3));
    EXPECT_EQ("0.5", number(0.5));
    EXPECT_EQ("1.23457e+06", number(1234567));
    EXPECT_EQ("1e-05", number(0.00001));
    EXPECT_EQ("1e+06", printed(LuJSonPrinter::IntWriter(1000000)));
    EXPECT_EQ("0.333333", printed(LuJSonPrinter::DoubleWriter(1.0 / 3)));
}

TEST(LuJSonPrinter, TheCallersStreamStateDoesNotChangeNumbers) {
    std::ostringstream out;
    out.precision(2);
    out.setf(std::ios::fixed | std::ios::showpos);
    LuJSonPrinter::writeNumber(out, 1234567);
    EXPECT_EQ("1.23457e+06", out.str());
}

TEST(LuJSonPrinter, StringsAreWrittenUnescaped) {
    EXPECT_EQ("\"a\\\"b\"", printed(LuJSonPrinter::StrWriter(LuStr("a\\\"b"))));
    EXPECT_EQ("\"\"", printed(LuJSonPrinter::StrWriter(LuStr())));
    // The parser reads the same way: the string ends at the inner quote.
    LuJSonValue back;
    ASSERT_TRUE(parseJSonValue(toJSon(LuJSonValue("x\\y")).c_str(), back));
    EXPECT_EQ(LuStr("x\\y"), back.string());
}

TEST(LuJSonPrinter, ContainersAreCompactAndMembersInNameOrder) {
    LuJSonValue v;
    LuJSonValue::ObjectType& members = v.makeObject();
    members[LuStr("b")] = LuJSonValue(1);
    members[LuStr("a")] = LuJSonValue();
    members[LuStr("B")] = LuJSonValue("s");
    LuJSonValue::ArrayType& list = members[LuStr("c")].makeArray();
    list.append(LuJSonValue(2));
    list.append(LuJSonValue());
    list[1].makeObject();
    members[LuStr("d")].makeArray();
    EXPECT_EQ("{\"B\":\"s\",\"a\":null,\"b\":1,\"c\":[2,{}],\"d\":[]}", toJSon(v).str());
    EXPECT_EQ("null", toJSon(LuJSonValue()).str());

    LuDArray<int> ints;
    EXPECT_EQ("[]", printed(LuJSonPrinter::IntArrayWriter(ints)));
    ints.append(1);
    ints.append(2000000);
    EXPECT_EQ("[1,2e+06]", printed(LuJSonPrinter::IntArrayWriter(ints)));
    LuDArray<LuStr> names;
    names.append(LuStr("cam 1"));
    names.append(LuStr(""));
    EXPECT_EQ("[\"cam 1\",\"\"]", printed(LuJSonPrinter::StrArrayWriter(names)));
}

TEST(LuJSonPrinter, ParsedTextPrintsBackCompact) {
    LuJSonValue v;
    ASSERT_TRUE(parseJSonValue(" { \"z\": [ 1, 2.5 , -3e-07 ], \"name\": \"Cam \\1\", \"n\": null }", v));
    EXPECT_EQ("{\"n\":null,\"name\":\"Cam \\1\",\"z\":[1,2.5,-3e-07]}", toJSon(v).str());
}

TEST(LuJSonPrinter, TheClosingBracketIsWrittenWhenAnElementThrows) {
    std::ostringstream out;
    EXPECT_THROW(LuJSonPrinter::writeArray(out, 3,
                                           [&](int i) {
                                               if (i == 1) throw std::runtime_error("element");
                                               out << i;
                                           }),
                 std::runtime_error);
    EXPECT_EQ("[0,]", out.str());
}

TEST(LuJSonPrinter, NumbersUseADecimalPointWhateverTheLocale) {
    FY_REQUIRE_PREREQUISITE(setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr, "no locale with a decimal comma installed");
    std::string text = number(2.5);
    setlocale(LC_NUMERIC, "C");
    EXPECT_EQ("2.5", text);
}
