#include "net/byte_queue.h"

#include <cstring>

LuByteQueue::~LuByteQueue() {
    while (first_) {
        Block* next = first_->next;
        delete first_;
        first_ = next;
    }
}

void LuByteQueue::append(const void* data, size_t length) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    while (length > 0) {
        if (!last_) {
            first_ = last_ = new Block;
            last_->next = nullptr;
            readOffset_ = writeOffset_ = 0;
        } else if (writeOffset_ == blockSize) {
            Block* block = new Block;
            block->next = nullptr;
            last_->next = block;
            last_ = block;
            writeOffset_ = 0;
        }
        size_t room = blockSize - writeOffset_;
        size_t n = length < room ? length : room;
        std::memcpy(last_->data + writeOffset_, bytes, n);
        writeOffset_ += static_cast<uint32_t>(n);
        size_ += n;
        bytes += n;
        length -= n;
    }
}

LuByteQueue::Chunk LuByteQueue::front() const {
    if (size_ == 0) return {nullptr, 0};
    return {first_->data + readOffset_, firstBlockEnd() - readOffset_};
}

LuByteQueue::Chunk LuByteQueue::Reader::next(size_t maxLength) {
    if (left_ == 0 || maxLength == 0) return {nullptr, 0};
    size_t blockEnd = block_ == queue_.last_ ? queue_.writeOffset_ : blockSize;
    if (offset_ == blockEnd) {
        block_ = block_->next;
        offset_ = 0;
        blockEnd = block_ == queue_.last_ ? queue_.writeOffset_ : blockSize;
    }
    size_t length = blockEnd - offset_;
    if (length > maxLength) length = maxLength;
    Chunk chunk{block_->data + offset_, length};
    offset_ += length;
    left_ -= length;
    return chunk;
}

void LuByteQueue::consume(size_t n) {
    if (n > size_) n = static_cast<size_t>(size_);
    while (n > 0) {
        size_t available = firstBlockEnd() - readOffset_;
        size_t taken = n < available ? n : available;
        readOffset_ += static_cast<uint32_t>(taken);
        size_ -= taken;
        n -= taken;
        if (readOffset_ == firstBlockEnd() && first_ != last_) {
            Block* next = first_->next;
            delete first_;
            first_ = next;
            readOffset_ = 0;
        }
    }
    if (size_ == 0 && first_) readOffset_ = writeOffset_ = 0;
}

size_t LuByteQueue::read(void* buffer, size_t n) {
    uint8_t* out = static_cast<uint8_t*>(buffer);
    size_t copied = 0;
    while (copied < n && size_ > 0) {
        Chunk chunk = front();
        size_t take = n - copied < chunk.length ? n - copied : chunk.length;
        std::memcpy(out + copied, chunk.data, take);
        consume(take);
        copied += take;
    }
    return copied;
}

size_t LuByteQueue::blockCount() const {
    size_t count = 0;
    for (const Block* block = first_; block; block = block->next) ++count;
    return count;
}
