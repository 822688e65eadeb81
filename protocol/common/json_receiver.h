#pragma once
// Reads one length-prefixed JSON text (u32 big-endian length, then the text) from a session
// socket: the realtime 'm' command and the command exchange use it. It only ever takes bytes
// that have arrived, so a client that sends half a message holds nobody but itself.
#include <cstdint>

#include "net/non_blocking_socket.h"
#include "protocol/common/store_task.h"
#include "toolkit/lu_str.h"

namespace RyStoreProtocol {

class JSonReceiver : public RyStoreTask {
public:
    // Longer texts are refused before anything is allocated for them: no JSON text of this
    // system comes near it, and a client must not make the host reserve what it announces.
    static constexpr uint32_t maxMessageLength = 1048576;
    // Whether an announced length is one this system reads; any other counts as a failed read.
    static bool acceptsLength(uint32_t length) { return length < 0x80000000u && length <= maxMessageLength; }

    // Starts done, with no message; reset() arms it for the next text.
    explicit JSonReceiver(NonBlockingSocket& socket) : socket_(socket) {}

    // Forgets the previous text and starts reading a new one. With waitForInput each read step
    // first asks the socket whether input is there (which also flushes its pending output).
    void reset(bool waitForInput = false);
    // Reads as far as the bytes that have arrived allow.
    void process() override;
    bool isAlive() override { return state_ != State::done; }
    bool isDone() const { return state_ == State::done; }
    // Once done: the text, or the null string when the length or the text could not be read
    // (the peer closed, or the length was 2^31 or more or above maxMessageLength). A length of 0
    // gives the empty text, which is not null.
    const LuStr& message() const { return message_; }
    // The length read for the current text, -1 before it has been read.
    int32_t announcedLength() const { return length_; }

private:
    enum class State { readingLength, readingText, done };

    // One read step; true when it changed the state.
    bool step();
    bool readLength();
    bool readText();
    bool settleIncompleteRead(SessionInputBuffer::Read result);
    void finish(const LuStr& message);

    NonBlockingSocket& socket_;
    LuStr message_;
    State state_ = State::done;
    int32_t length_ = -1;
    bool waitForInput_ = false;
};

}  // namespace RyStoreProtocol
