#include "tools/frameyard-client/live_output.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>

namespace fycli {
namespace {

constexpr char kShades[] = " .:-=+*#%@";
constexpr int kShadeCount = sizeof kShades - 1;
constexpr double kCellAspect = 2.0;

// The mean of the pixels in [x0, x1) x [y0, y1), clipped to the image.
unsigned meanOf(const frameyard::LiveImage& image, size_t x0, size_t x1, size_t y0, size_t y1) {
    if (x0 >= image.width || y0 >= image.height) return 0;
    x1 = std::min<size_t>(std::max(x1, x0 + 1), image.width);
    y1 = std::min<size_t>(std::max(y1, y0 + 1), image.height);
    uint64_t sum = 0;
    for (size_t y = y0; y < y1; ++y) {
        const uint8_t* row = image.pixels.data() + y * image.width;
        for (size_t x = x0; x < x1; ++x) sum += row[x];
    }
    return static_cast<unsigned>(sum / ((x1 - x0) * (y1 - y0)));
}

}  // namespace

std::string pgmBytes(const frameyard::LiveImage& image) {
    std::string out = "P5\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
    out.append(image.pixels.begin(), image.pixels.end());
    return out;
}

std::string imageFileName(const std::string& camera, const std::optional<std::array<uint8_t, 4>>& timecode,
                          uint64_t number) {
    std::string name;
    for (char c : camera) name += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' ? c : '_';
    if (name.empty() || name[0] == '.') name = "_" + name;
    char suffix[32];
    if (timecode) {
        const std::array<uint8_t, 4>& t = *timecode;
        std::snprintf(suffix, sizeof suffix, "_%02u-%02u-%02u-%02u.pgm", t[0], t[1], t[2], t[3]);
    } else {
        std::snprintf(suffix, sizeof suffix, "_%llu.pgm", static_cast<unsigned long long>(number));
    }
    return name + suffix;
}

void saveImage(const std::string& path, const frameyard::LiveImage& image) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    std::string bytes = pgmBytes(image);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) throw frameyard::Error("cannot write " + path);
}

std::vector<std::string> shadeImage(const frameyard::LiveImage& image, int columns, int rows) {
    std::vector<std::string> lines;
    if (image.width == 0 || image.height == 0 || columns <= 0 || rows <= 0) return lines;
    // Pixels per cell: as few as the width allows, then more if the height does not fit.
    double across = std::max(1.0, static_cast<double>(image.width) / columns);
    if (image.height / (across * kCellAspect) > rows) across = image.height / (kCellAspect * rows);
    double down = across * kCellAspect;
    int cellsAcross = std::max(1, std::min(columns, static_cast<int>(image.width / across)));
    int cellsDown = std::max(1, std::min(rows, static_cast<int>(image.height / down)));
    for (int r = 0; r < cellsDown; ++r) {
        std::string line;
        size_t y0 = static_cast<size_t>(r * down), y1 = static_cast<size_t>((r + 1) * down);
        for (int c = 0; c < cellsAcross; ++c) {
            size_t x0 = static_cast<size_t>(c * across), x1 = static_cast<size_t>((c + 1) * across);
            line += kShades[meanOf(image, x0, x1, y0, y1) * kShadeCount / 256];
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace fycli
