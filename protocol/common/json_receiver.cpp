#include "protocol/common/json_receiver.h"

namespace RyStoreProtocol {

void JSonReceiver::reset(bool waitForInput) {
    message_ = LuStr();
    state_ = State::readingLength;
    length_ = -1;
    waitForInput_ = waitForInput;
}

void JSonReceiver::process() {
    // Each step either changes the state or stops for lack of input, and there are only two
    // states before done, so this ends after at most two rounds.
    while (state_ != State::done && step()) {
    }
}

bool JSonReceiver::step() {
    if (waitForInput_ && !socket_.hasInput()) return false;
    switch (state_) {
        case State::readingLength:
            return readLength();
        case State::readingText:
            return readText();
        case State::done:
            break;
    }
    return false;
}

// An item not read in full: while its bytes are still coming they stay for the next poll (no
// progress); once the client has closed, the receiver is done without a message.
bool JSonReceiver::settleIncompleteRead(SessionInputBuffer::Read result) {
    socket_.input().rollback();
    if (result == SessionInputBuffer::Read::waiting) return false;
    finish(LuStr());
    return true;
}

bool JSonReceiver::readLength() {
    SessionInputBuffer& input = socket_.input();
    uint32_t length = 0;
    SessionInputBuffer::Read result = input.readU32(length);
    if (result != SessionInputBuffer::Read::ok) return settleIncompleteRead(result);
    input.commit();
    if (!acceptsLength(length)) {
        finish(LuStr());
        return true;
    }
    length_ = static_cast<int32_t>(length);
    state_ = State::readingText;
    return true;
}

bool JSonReceiver::readText() {
    SessionInputBuffer& input = socket_.input();
    const uint8_t* text = nullptr;
    SessionInputBuffer::Read result = input.readView(text, static_cast<size_t>(length_));
    if (result != SessionInputBuffer::Read::ok) return settleIncompleteRead(result);
    // The text is copied out before the commit, which may move the buffer's bytes.
    LuStr message(reinterpret_cast<const char*>(text), static_cast<size_t>(length_));
    input.commit();
    finish(message);
    return true;
}

void JSonReceiver::finish(const LuStr& message) {
    message_ = message;
    state_ = State::done;
}

}  // namespace RyStoreProtocol
