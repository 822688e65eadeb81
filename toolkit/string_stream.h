#pragma once
// The growable in-memory output stream that JSON and every other message text is built in.
// The buffer starts at 1024 bytes and grows by 1024 at a time; running out of memory while
// building text ends the process.
#include <ios>
#include <ostream>
#include <streambuf>

#include "toolkit/lu_str.h"

// The write-only stream buffer behind LuOSStream.
class LuSStreamBuf : public std::streambuf {
public:
    static constexpr int kStep = 1024;

    LuSStreamBuf();
    ~LuSStreamBuf() override;
    LuSStreamBuf(const LuSStreamBuf&) = delete;
    LuSStreamBuf& operator=(const LuSStreamBuf&) = delete;

    // The text written so far, NUL-terminated; valid until the next write.
    const char* text();
    int length() const { return static_cast<int>(pptr() - pbase()); }
    int capacity() const { return size; }
    void setText(const char* text);
    void setAbortOnFailure(bool abort) { abortOnFailure = abort; }

protected:
    int_type underflow() override;
    int_type overflow(int_type c) override;

private:
    char* buffer;
    int size;
    bool abortOnFailure = true;
};

// Owns the LuSStreamBuf that a stream writes into.
class LuSStreamBase : public virtual std::basic_ios<char> {
public:
    ~LuSStreamBase() override = default;

    const char* text() { return streamBuffer.text(); }
    int length() const { return streamBuffer.length(); }
    // A copy of the text written so far (it may hold NUL bytes).
    LuStr toLuStr() { return LuStr(streamBuffer.text(), static_cast<size_t>(streamBuffer.length())); }
    void setText(const char* text) { streamBuffer.setText(text); }
    LuSStreamBuf& buffer() { return streamBuffer; }

protected:
    LuSStreamBase() { this->init(&streamBuffer); }

    LuSStreamBuf streamBuffer;
};

// An output stream whose text is kept in memory: write with <<, then read text().
class LuOSStream : public LuSStreamBase, public std::ostream {
public:
    LuOSStream() : std::basic_ios<char>(), LuSStreamBase(), std::ostream(&streamBuffer) {}
    ~LuOSStream() override = default;
};
