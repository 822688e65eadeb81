#pragma once
// LuStr is the shared, copy-on-write string of protocol records. Copies and suffixes share one
// buffer; a string is copied only when it is about to change while someone else still sees it.
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

class LuStr {
public:
    // Positions and lengths are ints; "absent" is -1 unless a function says otherwise.
    static constexpr int npos = -1;

    LuStr() = default;                          // the null string
    LuStr(const char* text);                    // NOLINT: implicit on purpose; nullptr gives null
    LuStr(const char* text, std::size_t len);   // exactly len characters, then a terminator
    explicit LuStr(std::string_view text);
    LuStr(const LuStr& other);
    LuStr(LuStr&& other) noexcept;
    ~LuStr();

    LuStr& operator=(const LuStr& other);
    LuStr& operator=(LuStr&& other) noexcept;
    LuStr& operator=(const char* text);
    // When text is the tail of this string's own buffer the string only moves its start.
    LuStr& assign(const char* text, std::size_t len);

    // printf-style; the result is cut to 1023 characters.
    static LuStr format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
    LuStr& appendFormat(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    bool isNull() const { return buf == nullptr; }
    bool isEmpty() const { return length() == 0; }
    int length() const;
    // Never null: the null string reads as "".
    const char* c_str() const;
    const char* text() const { return c_str(); }
    char operator[](int index) const { return c_str()[index]; }
    std::string_view view() const { return std::string_view(c_str(), static_cast<std::size_t>(length())); }
    std::string str() const { return std::string(view()); }
    // A new[] copy of the text that the caller deletes with delete[].
    char* newCopy() const;

    // Comparisons. Ordering is strcmp order with the null string before every other string,
    // so that null and empty stay distinct keys in ordered containers.
    friend bool operator==(const LuStr& a, const LuStr& b);
    friend bool operator==(const LuStr& a, const char* b);
    friend std::strong_ordering operator<=>(const LuStr& a, const LuStr& b);
    friend std::strong_ordering operator<=>(const LuStr& a, const char* b);
    // strcoll() order; makes sure the process locale has been set up first.
    int compareLocale(const LuStr& other) const;
    // ASCII letters compare without regard to case.
    int compareNoCase(const char* other) const;
    bool startsWith(const char* prefix) const;

    // Substrings. right() and from() share the buffer; the rest copy. Parts reaching past the
    // end are padded with spaces (left, mid) or clamped to the string (right, from).
    LuStr right(int n) const;
    LuStr from(int k) const;
    LuStr left(int n) const;
    LuStr mid(int k, int n) const;
    // The first run of characters not in delimiters, or the null string when there is none.
    LuStr firstToken(const char* delimiters) const;
    // Removes and returns the text before the first line feed; the string keeps what follows
    // it. Without a line feed the whole text is returned and the string becomes empty.
    LuStr splitFirstLine();

    // Editing (in place; a shared buffer is copied first).
    LuStr& setLength(int n);  // cut, or pad with spaces
    LuStr& erase(int pos, int count);
    LuStr& prepend(char c, int count = 1);
    LuStr& append(const char* text);
    LuStr& append(const LuStr& other);
    LuStr& append(char c);
    // Appends text cut or padded with spaces to exactly width characters.
    LuStr& appendPadded(const char* text, int width);
    LuStr& operator+=(const char* text) { return append(text); }
    LuStr& operator+=(const LuStr& other) { return append(other); }
    LuStr& operator+=(char c) { return append(c); }
    bool replaceFirst(const char* from, const char* to);
    // Returns the number of replacements; the search goes on after each inserted text.
    int replaceAll(const char* from, const char* to);
    bool removeFirst(const char* text) { return replaceFirst(text, ""); }

    // White space is space, tab, line feed, vertical tab, form feed and carriage return.
    LuStr& trimLeft(bool stopAtLineBreak = false);
    LuStr& trimRight();
    LuStr& trim() { return trimRight().trimLeft(); }
    LuStr& removeWhiteSpace();  // every white-space character, wherever it is

    LuStr& makeLower();  // ASCII only
    LuStr& makeUpper();

    // Searching.
    int indexOf(char c, int from = 0) const;
    int indexOf(const char* text, int from = 0) const;
    int indexOfNth(char c, int n) const;  // n counts from 1
    int lastIndexOf(char c) const;
    int lastIndexOfOrMax(char c) const;  // 0x7fffffff when absent
    int count(char c) const;
    bool contains(const char* text) const { return indexOf(text) >= 0; }

    // Number conversions: true only when at least one character was taken and the whole text
    // was taken; on failure the output holds whatever was converted. Values outside the
    // output's range fail too. Doubles and floats are read with '.' as the decimal point
    // whatever the process locale is.
    bool toHex(std::uint32_t& out) const;
    bool toInt(int& out) const;
    bool toDouble(double& out, bool allowInfinite = false) const;
    bool toFloat(float& out, bool allowInfinite = false) const;

    friend LuStr operator+(const LuStr& a, const LuStr& b);
    friend LuStr operator+(const LuStr& a, const char* b);
    friend LuStr operator+(const char* a, const LuStr& b);

    // Reads a word: skips white space, then takes characters up to the next white space,
    // which stays in the stream.
    friend std::istream& operator>>(std::istream& in, LuStr& s);
    // Reads up to the next line feed (which is consumed, not stored).
    static bool readLine(std::istream& in, LuStr& s);
    friend std::ostream& operator<<(std::ostream& out, const LuStr& s);

private:
    struct Buffer {
        char* chars;
        std::size_t used;  // bytes in use, terminator included
        int refs;
    };

    char* start() const { return buf->chars + offset; }
    void release();
    void adoptCopy(const char* text, std::size_t len);
    void makeUnique();
    void resizeUsed(std::size_t used);
    void appendBytes(const char* text, std::size_t len);
    void replaceAt(int pos, int oldLen, const char* with, int withLen);

    Buffer* buf = nullptr;
    std::uint64_t offset = 0;
};

template <>
struct std::hash<LuStr> {
    std::size_t operator()(const LuStr& s) const noexcept {
        return s.isNull() ? 0x9e3779b9u : std::hash<std::string_view>()(s.view());
    }
};
