#include "cli/formats/PngPlateWriter.h"

#include <cstdint>

#include "cli/formats/PngFrameReader.h"
#include "cli/pixels/PixelConversion.h"
#include "cli/png/PngWriter.h"

namespace framemeld::cli {

bool writesPngPlate(const std::string &path, Depth depth)
{
    return hasPngExtension(path) && depth != Depth::Float32;
}

void writePngPlate(std::FILE *file, const std::string &name, const PlateImage &plate,
                   const PlateFileOptions &options)
{
    const int channels = options.singleChannel ? 1 : options.withAlpha ? 4 : 3;
    const bool wide = plate.depth == Depth::Bits16;
    png::writePng(
        file, name, plate.width, plate.height, channels, wide ? 16 : 8, [&](int y, void *row) {
            const unsigned char *host = plate.pixels + y * plate.rowBytes;
            if (wide) {
                hostRowToFile(reinterpret_cast<const std::uint16_t *>(host), plate.width, channels,
                              static_cast<std::uint16_t *>(row));
            } else {
                hostRowToFile(host, plate.width, channels, static_cast<std::uint8_t *>(row));
            }
        });
}

} // namespace framemeld::cli
