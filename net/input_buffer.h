#pragma once
// Bytes one client has sent that its session has not consumed yet. Protocol code reads an item
// inside a transaction: when all of its bytes are there it commits; when some are missing the
// read reports `waiting`, the code rolls back and tries again on a later poll with the bytes
// kept, so a client that sends half an item never blocks the host.
//
// A read that reports `waiting` is not progress: the caller must return "no progress" and wait
// for the next poll, or it spins (hasInput() stays true while unread bytes remain).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/socket_interface.h"

class SessionInputBuffer {
public:
    enum class Read { ok, waiting, failed };

    // A transaction that needs more than this many bytes fails instead of waiting: no protocol
    // item comes near it, and a client must not make the host buffer without limit.
    static constexpr size_t defaultLimit = 4 * 1024 * 1024;
    static constexpr size_t defaultFillBytes = 256 * 1024;

    SessionInputBuffer() = default;
    SessionInputBuffer(const SessionInputBuffer&) = delete;
    SessionInputBuffer& operator=(const SessionInputBuffer&) = delete;

    // Takes what the socket holds now, with non-blocking reads, at most maxBytes and never past
    // the limit; a read of -1 marks the peer closed. Returns the number of bytes added.
    size_t fillFrom(RySocketInterface& socket, size_t maxBytes = defaultFillBytes);
    // Adds bytes as if they had been received (tests, fuzzers, replays).
    void append(const void* data, size_t n);
    void markPeerClosed() { peerClosed_ = true; }
    bool peerClosed() const { return peerClosed_; }

    // Bytes past the transaction cursor.
    size_t unreadBytes() const { return data_.size() - cursor_; }
    // Bytes past the last commit (what a rollback would make unread again).
    size_t bufferedBytes() const { return data_.size() - committed_; }
    // Unread bytes, or the peer has closed (a read then fails once the bytes run out).
    bool hasInput() const { return unreadBytes() > 0 || peerClosed_; }

    void setLimit(size_t bytes) { limit_ = bytes; }
    // A line written to the diagnostic stream whenever a read fails; null (the default) for none.
    void setFailureNotice(const char* text) { failureNotice_ = text; }
    size_t limit() const { return limit_; }
    // Storage held, consumed or not (for accounting).
    size_t capacityBytes() const { return data_.capacity(); }

    // Each read takes all of its bytes or none: `waiting` while they may still come, `failed`
    // when the peer closed before they did or the transaction outgrew the limit.
    Read read(void* out, size_t n);
    Read readByte(uint8_t& value);
    Read readU16(uint16_t& value);  // big-endian
    Read readU32(uint32_t& value);  // big-endian
    Read skip(size_t n);
    // One byte as a transaction of its own: taken for good when it is there, left alone
    // otherwise (the open transaction is committed or rolled back with it).
    Read takeByte(uint8_t& value);
    // The next byte without taking it.
    Read peekByte(uint8_t& value) const;
    // Points data at the next n bytes inside the buffer and takes them; the pointer stays valid
    // until the next fill, append, commit or take.
    Read readView(const uint8_t*& data, size_t n);

    // Takes up to max bytes, whatever is there, and commits: for stream-style readers.
    size_t take(void* out, size_t max);

    // What the transaction read is consumed for good.
    void commit();
    // The cursor goes back to the last commit; the bytes stay for the next attempt.
    void rollback() { cursor_ = committed_; }

private:
    Read need(size_t n) const;
    void compact();

    std::vector<uint8_t> data_;
    size_t committed_ = 0;  // bytes before it are consumed
    size_t cursor_ = 0;     // next byte the transaction reads
    size_t limit_ = defaultLimit;
    bool peerClosed_ = false;
    const char* failureNotice_ = nullptr;
};

// Rolls the buffer back when it goes out of scope, unless the transaction was committed.
class InputTransaction {
public:
    explicit InputTransaction(SessionInputBuffer& buffer) : buffer_(buffer) {}
    ~InputTransaction() {
        if (!committed_) buffer_.rollback();
    }
    InputTransaction(const InputTransaction&) = delete;
    InputTransaction& operator=(const InputTransaction&) = delete;

    void commit() {
        buffer_.commit();
        committed_ = true;
    }

private:
    SessionInputBuffer& buffer_;
    bool committed_ = false;
};
