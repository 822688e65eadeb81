#pragma once
// What the long-running subcommands share: their run limit (--seconds or an interrupt), the
// terminal's size and a picture redrawn in place.
#include <chrono>
#include <string>
#include <vector>

namespace fycli {

using Clock = std::chrono::steady_clock;

double secondsBetween(Clock::time_point from, Clock::time_point to);

// The run ends at the deadline (when --seconds was given) or on an interrupt.
struct RunLimit {
    explicit RunLimit(double seconds) : seconds(seconds), start(Clock::now()) {}
    bool over() const;
    double elapsed() const { return secondsBetween(start, Clock::now()); }
    double seconds;
    Clock::time_point start;
};

// Columns and rows of the terminal on standard output (COLUMNS and LINES, else 80 x 24, when
// it is not a terminal).
void terminalSize(int& columns, int& rows);

// Hides the cursor and clears the screen for the picture; shows the cursor again below it
// however the command ends.
class CursorGuard {
public:
    CursorGuard();
    ~CursorGuard() { restore(); }
    CursorGuard(const CursorGuard&) = delete;
    CursorGuard& operator=(const CursorGuard&) = delete;
    void restore();

private:
    bool restored = false;
};

// Redraws the screen from its top left corner with these lines. No line feed follows the
// last line, so a picture as high as the terminal does not scroll it.
void drawInPlace(const std::vector<std::string>& lines);

}  // namespace fycli
