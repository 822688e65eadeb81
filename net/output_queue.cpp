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

size_t LuOutputQueue::gather(Chunk* pieces, size_t maxPieces, size_t maxBytes) const {
    // Copied segments take their bytes from the copies in turn, so one walk of the copies
    // serves them all.
    LuByteQueue::Reader copies(copies_);
    size_t count = 0;
    for (size_t i = head_; i < segments_.size() && count < maxPieces && maxBytes > 0; ++i) {
        const Segment& segment = segments_[i];
        size_t wanted = std::min(segment.length, maxBytes);
        if (segment.shared.size() > 0) {
            pieces[count++] = {segment.shared.data() + segment.offset, wanted};
        } else {
            for (size_t left = wanted; left > 0 && count < maxPieces;) {
                Chunk chunk = copies.next(left);
                if (chunk.length == 0) return count;  // never: the copies hold every copied byte
                pieces[count++] = chunk;
                left -= chunk.length;
            }
        }
        maxBytes -= wanted;
        if (wanted < segment.length) break;
    }
    return count;
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
