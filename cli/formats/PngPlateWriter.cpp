#include "cli/formats/PngPlateWriter.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "cli/formats/PngFrameReader.h"
#include "cli/pixels/AlphaAssociation.h"
#include "cli/pixels/PixelConversion.h"
#include "cli/png/PngWriter.h"

namespace framemeld::cli {
namespace {

// "deflate" or "deflate:N"; -1 for the codec's default.
int deflateLevel(const std::string &compression)
{
    const auto colon = compression.find(':');
    return colon == std::string::npos ? -1 : std::atoi(compression.c_str() + colon + 1);
}

} // namespace

bool writesPngPlate(const std::string &path, Depth depth, const std::string &dataType)
{
    if (!hasPngExtension(path) || depth == Depth::Float32) {
        return false;
    }
    const char *own = depth == Depth::Bits8 ? "uint8" : "uint16";
    return dataType.empty() || dataType == own;
}

void writePngPlate(std::FILE *file, const std::string &name, const PlateImage &plate,
                   const PlateFileOptions &options)
{
    const int channels = options.singleChannel ? 1 : options.withAlpha ? 4 : 3;
    const bool wide = plate.depth == Depth::Bits16;
    // PNG's alpha is straight: premultiplied colour is divided out as the rows go.
    const bool divide = options.withAlpha && !options.unassociatedAlpha;
    png::writePng(
        file, name, plate.width, plate.height, channels, wide ? 16 : 8,
        [&](int y, void *row) {
            const unsigned char *host = plate.pixels + y * plate.rowBytes;
            if (wide) {
                auto *out = static_cast<std::uint16_t *>(row);
                hostRowToFile(reinterpret_cast<const std::uint16_t *>(host), plate.width, channels,
                              out);
                if (divide) {
                    unpremultiplyRow(out, plate.width);
                }
            } else {
                auto *out = static_cast<std::uint8_t *>(row);
                hostRowToFile(host, plate.width, channels, out);
                if (divide) {
                    unpremultiplyRow(out, plate.width);
                }
            }
        },
        deflateLevel(options.compression));
}

} // namespace framemeld::cli
