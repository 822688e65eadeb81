#pragma once
// An immutable run of bytes held by reference: one encoded frame that many client queues hold
// at once, so stalled clients of one view share a single backlog instead of a copy each.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class LuSharedBytes {
public:
    LuSharedBytes() = default;
    // Slack the producer reserved is given back first: the bytes may be held for as long as a
    // stalled client's backlog, and a frame encoder reserves for the worst case.
    explicit LuSharedBytes(std::vector<uint8_t> bytes) : bytes_(keep(std::move(bytes))) {}

    const uint8_t* data() const { return bytes_ ? bytes_->data() : nullptr; }
    size_t size() const { return bytes_ ? bytes_->size() : 0; }
    // What the buffer keeps allocated, for accounting.
    size_t heldBytes() const { return bytes_ ? bytes_->capacity() : 0; }
    // How many handles share the bytes (0 for an empty handle).
    long useCount() const { return bytes_.use_count(); }

private:
    static std::shared_ptr<const std::vector<uint8_t>> keep(std::vector<uint8_t> bytes) {
        if (bytes.capacity() - bytes.size() > bytes.size() / 8) bytes.shrink_to_fit();
        return std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
    }

    std::shared_ptr<const std::vector<uint8_t>> bytes_;
};

// Shared bytes made only when some destination must keep them: a producer that can lend its
// bytes for the length of one write offers this, and they are copied at most once, for all.
class LuSharedBytesSource {
public:
    // The same bytes as the ones lent, made on the first call.
    virtual const LuSharedBytes& bytes() = 0;

protected:
    ~LuSharedBytesSource() = default;
};
