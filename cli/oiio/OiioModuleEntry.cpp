// The OpenImageIO module's one export: the tool's OiioModule interface over the readers and
// the writer of this folder, and the movie reader that shares the module's FFmpeg libraries.

#include <OpenImageIO/oiioversion.h>

#include "cli/formats/OiioModule.h"
#include "cli/oiio/OiioColourSpaces.h"
#include "cli/oiio/OiioFileKinds.h"
#include "cli/oiio/OiioFootageReader.h"
#include "cli/oiio/OiioFrameMetadata.h"
#include "cli/oiio/OiioPlateWriter.h"
#include "cli/oiio/movie/MovieReader.h"

namespace framemeld::cli::oiio {
namespace {

class OiioFootageModule final : public OiioModule {
public:
    const FootageExtensions &extensions() const override { return knownExtensions(); }
    Clip openFile(const std::string &path, const std::atomic<bool> *cancel) const override
    {
        return openClipFile(path, cancel);
    }
    FootageFormat probe(const Clip &clip) const override { return oiio::probeClipFormat(clip); }
    void decodeStill(const std::string &path, const DecodeRequest &request,
                     const FrameTarget &target) const override
    {
        oiio::decodeImageFile(path, request, target);
    }
    void decodeMovie(const DecodeRequest &request) const override { movie::decodeMovie(request); }
    PlateMetadata frameMetadata(const Clip &clip, int frame) const override
    {
        return oiio::frameMetadata(clip, frame);
    }
    bool writesFormatOf(const std::string &path) const override
    {
        return oiio::writesFormatOf(path);
    }
    void writePlate(int fd, const std::string &shownAs, const PlateImage &plate,
                    const PlateFileOptions &options) const override
    {
        oiio::writePlate(fd, shownAs, plate, options);
    }
    std::string libraryVersion() const override { return OIIO_VERSION_STRING; }
    ColourSpaceTransforms colourSpaceTransforms(const std::string &configPath,
                                                const std::string &footageTag, bool sceneLinear,
                                                const std::string &workingSpace) const override
    {
        return oiio::colourSpaceTransforms(configPath, footageTag, sceneLinear, workingSpace);
    }
};

} // namespace
} // namespace framemeld::cli::oiio

extern "C" __attribute__((visibility("default"))) const framemeld::cli::OiioModule *
framemeld_oiio_footage(int interfaceVersion)
{
    static const framemeld::cli::oiio::OiioFootageModule module;
    return interfaceVersion == framemeld::cli::kOiioModuleInterface ? &module : nullptr;
}
