#include "frameyard/client/json.h"

#include <gtest/gtest.h>

namespace frameyard {
namespace {

TEST(JsonReader, ReadsTheShapesTheServerWrites) {
    auto value = parseJson(R"( ["camera",1,["setting_changed","gain",2.5],{"a":null,"b":[true,false]}] )");
    ASSERT_TRUE(value);
    ASSERT_TRUE(value->isTagged("camera"));
    ASSERT_EQ(value->items.size(), 4u);
    EXPECT_EQ(value->items[1].number, 1);
    EXPECT_TRUE(value->items[2].isTagged("setting_changed"));
    EXPECT_DOUBLE_EQ(value->items[2].items[2].number, 2.5);
    const Json& object = value->items[3];
    ASSERT_NE(object.find("a"), nullptr);
    EXPECT_TRUE(object.find("a")->isNull());
    EXPECT_TRUE(object.find("b")->items[0].boolean);
    EXPECT_FALSE(object.find("b")->items[1].boolean);
    EXPECT_EQ(object.find("c"), nullptr);
}

TEST(JsonReader, StringsAreRawBecauseTheServerNeverEscapes) {
    auto value = parseJson(R"(["a\b","x"])");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->items[0].text, "a\\b");
    EXPECT_EQ(value->items[1].text, "x");
}

TEST(JsonReader, RefusesBrokenTextWithAReason) {
    std::string error;
    for (const char* text : {"", "[1,", "[1 2]", "{\"a\" 1}", "\"open", "[1] x", "nan", "[1e999]", "{1:2}"}) {
        error.clear();
        EXPECT_FALSE(parseJson(text, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(JsonReader, BoundsNestingDepth) {
    std::string deep(200, '[');
    deep += std::string(200, ']');
    EXPECT_FALSE(parseJson(deep));
    std::string fine(30, '[');
    fine += std::string(30, ']');
    EXPECT_TRUE(parseJson(fine));
}

TEST(JsonReader, NumbersPrintLikeTheServer) {
    EXPECT_EQ(formatNumber(3), "3");
    EXPECT_EQ(formatNumber(1234567), "1.23457e+06");
    EXPECT_EQ(formatNumber(static_cast<float>(0.1f)), "0.1");
    auto value = parseJson(R"({"x1":10.5,"list":[1,"a",null]})");
    ASSERT_TRUE(value);
    EXPECT_EQ(toJsonText(*value), R"({"x1":10.5,"list":[1,"a",null]})");
}

}  // namespace
}  // namespace frameyard
