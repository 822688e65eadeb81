// Feeds a session input buffer in arbitrary pieces, interleaved with transactional reads,
// commits and rollbacks, and checks every byte read against a plain model of the stream.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/input_buffer.h"
#include "net/test_sockets.h"

namespace {

using Read = SessionInputBuffer::Read;

// Hands out queued bytes in the sizes the input asks for, as a socket would.
class ChunkSocket : public net_test::NullSocket {
public:
    std::string pending;
    size_t maxPerRead = 1;
    bool closed = false;

    bool hasInput() override { return !pending.empty() || closed; }
    int read(void* buffer, size_t length) override {
        if (pending.empty()) return closed ? -1 : 0;
        size_t n = std::min({length, maxPerRead, pending.size()});
        std::memcpy(buffer, pending.data(), n);
        pending.erase(0, n);
        return static_cast<int>(n);
    }
};

void check(bool condition) {
    if (!condition) std::abort();
}

struct Model {
    std::string stream;   // every byte that entered the buffer
    size_t committed = 0;
    size_t cursor = 0;
    bool closed = false;

    // What a read of n bytes must give, given the bytes that have entered so far.
    Read expect(size_t n) const {
        if (cursor + n <= stream.size()) return Read::ok;
        return closed ? Read::failed : Read::waiting;
    }
};

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    uint8_t byte() { return empty() ? 0 : data_[at_++]; }
    std::string bytes(size_t n) {
        n = std::min(n, size_ - at_);
        std::string s(reinterpret_cast<const char*>(data_ + at_), n);
        at_ += n;
        return s;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

void readAndCompare(SessionInputBuffer& buffer, Model& model, size_t n) {
    std::string out(n, '\0');
    Read expected = model.expect(n);
    Read got = buffer.read(out.data(), n);
    check(got == expected);
    if (got != Read::ok) return;
    check(out == model.stream.substr(model.cursor, n));
    model.cursor += n;
}

void readNumberAndCompare(SessionInputBuffer& buffer, Model& model, bool wide) {
    size_t n = wide ? 4 : 2;
    Read expected = model.expect(n);
    uint32_t value = 0;
    uint16_t narrow = 0;
    Read got = wide ? buffer.readU32(value) : buffer.readU16(narrow);
    check(got == expected);
    if (got != Read::ok) return;
    if (!wide) value = narrow;
    uint32_t want = 0;
    for (size_t i = 0; i < n; ++i) want = (want << 8) | static_cast<uint8_t>(model.stream[model.cursor + i]);
    check(value == want);
    model.cursor += n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input input(data, size);
    SessionInputBuffer buffer;
    ChunkSocket socket;
    Model model;
    while (!input.empty()) {
        uint8_t op = input.byte();
        switch (op % 9) {
        case 0: {  // bytes arrive directly
            std::string piece = input.bytes(input.byte());
            if (model.closed) break;
            buffer.append(piece.data(), piece.size());
            model.stream += piece;
            break;
        }
        case 1:  // bytes arrive at the socket, to be drained later
            if (!socket.closed) socket.pending += input.bytes(input.byte());
            break;
        case 2: {  // the session drains the socket
            socket.maxPerRead = 1 + input.byte();
            std::string before = socket.pending;
            size_t added = buffer.fillFrom(socket, 1 + input.byte() * 4u);
            check(added == before.size() - socket.pending.size());
            model.stream += before.substr(0, added);
            // Only a drained, closed socket may mark the end.
            if (buffer.peerClosed()) check(socket.closed && socket.pending.empty());
            model.closed = buffer.peerClosed();
            break;
        }
        case 3:
            readAndCompare(buffer, model, input.byte() % 40);
            break;
        case 4:
            readNumberAndCompare(buffer, model, op & 0x10);
            break;
        case 5:
            buffer.commit();
            model.committed = model.cursor;
            break;
        case 6:
            buffer.rollback();
            model.cursor = model.committed;
            break;
        case 7: {  // stream-style read: takes what is there and commits
            std::string out(input.byte(), '\0');
            size_t got = buffer.take(out.data(), out.size());
            check(got == std::min(out.size(), model.stream.size() - model.cursor));
            check(out.substr(0, got) == model.stream.substr(model.cursor, got));
            model.cursor += got;
            model.committed = model.cursor;
            break;
        }
        case 8:  // the peer goes away; what it sent before stays readable
            socket.closed = true;
            break;
        }
        check(buffer.unreadBytes() == model.stream.size() - model.cursor);
        check(buffer.bufferedBytes() == model.stream.size() - model.committed);
    }
    return 0;
}
