#pragma once
// The one way library code writes a diagnostic line to standard error, so that tests can
// capture what would have been printed.
#include <functional>
#include <string>

namespace fy {

// Writes the printf-formatted text to the current sink (standard error by default).
void diagnostic(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Like perror(): "<what>: <strerror(errno)>\n".
void diagnosticErrno(const char* what);

using DiagnosticSink = std::function<void(const std::string&)>;

// Replaces the sink; an empty function restores standard error. Returns the previous sink.
DiagnosticSink setDiagnosticSink(DiagnosticSink sink);

// Captures every diagnostic written while it lives (for tests).
class DiagnosticCapture {
public:
    DiagnosticCapture();
    ~DiagnosticCapture();
    DiagnosticCapture(const DiagnosticCapture&) = delete;
    DiagnosticCapture& operator=(const DiagnosticCapture&) = delete;
    const std::string& text() const { return captured; }
    void clear() { captured.clear(); }

private:
    std::string captured;
    DiagnosticSink previous;
};

}  // namespace fy
