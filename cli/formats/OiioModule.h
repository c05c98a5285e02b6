#pragma once
// The interface of the module that reads and writes every format but PNG: still images and plates
// through OpenImageIO, movies through FFmpeg's libraries (which OpenImageIO brings along anyway).
// Those libraries are a few hundred shared objects: loading them costs about 0.2 s and 120 MiB
// before a single frame is read. So they live in a module of their own (cli/oiio/, the file
// FRAMEMELD_OIIO_MODULE_FILE_NAME beside the tool) that is loaded the first time a file needs
// it; a PNG sequence rendered to a PNG plate, through the tool's own PNG codec, never loads it.
//
// The module is built from the same sources with the same compiler as the tool, so the interface
// is plain C++; exceptions thrown inside (RunError, CancelledError) reach the tool's callers as
// they are.

#include <set>
#include <string>

#include "cli/core/Clip.h"
#include "cli/core/DecodeRequest.h"
#include "cli/core/PlateImage.h"

namespace framemeld::cli {

// File name extensions (lower case, no dot) of the formats OpenImageIO reads; the movie reader's
// own are kept apart so that a folder of frames never picks up a movie.
struct FootageExtensions {
    std::set<std::string> stills;
    std::set<std::string> movies;
};

class OiioModule {
public:
    virtual ~OiioModule() = default;

    virtual const FootageExtensions &extensions() const = 0;

    // A single file named on the command line, as a one-frame clip or a movie. Throws RunError
    // when nothing reads it (for a file whose extension the movie reader does not take, the
    // message says which it does take) or when a movie has no video frames.
    virtual Clip openFile(const std::string &path) const = 0;

    // The format of the clip's first frame; throws RunError naming the file.
    virtual FootageFormat probe(const Clip &clip) const = 0;

    // Decodes the still image `path` into `target` at request.depth; the request supplies the
    // format every frame must match and the cancel flag, checked between row chunks.
    virtual void decodeStill(const std::string &path, const DecodeRequest &request,
                             const FrameTarget &target) const = 0;

    // Decodes request.frames of the movie request.clip (see decodeFrames) with FFmpeg's
    // libraries, not OpenImageIO's movie reader.
    virtual void decodeMovie(const DecodeRequest &request) const = 0;

    // Whether the extension of `path` names a format OpenImageIO writes a plate in (its pseudo
    // formats and those that cannot fail cleanly are left out).
    virtual bool writesFormatOf(const std::string &path) const = 0;

    // Writes the plate, in the format the extension of `shownAs` names, to the open, empty,
    // readable and writable file `fd` (left open), then reads it back whole through the library.
    // Throws RunError naming `shownAs` (the file the user asked for) when any step fails,
    // with the system's reason where a system call failed.
    virtual void writePlate(int fd, const std::string &shownAs, const PlateImage &plate,
                            const PlateFileOptions &options) const = 0;

    // The OpenImageIO release the module was built against, for `framemeld --version`.
    virtual std::string libraryVersion() const = 0;
};

// Raised when the module's interface changes, so a stale module is refused, not misused.
inline constexpr int kOiioModuleInterface = 6;

// The module's one export: the interface for `interfaceVersion`, or null for another version.
using OiioModuleEntry = const OiioModule *(*)(int interfaceVersion);
inline constexpr const char *kOiioModuleEntryName = "framemeld_oiio_footage";

// Loads the module on first use (safe from any thread). Throws RunError saying where it looked
// when it cannot be loaded.
const OiioModule &oiioModule();

// The file oiioModule() loaded; loads it first, throwing as oiioModule() does.
std::string oiioModulePath();

} // namespace framemeld::cli
