#pragma once
// The interface of the module that reads and writes every format but PNG: still images and plates
// through OpenImageIO, movies through FFmpeg's libraries (which OpenImageIO brings along anyway).
// Those libraries are a few hundred shared objects: loading them costs about 0.2 s and 120 MiB
// before a single frame is read. So they live in a module of their own (cli/oiio/, the file
// FRAMEMELD_OIIO_MODULE_FILE_NAME beside the tool) that is loaded the first time a file needs
// it; a PNG sequence rendered to a PNG plate, through the tool's own PNG codec, never loads it.
// OpenColorIO, which OpenImageIO links anyway, serves the working spaces named after a
// configuration's colour spaces from here too.
//
// The module is built from the same sources with the same compiler as the tool, so the interface
// is plain C++; exceptions thrown inside (RunError, CancelledError) reach the tool's callers as
// they are.

#include <atomic>
#include <memory>
#include <set>
#include <string>

#include "cli/core/Clip.h"
#include "cli/core/ColourTransform.h"
#include "cli/core/DecodeRequest.h"
#include "cli/core/PlateImage.h"

namespace framemeld::cli {

// File name extensions (lower case, no dot) of the formats OpenImageIO reads; the movie reader's
// own are kept apart so that a folder of frames never picks up a movie.
struct FootageExtensions {
    std::set<std::string> stills;
    std::set<std::string> movies;
};

// The two ways between the footage's colour space and a working space, with the names the
// configuration gives both.
struct ColourSpaceTransforms {
    std::shared_ptr<const ColourTransform> encode; // footage to working space
    std::shared_ptr<const ColourTransform> decode; // and back
    std::string footageSpace;
    std::string workingSpace;
};

class OiioModule {
public:
    virtual ~OiioModule() = default;

    virtual const FootageExtensions &extensions() const = 0;

    // A single file named on the command line, as a one-frame clip or a movie, known by its
    // content (any container FFmpeg's libraries demux is a movie, whatever its name). Throws
    // RunError when nothing reads it or when a movie has no video that decodes, with FFmpeg's
    // reason; CancelledError when `cancel` is set while it reads (a movie's frames are counted
    // here, which may read the whole file).
    virtual Clip openFile(const std::string &path, const std::atomic<bool> *cancel) const = 0;

    // The format of the clip's first frame; throws RunError naming the file.
    virtual FootageFormat probe(const Clip &clip) const = 0;

    // Decodes the still image `path` into `target` at request.depth; the request supplies the
    // format every frame must match and the cancel flag, checked between row chunks.
    virtual void decodeStill(const std::string &path, const DecodeRequest &request,
                             const FrameTarget &target) const = 0;

    // Decodes request.frames of the movie request.clip (see decodeFrames) with FFmpeg's
    // libraries, not OpenImageIO's movie reader.
    virtual void decodeMovie(const DecodeRequest &request) const = 0;

    // The attributes of frame `frame` of the clip that its plate carries (see PlateMetadata.h).
    // Throws RunError naming the file.
    virtual PlateMetadata frameMetadata(const Clip &clip, int frame) const = 0;

    // Whether the extension of `path` names a format OpenImageIO writes a plate in (its pseudo
    // formats and those that cannot fail cleanly are left out).
    virtual bool writesFormatOf(const std::string &path) const = 0;

    // Writes the plate, in the format the extension of `shownAs` names, to the open, empty,
    // readable and writable file `fd` (left open), with the samples, compression, alpha
    // association and attributes options asks for (the association the format declares: EXR
    // premultiplied, PNG straight, the rest tagged as held), then reads it back whole through the
    // library.
    // Throws RunError naming `shownAs` (the file the user asked for) when any step fails,
    // with the system's reason where a system call failed.
    virtual void writePlate(int fd, const std::string &shownAs, const PlateImage &plate,
                            const PlateFileOptions &options) const = 0;

    // The OpenImageIO release the module was built against, for `framemeld --version`.
    virtual std::string libraryVersion() const = 0;

    // A colour space of the OpenColorIO configuration in the file `configPath` as the working
    // space: the transforms from the footage's colour space into `workingSpace` and back. The
    // footage is taken to be in the colour space its tag names (`footageTag`, see
    // FootageFormat::colourSpace) when the configuration has one by that name, else in the
    // configuration's scene_linear role when `sceneLinear`, else in its default role. Throws
    // UsageError when the configuration has no colour space `workingSpace` (the message lists
    // the ones it has) and RunError naming the file when it cannot be read or has no colour space
    // for the footage.
    virtual ColourSpaceTransforms colourSpaceTransforms(const std::string &configPath,
                                                        const std::string &footageTag,
                                                        bool sceneLinear,
                                                        const std::string &workingSpace) const = 0;
};

// Raised when the module's interface changes, so a stale module is refused, not misused.
inline constexpr int kOiioModuleInterface = 8;

// The module's one export: the interface for `interfaceVersion`, or null for another version.
using OiioModuleEntry = const OiioModule *(*)(int interfaceVersion);
inline constexpr const char *kOiioModuleEntryName = "framemeld_oiio_footage";

// Loads the module on first use (safe from any thread). Throws RunError saying where it looked
// when it cannot be loaded.
const OiioModule &oiioModule();

// The file oiioModule() loaded; loads it first, throwing as oiioModule() does.
std::string oiioModulePath();

} // namespace framemeld::cli
