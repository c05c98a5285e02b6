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
#include "cli/plate/TemporaryPlateFile.h"

namespace framemeld::cli {
void writePlate(const std::string &path, const PlateImage &plate, const PlateFileOptions &options,
                const std::atomic<bool> *cancel)
{
    // Beside the file a linked output points to, so that the rename stays on one file system
    // and replaces that file, not the link.
    TemporaryPlateFile temporary(resolvedOutputPath(path), path);

    if (writesPngPlate(path, plate.depth)) {
        // A second descriptor for stdio to own and close; the temporary file keeps its own to
        // sync and check the file by.
        const int fd = dup(temporary.fd());
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
        oiioModule().writePlate(temporary.fd(), path, plate, options);
    }
    if (cancel != nullptr && cancel->load()) {
        throw CancelledError();
    }
    temporary.putInPlace();
}

} // namespace framemeld::cli
