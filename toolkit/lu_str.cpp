#include "toolkit/lu_str.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <istream>
#include <ostream>

#include "toolkit/locale_setup.h"
#include "toolkit/lu_array.h"

namespace {

// Character arrays are allocated in steps of 4 bytes; a resize within the same step keeps
// the array.
std::size_t roundedSize(std::size_t used) { return (used + 3) & ~static_cast<std::size_t>(3); }

void* checkedRealloc(void* old, std::size_t bytes) {
    void* p = std::realloc(old, bytes);
    if (!p) lu_detail::arrayAllocationFailed(static_cast<long long>(bytes), bytes);
    return p;
}

// Formatted text goes through a fixed 1024-byte buffer, so it is cut to 1023 characters.
constexpr std::size_t kFormatBuffer = 1024;

std::size_t formatInto(char (&out)[kFormatBuffer], const char* fmt, va_list args) {
    int n = std::vsnprintf(out, sizeof out, fmt, args);
    if (n < 0) {
        out[0] = '\0';
        return 0;
    }
    return static_cast<std::size_t>(n) < sizeof out ? static_cast<std::size_t>(n) : sizeof out - 1;
}

}  // namespace

// --- buffer management ---------------------------------------------------------------------

void LuStr::release() {
    if (buf && --buf->refs == 0) {
        std::free(buf->chars);
        std::free(buf);
    }
    buf = nullptr;
    offset = 0;
}

// Replaces the buffer with a fresh, unshared one holding a copy of text. text may point into
// the old buffer.
void LuStr::adoptCopy(const char* text, std::size_t len) {
    Buffer* fresh = static_cast<Buffer*>(checkedRealloc(nullptr, sizeof(Buffer)));
    fresh->chars = static_cast<char*>(checkedRealloc(nullptr, roundedSize(len + 1)));
    if (len) std::memcpy(fresh->chars, text, len);
    fresh->chars[len] = '\0';
    fresh->used = len + 1;
    fresh->refs = 1;
    release();
    buf = fresh;
}

void LuStr::makeUnique() {
    if (!buf) {
        adoptCopy("", 0);
    } else if (buf->refs > 1) {
        adoptCopy(start(), static_cast<std::size_t>(length()));
    }
}

// Requires a unique buffer. used counts from the start of the array, offset included.
void LuStr::resizeUsed(std::size_t used) {
    if (roundedSize(used) != roundedSize(buf->used))
        buf->chars = static_cast<char*>(checkedRealloc(buf->chars, roundedSize(used)));
    buf->used = used;
    buf->chars[used - 1] = '\0';
}

// --- construction and assignment -----------------------------------------------------------

LuStr::LuStr(const char* text) {
    if (text) adoptCopy(text, std::strlen(text));
}

LuStr::LuStr(const char* text, std::size_t len) { adoptCopy(text ? text : "", text ? len : 0); }

LuStr::LuStr(std::string_view text) { adoptCopy(text.data(), text.size()); }

LuStr::LuStr(const LuStr& other) : buf(other.buf), offset(other.offset) {
    if (buf) ++buf->refs;
}

LuStr::LuStr(LuStr&& other) noexcept : buf(other.buf), offset(other.offset) {
    other.buf = nullptr;
    other.offset = 0;
}

LuStr::~LuStr() { release(); }

LuStr& LuStr::operator=(const LuStr& other) {
    if (other.buf) ++other.buf->refs;  // first, in case other shares our buffer
    release();
    buf = other.buf;
    offset = other.offset;
    return *this;
}

LuStr& LuStr::operator=(LuStr&& other) noexcept {
    if (this != &other) {
        release();
        buf = other.buf;
        offset = other.offset;
        other.buf = nullptr;
        other.offset = 0;
    }
    return *this;
}

LuStr& LuStr::operator=(const char* text) {
    if (!text) {
        release();
        return *this;
    }
    return assign(text, std::strlen(text));
}

LuStr& LuStr::assign(const char* text, std::size_t len) {
    if (buf && text >= buf->chars && text + len == buf->chars + buf->used - 1) {
        offset = static_cast<std::uint64_t>(text - buf->chars);
        return *this;
    }
    adoptCopy(text, len);
    return *this;
}

LuStr LuStr::format(const char* fmt, ...) {
    char text[kFormatBuffer];
    va_list args;
    va_start(args, fmt);
    std::size_t len = formatInto(text, fmt, args);
    va_end(args);
    return LuStr(text, len);
}

LuStr& LuStr::appendFormat(const char* fmt, ...) {
    char text[kFormatBuffer];
    va_list args;
    va_start(args, fmt);
    std::size_t len = formatInto(text, fmt, args);
    va_end(args);
    appendBytes(text, len);
    return *this;
}

// --- access and comparison -----------------------------------------------------------------

int LuStr::length() const { return buf ? static_cast<int>(buf->used - 1 - offset) : 0; }

const char* LuStr::c_str() const { return buf ? start() : ""; }

char* LuStr::newCopy() const {
    std::size_t len = static_cast<std::size_t>(length());
    char* copy = new char[len + 1];
    std::memcpy(copy, c_str(), len + 1);
    return copy;
}

bool operator==(const LuStr& a, const LuStr& b) {
    if (a.isNull() || b.isNull()) return a.isNull() == b.isNull();
    return std::strcmp(a.c_str(), b.c_str()) == 0;
}

bool operator==(const LuStr& a, const char* b) {
    if (a.isNull() || !b) return a.isNull() && !b;
    return std::strcmp(a.c_str(), b) == 0;
}

std::strong_ordering operator<=>(const LuStr& a, const LuStr& b) {
    if (a.isNull() || b.isNull()) return !a.isNull() <=> !b.isNull();
    return std::strcmp(a.c_str(), b.c_str()) <=> 0;
}

std::strong_ordering operator<=>(const LuStr& a, const char* b) {
    if (a.isNull() || !b) return !a.isNull() <=> (b != nullptr);
    return std::strcmp(a.c_str(), b) <=> 0;
}

bool LuStr::startsWith(const char* prefix) const {
    return std::strncmp(c_str(), prefix, std::strlen(prefix)) == 0;
}

int LuStr::compareLocale(const LuStr& other) const {
    fy::ensureLocale();
    return std::strcoll(c_str(), other.c_str());
}

int LuStr::compareNoCase(const char* other) const {
    auto fold = [](unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; };
    const unsigned char* a = reinterpret_cast<const unsigned char*>(c_str());
    const unsigned char* b = reinterpret_cast<const unsigned char*>(other ? other : "");
    for (;; ++a, ++b) {
        int d = fold(*a) - fold(*b);
        if (d != 0 || *a == 0) return d;
    }
}

LuStr operator+(const LuStr& a, const LuStr& b) {
    LuStr r(a);
    return r.append(b);
}

LuStr operator+(const LuStr& a, const char* b) {
    LuStr r(a);
    return r.append(b);
}

LuStr operator+(const char* a, const LuStr& b) {
    LuStr r(a);
    return r.append(b);
}

// --- substrings ----------------------------------------------------------------------------

LuStr LuStr::right(int n) const {
    if (n < 1) return LuStr("");
    int len = length();
    if (isNull()) return LuStr("");
    LuStr r(*this);
    if (n < len) r.offset += static_cast<std::uint64_t>(len - n);
    return r;
}

LuStr LuStr::from(int k) const { return right(length() - (k < 0 ? 0 : k)); }

LuStr LuStr::left(int n) const {
    LuStr r(*this);
    r.setLength(n);
    return r;
}

LuStr LuStr::mid(int k, int n) const {
    if (n <= 0) return LuStr("");
    LuStr r = from(k);
    r.setLength(n);
    return r;
}

LuStr LuStr::firstToken(const char* delimiters) const {
    const char* s = c_str();
    s += std::strspn(s, delimiters);
    std::size_t len = std::strcspn(s, delimiters);
    return len ? LuStr(s, len) : LuStr();
}

LuStr LuStr::splitFirstLine() {
    int lf = indexOf('\n');
    if (lf < 0) {
        LuStr whole = isNull() ? LuStr("") : *this;
        *this = "";
        return whole;
    }
    LuStr line(c_str(), static_cast<std::size_t>(lf));
    erase(0, lf + 1);
    return line;
}

// --- editing -------------------------------------------------------------------------------

LuStr& LuStr::setLength(int n) {
    if (n < 0) n = 0;
    int len = length();
    if (!isNull() && n == len) return *this;
    makeUnique();
    resizeUsed(offset + static_cast<std::size_t>(n) + 1);
    if (n > len) std::memset(start() + len, ' ', static_cast<std::size_t>(n - len));
    return *this;
}

LuStr& LuStr::erase(int pos, int count) {
    int len = length();
    if (pos < 0 || pos >= len || count <= 0) return *this;
    if (count > len - pos) count = len - pos;
    std::uint64_t newOffset = offset + static_cast<std::uint64_t>(count);
    if (pos == 0 && (buf->refs > 1 || newOffset < (buf->used - 1) / 2)) {
        offset = newOffset;  // cheap consumption from the front: the characters stay put
        return *this;
    }
    makeUnique();
    char* s = start();
    std::memmove(s + pos, s + pos + count, static_cast<std::size_t>(len - pos - count) + 1);
    resizeUsed(buf->used - static_cast<std::size_t>(count));
    return *this;
}

LuStr& LuStr::prepend(char c, int count) {
    if (count <= 0) return *this;
    int len = length();
    makeUnique();
    resizeUsed(buf->used + static_cast<std::size_t>(count));
    char* s = start();
    std::memmove(s + count, s, static_cast<std::size_t>(len));
    std::memset(s, c, static_cast<std::size_t>(count));
    return *this;
}

// text may point into this string's own buffer, which the resize may move.
void LuStr::appendBytes(const char* text, std::size_t len) {
    if (buf && len && text >= buf->chars && text < buf->chars + buf->used) {
        std::string copy(text, len);
        appendBytes(copy.data(), len);
        return;
    }
    makeUnique();
    std::size_t oldLen = static_cast<std::size_t>(length());
    resizeUsed(buf->used + len);
    if (len) std::memcpy(start() + oldLen, text, len);
}

LuStr& LuStr::append(const char* text) {
    if (!text) text = "";
    appendBytes(text, std::strlen(text));
    return *this;
}

LuStr& LuStr::append(const LuStr& other) {
    appendBytes(other.c_str(), static_cast<std::size_t>(other.length()));
    return *this;
}

LuStr& LuStr::append(char c) {
    appendBytes(&c, 1);
    return *this;
}

LuStr& LuStr::appendPadded(const char* text, int width) {
    if (width < 0) width = 0;
    std::size_t len = text ? strnlen(text, static_cast<std::size_t>(width)) : 0;
    appendBytes(text ? text : "", len);
    int pad = width - static_cast<int>(len);
    if (pad > 0) setLength(length() + pad);
    return *this;
}

void LuStr::replaceAt(int pos, int oldLen, const char* with, int withLen) {
    std::string keep;
    if (buf && with >= buf->chars && with < buf->chars + buf->used) {
        keep.assign(with, static_cast<std::size_t>(withLen));
        with = keep.data();
    }
    makeUnique();
    int len = length();
    int tail = len - pos - oldLen;
    if (withLen > oldLen) resizeUsed(buf->used + static_cast<std::size_t>(withLen - oldLen));
    char* s = start();
    if (withLen != oldLen)
        std::memmove(s + pos + withLen, s + pos + oldLen, static_cast<std::size_t>(tail));
    if (withLen) std::memcpy(s + pos, with, static_cast<std::size_t>(withLen));
    if (withLen < oldLen) resizeUsed(buf->used - static_cast<std::size_t>(oldLen - withLen));
}

bool LuStr::replaceFirst(const char* from, const char* to) {
    if (!from || !*from) return false;
    int pos = indexOf(from);
    if (pos < 0) return false;
    if (!to) to = "";
    replaceAt(pos, static_cast<int>(std::strlen(from)), to, static_cast<int>(std::strlen(to)));
    return true;
}

int LuStr::replaceAll(const char* from, const char* to) {
    if (!from || !*from) return 0;  // an empty pattern would match forever
    if (!to) to = "";
    int fromLen = static_cast<int>(std::strlen(from));
    int toLen = static_cast<int>(std::strlen(to));
    int replaced = 0;
    for (int pos = indexOf(from); pos >= 0; pos = indexOf(from, pos + toLen)) {
        replaceAt(pos, fromLen, to, toLen);
        ++replaced;
    }
    return replaced;
}

namespace {
bool isWhite(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
}  // namespace

LuStr& LuStr::trimLeft(bool stopAtLineBreak) {
    const char* s = c_str();
    int n = 0;
    while (s[n] && isWhite(s[n]) && !(stopAtLineBreak && (s[n] == '\r' || s[n] == '\n'))) ++n;
    return erase(0, n);
}

LuStr& LuStr::trimRight() {
    int len = length();
    int keep = len;
    while (keep > 0 && isWhite(c_str()[keep - 1])) --keep;
    if (keep != len) setLength(keep);
    return *this;
}

LuStr& LuStr::removeWhiteSpace() {
    if (isNull()) return *this;
    int len = length();
    const char* s = c_str();
    int first = 0;
    while (first < len && !isWhite(s[first])) ++first;
    if (first == len) return *this;
    makeUnique();
    char* d = start();
    int kept = first;
    for (int i = first; i < len; ++i)
        if (!isWhite(d[i])) d[kept++] = d[i];
    resizeUsed(buf->used - static_cast<std::size_t>(len - kept));
    return *this;
}

LuStr& LuStr::makeLower() {
    if (isNull()) return *this;
    makeUnique();
    for (char* s = start(); *s; ++s)
        if (*s >= 'A' && *s <= 'Z') *s = static_cast<char>(*s - 'A' + 'a');
    return *this;
}

LuStr& LuStr::makeUpper() {
    if (isNull()) return *this;
    makeUnique();
    for (char* s = start(); *s; ++s)
        if (*s >= 'a' && *s <= 'z') *s = static_cast<char>(*s - 'a' + 'A');
    return *this;
}

// --- searching -----------------------------------------------------------------------------

int LuStr::indexOf(char c, int from) const {
    int len = length();
    if (from < 0) from = 0;
    if (from >= len) return npos;
    const void* p = std::memchr(c_str() + from, c, static_cast<std::size_t>(len - from));
    return p ? static_cast<int>(static_cast<const char*>(p) - c_str()) : npos;
}

int LuStr::indexOf(const char* text, int from) const {
    int len = length();
    if (!text) return npos;
    if (from < 0) from = 0;
    if (from > len) return npos;
    const char* p = std::strstr(c_str() + from, text);
    return p ? static_cast<int>(p - c_str()) : npos;
}

int LuStr::indexOfNth(char c, int n) const {
    int pos = -1;
    for (int i = 0; i < n; ++i) {
        pos = indexOf(c, pos + 1);
        if (pos < 0) return npos;
    }
    return n < 1 ? npos : pos;
}

int LuStr::lastIndexOf(char c) const {
    const char* s = c_str();
    for (int i = length() - 1; i >= 0; --i)
        if (s[i] == c) return i;
    return npos;
}

int LuStr::lastIndexOfOrMax(char c) const {
    int pos = lastIndexOf(c);
    return pos < 0 ? 0x7fffffff : pos;
}

int LuStr::count(char c) const {
    int n = 0;
    const char* s = c_str();
    for (int i = 0, len = length(); i < len; ++i)
        if (s[i] == c) ++n;
    return n;
}

// --- number conversion ---------------------------------------------------------------------

bool LuStr::toHex(std::uint32_t& out) const {
    const char* s = c_str();
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(s, &end, 16);
    out = static_cast<std::uint32_t>(v);
    return end != s && *end == '\0' && errno != ERANGE && v <= 0xffffffffULL;
}

bool LuStr::toInt(int& out) const {
    const char* s = c_str();
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(s, &end, 10);
    bool inRange = errno != ERANGE && v >= INT_MIN && v <= INT_MAX;
    out = inRange ? static_cast<int>(v) : (v < 0 ? INT_MIN : INT_MAX);
    return end != s && *end == '\0' && inRange;
}

bool LuStr::toDouble(double& out, bool allowInfinite) const {
    const char* s = c_str();
    char* end = nullptr;
    {
        fy::CLocaleScope numbersInC;
        out = std::strtod(s, &end);
    }
    return end != s && *end == '\0' && (allowInfinite || std::isfinite(out));
}

bool LuStr::toFloat(float& out, bool allowInfinite) const {
    const char* s = c_str();
    char* end = nullptr;
    {
        fy::CLocaleScope numbersInC;
        out = std::strtof(s, &end);
    }
    return end != s && *end == '\0' && (allowInfinite || std::isfinite(out));
}

// --- streams -------------------------------------------------------------------------------

std::istream& operator>>(std::istream& in, LuStr& s) {
    std::istream::sentry ok(in);  // skips leading white space
    if (!ok) return in;
    std::streambuf* sb = in.rdbuf();
    std::string word;
    for (;;) {
        int c = sb->sgetc();
        if (c == std::char_traits<char>::eof()) {
            in.setstate(std::ios::eofbit);
            break;
        }
        if (isWhite(static_cast<char>(c))) break;  // left in the stream for the next read
        word.push_back(static_cast<char>(c));
        sb->sbumpc();
    }
    if (word.empty())
        in.setstate(std::ios::failbit);
    else
        s = LuStr(word.data(), word.size());
    return in;
}

bool LuStr::readLine(std::istream& in, LuStr& s) {
    std::string line;
    if (!std::getline(in, line)) return false;
    s = LuStr(line.data(), line.size());
    return true;
}

std::ostream& operator<<(std::ostream& out, const LuStr& s) {
    return out.write(s.c_str(), static_cast<std::streamsize>(s.length()));
}
