#include "toolkit/diagnostics.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace fy {

namespace {
DiagnosticSink& currentSink() {
    static DiagnosticSink sink;
    return sink;
}

void emit(const std::string& text) {
    const DiagnosticSink& sink = currentSink();
    if (sink) {
        sink(text);
    } else {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    }
}
}  // namespace

void diagnostic(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (needed > 0) {
        std::vector<char> buffer(static_cast<size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        text.assign(buffer.data(), static_cast<size_t>(needed));
    }
    va_end(args);
    emit(text);
}

void diagnosticErrno(const char* what) {
    int saved = errno;
    emit(std::string(what) + ": " + std::strerror(saved) + "\n");
    errno = saved;
}

DiagnosticSink setDiagnosticSink(DiagnosticSink sink) {
    DiagnosticSink previous = std::move(currentSink());
    currentSink() = std::move(sink);
    return previous;
}

DiagnosticCapture::DiagnosticCapture()
    : previous(setDiagnosticSink([this](const std::string& text) { captured += text; })) {}

DiagnosticCapture::~DiagnosticCapture() { setDiagnosticSink(std::move(previous)); }

}  // namespace fy
