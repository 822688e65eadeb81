#pragma once
// What `frameyard-client live` makes of the images it receives: binary PGM files and a picture
// in terminal shades.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <frameyard/client.h>

namespace fycli {

// The image as a binary PGM file (P5, maximum value 255), readable by any image tool.
std::string pgmBytes(const frameyard::LiveImage& image);

// CAMERA_hh-mm-ss-ff.pgm, or CAMERA_N.pgm for an image without a timecode (N its number);
// characters of the camera name that do not belong in a file name become '_'.
std::string imageFileName(const std::string& camera, const std::optional<std::array<uint8_t, 4>>& timecode,
                          uint64_t number);

// Writes pgmBytes() to path; throws frameyard::Error when the file cannot be written.
void saveImage(const std::string& path, const frameyard::LiveImage& image);

// The image scaled down to at most columns x rows terminal cells (cells are about twice as
// high as wide), each cell the mean of its pixels as one of ten shades from ' ' to '@'.
std::vector<std::string> shadeImage(const frameyard::LiveImage& image, int columns, int rows);

}  // namespace fycli
