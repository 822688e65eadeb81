#include "net/input_buffer.h"

#include "toolkit/diagnostics.h"

#include <cstring>

namespace {
constexpr size_t readChunk = 16 * 1024;
// Consumed storage above this size is handed back once the buffer runs empty, so a session
// that once received a burst does not keep its peak for life.
constexpr size_t keptCapacity = 64 * 1024;
}  // namespace

size_t SessionInputBuffer::fillFrom(RySocketInterface& socket, size_t maxBytes) {
    compact();
    size_t added = 0;
    uint8_t chunk[readChunk];
    while (!peerClosed_ && added < maxBytes && bufferedBytes() < limit_) {
        size_t want = readChunk;
        if (want > maxBytes - added) want = maxBytes - added;
        if (want > limit_ - bufferedBytes()) want = limit_ - bufferedBytes();
        int got = socket.read(chunk, want);
        if (got < 0) {
            peerClosed_ = true;
            break;
        }
        if (got == 0) break;
        data_.insert(data_.end(), chunk, chunk + got);
        added += static_cast<size_t>(got);
    }
    return added;
}

void SessionInputBuffer::append(const void* data, size_t n) {
    compact();
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    data_.insert(data_.end(), bytes, bytes + n);
}

SessionInputBuffer::Read SessionInputBuffer::need(size_t n) const {
    if (n <= unreadBytes()) return Read::ok;
    // Filling stops at the limit, so a larger transaction could never complete.
    size_t transaction = cursor_ - committed_;
    if (!peerClosed_ && n <= limit_ && transaction <= limit_ - n) return Read::waiting;
    if (failureNotice_ != nullptr) fy::diagnostic("%s", failureNotice_);
    return Read::failed;
}

SessionInputBuffer::Read SessionInputBuffer::read(void* out, size_t n) {
    Read result = need(n);
    if (result != Read::ok) return result;
    if (n > 0) std::memcpy(out, data_.data() + cursor_, n);
    cursor_ += n;
    return Read::ok;
}

SessionInputBuffer::Read SessionInputBuffer::readByte(uint8_t& value) { return read(&value, 1); }

SessionInputBuffer::Read SessionInputBuffer::takeByte(uint8_t& value) {
    Read result = readByte(value);
    if (result == Read::ok)
        commit();
    else
        rollback();
    return result;
}

SessionInputBuffer::Read SessionInputBuffer::readU16(uint16_t& value) {
    uint8_t bytes[2];
    Read result = read(bytes, 2);
    if (result == Read::ok) value = static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
    return result;
}

SessionInputBuffer::Read SessionInputBuffer::readU32(uint32_t& value) {
    uint8_t bytes[4];
    Read result = read(bytes, 4);
    if (result == Read::ok)
        value = (static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16) |
                (static_cast<uint32_t>(bytes[2]) << 8) | bytes[3];
    return result;
}

SessionInputBuffer::Read SessionInputBuffer::skip(size_t n) {
    Read result = need(n);
    if (result == Read::ok) cursor_ += n;
    return result;
}

SessionInputBuffer::Read SessionInputBuffer::peekByte(uint8_t& value) const {
    Read result = need(1);
    if (result == Read::ok) value = data_[cursor_];
    return result;
}

SessionInputBuffer::Read SessionInputBuffer::readView(const uint8_t*& data, size_t n) {
    Read result = need(n);
    if (result != Read::ok) return result;
    data = data_.data() + cursor_;
    cursor_ += n;
    return Read::ok;
}

size_t SessionInputBuffer::take(void* out, size_t max) {
    size_t n = unreadBytes() < max ? unreadBytes() : max;
    if (n > 0) std::memcpy(out, data_.data() + cursor_, n);
    cursor_ += n;
    commit();
    return n;
}

void SessionInputBuffer::commit() {
    committed_ = cursor_;
    compact();
}

void SessionInputBuffer::compact() {
    if (committed_ == 0) return;
    if (committed_ == data_.size()) {
        data_.clear();
        if (data_.capacity() > keptCapacity) std::vector<uint8_t>().swap(data_);
        committed_ = cursor_ = 0;
        return;
    }
    // Moving only once at least half the storage is consumed keeps the cost per byte constant.
    if (committed_ < data_.size() - committed_) return;
    data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(committed_));
    cursor_ -= committed_;
    committed_ = 0;
}
