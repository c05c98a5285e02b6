#include "cli/plate/PlateWriter.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/core/CliError.h"
#include "cli/files/FileHandle.h"
#include "cli/formats/OiioModule.h"
#include "cli/formats/PngFrameReader.h"
#include "cli/formats/PngPlateWriter.h"
#include "cli/plate/OutputChecks.h"

namespace framemeld::cli {

std::unique_ptr<TemporaryPlateFile> writePlateAside(const std::string &path,
                                                    const PlateImage &plate,
                                                    const PlateFileOptions &options,
                                                    const std::atomic<bool> *cancel)
{
    // Beside the file a linked output points to, so that the rename stays on one file system
    // and replaces that file, not the link.
    auto temporary = std::make_unique<TemporaryPlateFile>(resolvedOutputPath(path), path);

    if (writesPngPlate(path, plate.depth, options.dataType)) {
        // A second descriptor for stdio to own and close; the temporary file keeps its own to
        // sync and check the file by.
        const int fd = dup(temporary->fd());
        UniqueFile file(fd >= 0 ? fdopen(fd, "wb") : nullptr);
        if (!file) {
            const int failure = errno;
            if (fd >= 0) {
                close(fd);
            }
            throw RunError(path + ": cannot write the output (" + std::strerror(failure) + ")");
        }
        writePngPlate(file.get(), path, plate, options);
        // A full disk may only show when the buffer is flushed.
        if (std::fclose(file.release()) != 0) {
            throw RunError(path + ": cannot write the output (" + std::strerror(errno) + ")");
        }
    } else {
        oiioModule().writePlate(temporary->fd(), path, plate, options);
    }
    if (cancel != nullptr && cancel->load()) {
        throw CancelledError();
    }
    temporary->finish();
    return temporary;
}

void writePlate(const std::string &path, const PlateImage &plate, const PlateFileOptions &options,
                const std::atomic<bool> *cancel)
{
    writePlateAside(path, plate, options, cancel)->putInPlace();
}

long long samplesOutsideUnitRange(const PlateImage &plate)
{
    if (plate.depth != Depth::Float32) {
        return 0;
    }
    long long outside = 0;
    for (int y = 0; y < plate.height; ++y) {
        const auto *row = reinterpret_cast<const float *>(plate.pixels + y * plate.rowBytes);
        for (int i = 0; i < plate.width * 4; ++i) {
            outside += (row[i] < 0.0f || row[i] > 1.0f) ? 1 : 0;
        }
    }
    return outside;
}

} // namespace framemeld::cli
