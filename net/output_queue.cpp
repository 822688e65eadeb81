#include "net/output_queue.h"

#include <algorithm>

void LuOutputQueue::append(const void* data, size_t length) {
    if (length == 0) return;
    copies_.append(data, length);
    size_ += length;
    if (head_ < segments_.size() && segments_.back().shared.size() == 0) {
        segments_.back().length += length;
        return;
    }
    segments_.push_back(Segment{LuSharedBytes(), 0, length});
}

void LuOutputQueue::appendShared(const LuSharedBytes& bytes, size_t offset) {
    if (offset >= bytes.size()) return;
    size_t length = bytes.size() - offset;
    segments_.push_back(Segment{bytes, offset, length});
    size_ += length;
}

LuOutputQueue::Chunk LuOutputQueue::front() const {
    if (size_ == 0) return {nullptr, 0};
    const Segment& segment = segments_[head_];
    if (segment.shared.size() > 0) return {segment.shared.data() + segment.offset, segment.length};
    Chunk copied = copies_.front();
    return {copied.data, std::min(copied.length, segment.length)};
}

void LuOutputQueue::consume(size_t n) {
    n = static_cast<size_t>(std::min<uint64_t>(n, size_));
    while (n > 0) {
        Segment& segment = segments_[head_];
        size_t taken = std::min(n, segment.length);
        if (segment.shared.size() > 0)
            segment.offset += taken;
        else
            copies_.consume(taken);
        segment.length -= taken;
        size_ -= taken;
        n -= taken;
        if (segment.length == 0) popFront();
    }
}

void LuOutputQueue::popFront() {
    segments_[head_].shared = LuSharedBytes();
    ++head_;
    if (head_ == segments_.size()) {
        segments_.clear();
        head_ = 0;
        // A long stall's segment list is not kept once it has drained.
        if (segments_.capacity() > 256) segments_.shrink_to_fit();
    } else if (head_ >= 64 && head_ * 2 >= segments_.size()) {
        segments_.erase(segments_.begin(), segments_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
}
