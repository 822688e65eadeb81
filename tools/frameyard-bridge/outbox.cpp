#include "tools/frameyard-bridge/outbox.h"

namespace bridge {

bool Outbox::push(OutMessage&& message) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (held_ + message.bytes() > capacity_) {
            ++dropped_;
            return false;
        }
        held_ += message.bytes();
        messages_.push_back(std::move(message));
    }
    ready_.notify_one();
    return true;
}

bool Outbox::pop(OutMessage& message, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait_for(lock, wait, [this] { return closed_ || !messages_.empty(); });
    if (messages_.empty()) return false;
    message = std::move(messages_.front());
    messages_.pop_front();
    held_ -= message.bytes();
    return true;
}

void Outbox::close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    ready_.notify_all();
}

uint64_t Outbox::dropped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

size_t Outbox::bytesHeld() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return held_;
}

}  // namespace bridge
