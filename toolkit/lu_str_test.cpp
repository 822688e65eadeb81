#include "toolkit/lu_str.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <unordered_set>
#include "toolkit/test_prerequisite.h"

TEST(LuStr, NullAndEmptyAreDifferent) {
    LuStr null;
    LuStr fromNullPointer(static_cast<const char*>(nullptr));
    LuStr empty("");
    EXPECT_TRUE(null.isNull());
    EXPECT_TRUE(fromNullPointer.isNull());
    EXPECT_FALSE(empty.isNull());
    EXPECT_EQ(0, null.length());
    EXPECT_STREQ("", null.c_str());

    EXPECT_TRUE(null == fromNullPointer);
    EXPECT_FALSE(null == empty);
    EXPECT_TRUE(null == static_cast<const char*>(nullptr));
    EXPECT_FALSE(empty == static_cast<const char*>(nullptr));
    EXPECT_TRUE("abc" == LuStr("abcd", 3));

    // Null sorts before empty, so both can be keys of one map.
    std::map<LuStr, int> keys{{null, 1}, {empty, 2}, {LuStr("a"), 3}};
    EXPECT_EQ(3u, keys.size());
    EXPECT_LT(null, empty);
    EXPECT_LT(LuStr("Z"), "a");
    std::unordered_set<LuStr> hashed{LuStr("x"), LuStr("x"), LuStr("y")};
    EXPECT_EQ(2u, hashed.size());
}

TEST(LuStr, ChangingACopyLeavesTheOriginal) {
    LuStr original("hello");
    LuStr copy = original;
    EXPECT_EQ(original.c_str(), copy.c_str());  // shared until one of them changes
    copy.append(" world");
    copy.makeUpper();
    EXPECT_EQ(LuStr("hello"), original);
    EXPECT_EQ(LuStr("HELLO WORLD"), copy);

    LuStr tail = original.right(3);
    tail.setLength(1);
    EXPECT_EQ(LuStr("hello"), original);
    EXPECT_EQ(LuStr("l"), tail);

    LuStr front = original;
    front.erase(0, 2);  // shared: only the start moves
    front.replaceFirst("l", "L");
    EXPECT_EQ(LuStr("hello"), original);
    EXPECT_EQ(LuStr("Llo"), front);
}

TEST(LuStr, RightAndFromShareTheBuffer) {
    LuStr s("abcdef");
    LuStr r = s.right(2);
    EXPECT_EQ(s.c_str() + 4, r.c_str());
    EXPECT_EQ(LuStr("ef"), r);
    EXPECT_EQ(s.c_str() + 2, s.from(2).c_str());

    LuStr none = s.right(0);
    EXPECT_FALSE(none.isNull());
    EXPECT_EQ(0, none.length());
    EXPECT_EQ(s, s.right(100));  // clamped to the string
    EXPECT_EQ(LuStr(""), s.from(100));
}

TEST(LuStr, LeftAndMidArePaddedWithSpaces) {
    LuStr s("abc");
    EXPECT_EQ(LuStr("abc  "), s.left(5));
    EXPECT_EQ(LuStr("ab"), s.left(2));
    EXPECT_EQ(LuStr("bc "), s.mid(1, 3));
    LuStr none = s.mid(1, 0);
    EXPECT_FALSE(none.isNull());
    EXPECT_EQ(0, none.length());
    EXPECT_EQ(LuStr("  "), s.mid(7, 2));  // starting beyond the end
    EXPECT_EQ(LuStr("abc"), s);

    LuStr grown("x");
    grown.setLength(9);
    EXPECT_EQ(LuStr("x        "), grown);
}

TEST(LuStr, FormattingIsCutTo1023Characters) {
    std::string long2000(2000, 'x');
    LuStr s = LuStr::format("%s", long2000.c_str());
    EXPECT_EQ(1023, s.length());
    EXPECT_EQ(std::string(1023, 'x'), s.str());

    LuStr t("ab");
    t.appendFormat("%d-%s", 12, long2000.c_str());
    EXPECT_EQ(2 + 1023, t.length());
    EXPECT_TRUE(t.startsWith("ab12-xxx"));
}

TEST(LuStr, EraseMovesTheStartOrTheTail) {
    LuStr s("0123456789");
    const char* before = s.c_str();
    s.erase(0, 2);  // small prefix of a unique buffer: no copy
    EXPECT_EQ(before + 2, s.c_str());
    EXPECT_EQ(LuStr("23456789"), s);
    s.erase(0, 5);  // beyond half the buffer: the tail moves down
    EXPECT_EQ(LuStr("789"), s);
    s.erase(1, 1);
    EXPECT_EQ(LuStr("79"), s);
    s.erase(1, 100);
    EXPECT_EQ(LuStr("7"), s);
}

TEST(LuStr, AssigningTheTailOfItsOwnBufferOnlyMovesTheStart) {
    LuStr s("key=value");
    const char* value = s.c_str() + 4;
    s = value;
    EXPECT_EQ(value, s.c_str());
    EXPECT_EQ(LuStr("value"), s);
    s.assign(s.c_str(), 2);  // not the tail: copied
    EXPECT_EQ(LuStr("va"), s);
    s = static_cast<const char*>(nullptr);
    EXPECT_TRUE(s.isNull());
}

TEST(LuStr, AppendingAndConcatenating) {
    LuStr s("ab");
    s.append(s.c_str());  // its own text, while the buffer grows
    EXPECT_EQ(LuStr("abab"), s);
    s += 'c';
    s += LuStr("d");
    EXPECT_EQ(LuStr("ababcd"), s);
    EXPECT_EQ(LuStr("x-ababcd-y"), "x-" + s + "-y");
    s.prepend('>', 2);
    EXPECT_EQ(LuStr(">>ababcd"), s);

    LuStr fixed;
    fixed.appendPadded("abcdef", 3).appendPadded("x", 4).appendPadded(nullptr, 1);
    EXPECT_EQ(LuStr("abcx    "), fixed);

    LuStr null;
    null.append("");
    EXPECT_FALSE(null.isNull());
}

TEST(LuStr, ReplacingTexts) {
    LuStr s("one two one");
    EXPECT_TRUE(s.replaceFirst("one", "ONE"));
    EXPECT_EQ(LuStr("ONE two one"), s);
    EXPECT_TRUE(s.replaceFirst("two", "2"));
    EXPECT_TRUE(s.replaceFirst("2", "three"));
    EXPECT_FALSE(s.replaceFirst("four", "4"));
    EXPECT_EQ(LuStr("ONE three one"), s);

    LuStr a("aaa");
    EXPECT_EQ(3, a.replaceAll("a", "aa"));  // searching goes on after the inserted text
    EXPECT_EQ(LuStr("aaaaaa"), a);
    EXPECT_EQ(3, a.replaceAll("aa", "b"));
    EXPECT_EQ(LuStr("bbb"), a);
    EXPECT_EQ(0, a.replaceAll("", "x"));

    LuStr self("x-y");
    self.replaceFirst("-", self.c_str());  // replacement text from its own buffer
    EXPECT_EQ(LuStr("xx-yy"), self);
}

TEST(LuStr, Trimming) {
    LuStr s(" \t lead");
    s.trimLeft();
    EXPECT_EQ(LuStr("lead"), s);
    LuStr lines("  \r\n next");
    lines.trimLeft(true);
    EXPECT_EQ(LuStr("\r\n next"), lines);
    LuStr trailing("end \n\t ");
    trailing.trimRight();
    EXPECT_EQ(LuStr("end"), trailing);
    LuStr spread(" a b\t\nc  d ");
    EXPECT_EQ(LuStr("abcd"), spread.removeWhiteSpace());
    LuStr blank("   ");
    EXPECT_EQ(LuStr(""), blank.trim());
}

TEST(LuStr, Searching) {
    LuStr s("a,b,,c");
    EXPECT_EQ(1, s.indexOf(','));
    EXPECT_EQ(3, s.indexOf(',', 2));
    EXPECT_EQ(4, s.indexOfNth(',', 3));
    EXPECT_EQ(-1, s.indexOfNth(',', 4));
    EXPECT_EQ(4, s.lastIndexOf(','));
    EXPECT_EQ(0x7fffffff, s.lastIndexOfOrMax('x'));
    EXPECT_EQ(3, s.count(','));
    EXPECT_EQ(3, s.indexOf(",,"));
    EXPECT_EQ(-1, s.indexOf(",,", 4));
    EXPECT_EQ(LuStr("cd"), LuStr(",,cd,e").firstToken(","));
    EXPECT_TRUE(LuStr(",,,").firstToken(",").isNull());
}

TEST(LuStr, CaseAndComparison) {
    LuStr s("Cam-1 abc");
    s.makeUpper();
    EXPECT_EQ(LuStr("CAM-1 ABC"), s);
    s.makeLower();
    EXPECT_EQ(LuStr("cam-1 abc"), s);
    EXPECT_EQ(0, s.compareNoCase("CAM-1 Abc"));
    EXPECT_GT(LuStr("abcd").compareNoCase("ABC"), 0);
    EXPECT_FALSE(s.startsWith("cam-1 abcd"));
    EXPECT_LT(LuStr("a").compareLocale(LuStr("b")), 0);
}

TEST(LuStr, NumberConversionsTakeTheWholeText) {
    int i = 0;
    EXPECT_TRUE(LuStr("-42").toInt(i));
    EXPECT_EQ(-42, i);
    EXPECT_FALSE(LuStr("12x").toInt(i));
    EXPECT_EQ(12, i);  // the partial value is left behind
    EXPECT_FALSE(LuStr("").toInt(i));
    EXPECT_FALSE(LuStr("3000000000").toInt(i));
    EXPECT_TRUE(LuStr("2147483647").toInt(i));
    EXPECT_EQ(2147483647, i);

    std::uint32_t h = 0;
    EXPECT_TRUE(LuStr("ff").toHex(h));
    EXPECT_EQ(255u, h);
    EXPECT_TRUE(LuStr("FFFFFFFF").toHex(h));
    EXPECT_EQ(0xffffffffu, h);
    EXPECT_FALSE(LuStr("100000000").toHex(h));

    double d = 0;
    EXPECT_TRUE(LuStr("1.5e3").toDouble(d));
    EXPECT_EQ(1500.0, d);
    EXPECT_FALSE(LuStr("inf").toDouble(d));
    EXPECT_TRUE(LuStr("inf").toDouble(d, true));
    EXPECT_TRUE(std::isinf(d));
    EXPECT_FALSE(LuStr("nan").toDouble(d));
    EXPECT_FALSE(LuStr("1.5 ").toDouble(d));

    float f = 0;
    EXPECT_TRUE(LuStr("0.25").toFloat(f));
    EXPECT_EQ(0.25f, f);
    EXPECT_FALSE(LuStr("1e999").toFloat(f));
}

TEST(LuStr, SplittingOffLines) {
    LuStr text("first\nsecond\n\nlast");
    EXPECT_EQ(LuStr("first"), text.splitFirstLine());
    EXPECT_EQ(LuStr("second"), text.splitFirstLine());
    EXPECT_EQ(LuStr(""), text.splitFirstLine());
    EXPECT_EQ(LuStr("last"), text);
    EXPECT_EQ(LuStr("last"), text.splitFirstLine());
    EXPECT_EQ(LuStr(""), text);
}

TEST(LuStr, ReadingFromStreams) {
    std::istringstream in("  word1\tword2\nline rest\nlast");
    LuStr s;
    in >> s;
    EXPECT_EQ(LuStr("word1"), s);
    EXPECT_EQ('\t', in.peek());  // the white space that ended the word stays
    in >> s;
    EXPECT_EQ(LuStr("word2"), s);
    in.get();
    ASSERT_TRUE(LuStr::readLine(in, s));
    EXPECT_EQ(LuStr("line rest"), s);
    in >> s;
    EXPECT_EQ(LuStr("last"), s);
    EXPECT_TRUE(in.eof());
    in.clear();
    EXPECT_FALSE(in >> s);
}

TEST(LuStr, NumbersUseADecimalPointWhateverTheLocale) {
    FY_REQUIRE_PREREQUISITE(setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr, "no locale with a decimal comma installed");
    double d = 0;
    float f = 0;
    bool okDouble = LuStr("1.25").toDouble(d);
    bool okFloat = LuStr("0.5").toFloat(f);
    setlocale(LC_NUMERIC, "C");
    EXPECT_TRUE(okDouble);
    EXPECT_EQ(1.25, d);
    EXPECT_TRUE(okFloat);
    EXPECT_EQ(0.5f, f);
}
