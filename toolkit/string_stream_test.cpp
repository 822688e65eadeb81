#include "toolkit/string_stream.h"

#include <gtest/gtest.h>

#include <string>

TEST(LuOSStream, WritesAppendAndTextIsTerminated) {
    LuOSStream out;
    EXPECT_STREQ("", out.text());
    out << "camera " << 3 << ' ' << 0.5;
    EXPECT_STREQ("camera 3 0.5", out.text());
    EXPECT_EQ(12, out.length());
    out << "!";
    EXPECT_STREQ("camera 3 0.5!", out.text());
}

TEST(LuOSStream, ReadingExactly1024CharactersGrowsTheBufferForTheTerminator) {
    LuOSStream out;
    EXPECT_EQ(1024, out.buffer().capacity());
    std::string full(1024, 'a');
    out << full;
    EXPECT_EQ(1024, out.buffer().capacity());  // writing alone needs no growth
    EXPECT_EQ(full, out.text());
    EXPECT_EQ(2048, out.buffer().capacity());

    LuOSStream almost;
    almost << std::string(1023, 'b');
    EXPECT_EQ(std::string(1023, 'b'), almost.text());
    EXPECT_EQ(1024, almost.buffer().capacity());
}

TEST(LuOSStream, GrowthIsLinearAndKeepsTheText) {
    LuOSStream out;
    std::string expected;
    for (int i = 0; i < 500; ++i) {
        std::string piece = std::to_string(i) + ",";
        out << piece;
        expected += piece;
    }
    ASSERT_EQ(static_cast<int>(expected.size()), out.length());
    EXPECT_EQ(expected, out.text());
    int size = static_cast<int>(expected.size());
    EXPECT_EQ((size / 1024 + 1) * 1024, out.buffer().capacity());
}

TEST(LuOSStream, SetTextReplacesTheWholeText) {
    LuOSStream out;
    out << "old text";
    out.setText("new");
    EXPECT_STREQ("new", out.text());
    EXPECT_EQ(1024, out.buffer().capacity());
    out << "er";
    EXPECT_STREQ("newer", out.text());

    std::string longText(3000, 'x');
    out.setText(longText.c_str());
    EXPECT_EQ(3000, out.buffer().capacity());  // grown to exactly the text
    out << 'y';
    EXPECT_EQ(longText + "y", out.text());
    EXPECT_EQ(4024, out.buffer().capacity());
    out.setText("");
    EXPECT_STREQ("", out.text());
}
