#include "toolkit/string_stream.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "toolkit/diagnostics.h"

LuSStreamBuf::LuSStreamBuf()
    : buffer(static_cast<char*>(std::malloc(kStep))), size(buffer ? kStep : 0) {
    setp(buffer, buffer + size);
}

LuSStreamBuf::~LuSStreamBuf() { std::free(buffer); }

LuSStreamBuf::int_type LuSStreamBuf::underflow() { return traits_type::eof(); }

LuSStreamBuf::int_type LuSStreamBuf::overflow(int_type c) {
    if (!buffer) {
        if (abortOnFailure) {
            fy::diagnostic("\nUnable to allocate stream buffer, aborting.\n");
            std::abort();
        }
        return traits_type::eof();
    }
    if (pptr() < epptr()) return 0;
    int used = size;
    // A capacity past INT_MAX would not fit the size field: treat it like exhausted memory.
    char* grown = size <= INT_MAX - kStep
                      ? static_cast<char*>(std::realloc(buffer, static_cast<std::size_t>(size) + kStep))
                      : nullptr;
    if (!grown) {
        if (abortOnFailure) {
            fy::diagnostic("\nUnable to increase stream buffer size, aborting.\n");
            std::abort();
        }
        return traits_type::eof();
    }
    buffer = grown;
    size += kStep;
    setp(buffer, buffer + size);
    pbump(used);
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return c;
}

const char* LuSStreamBuf::text() {
    if (pptr() == epptr()) overflow(traits_type::eof());  // room for the terminator
    if (pptr() == epptr()) return "";  // only without abort-on-failure, when no room was made
    *pptr() = '\0';
    return buffer;
}

void LuSStreamBuf::setText(const char* text) {
    std::size_t len = std::strlen(text);
    if (len > static_cast<std::size_t>(size)) {
        char* grown = len <= INT_MAX ? static_cast<char*>(std::realloc(buffer, len)) : nullptr;
        if (!grown) {
            if (abortOnFailure) {
                fy::diagnostic("\nUnable to increase stream buffer size, aborting.\n");
                std::abort();
            }
            return;
        }
        buffer = grown;
        size = static_cast<int>(len);
    }
    if (len) std::memcpy(buffer, text, len);
    setp(buffer, buffer + size);
    pbump(static_cast<int>(len));
}
