#include "tools/frameyard-client/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "tools/frameyard-client/stream_setup.h"

namespace fycli {

double secondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

bool RunLimit::over() const {
    return interrupted || (seconds > 0 && secondsBetween(start, Clock::now()) >= seconds);
}

void terminalSize(int& columns, int& rows) {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
        columns = size.ws_col;
        rows = size.ws_row;
        return;
    }
    const char* c = std::getenv("COLUMNS");
    const char* r = std::getenv("LINES");
    columns = c ? std::atoi(c) : 80;
    rows = r ? std::atoi(r) : 24;
    if (columns <= 0) columns = 80;
    if (rows <= 0) rows = 24;
}

CursorGuard::CursorGuard() { std::printf("\x1b[?25l\x1b[2J"); }

void CursorGuard::restore() {
    if (restored) return;
    restored = true;
    std::printf("\x1b[?25h\r\n");
    std::fflush(stdout);
}

void drawInPlace(const std::vector<std::string>& lines) {
    std::string screen = "\x1b[H";
    for (size_t i = 0; i < lines.size(); ++i) screen += lines[i] + (i + 1 < lines.size() ? "\x1b[K\r\n" : "\x1b[K");
    screen += "\x1b[J";
    std::fputs(screen.c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace fycli
