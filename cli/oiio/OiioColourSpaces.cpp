#include "cli/oiio/OiioColourSpaces.h"

#include <OpenColorIO/OpenColorIO.h>

#include <memory>

#include "cli/core/CliError.h"

namespace OCIO = OCIO_NAMESPACE;

namespace framemeld::cli::oiio {
namespace {

// A processor for float samples; OpenColorIO's CPU processors are safe on several threads.
class OcioTransform final : public ColourTransform {
public:
    OcioTransform(OCIO::ConstCPUProcessorRcPtr processor, bool perChannel)
        : processor_(std::move(processor)), perChannel_(perChannel)
    {}

    void apply(float *red, std::size_t count, std::ptrdiff_t stride) const override
    {
        if (count == 0) {
            return;
        }
        const std::ptrdiff_t pixelBytes = stride * static_cast<std::ptrdiff_t>(sizeof(float));
        // Red, green and blue of each pixel; whatever follows them (alpha) is not touched.
        OCIO::PackedImageDesc image(red, static_cast<long>(count), 1, 3, OCIO::BIT_DEPTH_F32,
                                    sizeof(float), pixelBytes,
                                    pixelBytes * static_cast<std::ptrdiff_t>(count));
        processor_->apply(image);
    }

    bool perChannel() const override { return perChannel_; }

private:
    OCIO::ConstCPUProcessorRcPtr processor_;
    bool perChannel_;
};

std::shared_ptr<const ColourTransform> transformOf(const OCIO::ConstConfigRcPtr &config,
                                                   const std::string &from, const std::string &to)
{
    const OCIO::ConstProcessorRcPtr processor = config->getProcessor(from.c_str(), to.c_str());
    return std::make_shared<const OcioTransform>(
        processor->getOptimizedCPUProcessor(OCIO::BIT_DEPTH_F32, OCIO::BIT_DEPTH_F32,
                                            OCIO::OPTIMIZATION_DEFAULT),
        !processor->hasChannelCrosstalk());
}

// The name of the colour space `name` (a colour space, an alias or a role) has in the
// configuration, or "" when it has none.
std::string spaceNamed(const OCIO::ConstConfigRcPtr &config, const std::string &name)
{
    if (name.empty()) {
        return {};
    }
    const OCIO::ConstColorSpaceRcPtr space = config->getColorSpace(name.c_str());
    return space ? space->getName() : std::string();
}

std::string spaceList(const OCIO::ConstConfigRcPtr &config)
{
    std::string list;
    const int count = config->getNumColorSpaces();
    for (int i = 0; i < count && i < 40; ++i) {
        list += (i > 0 ? ", " : "") + std::string(config->getColorSpaceNameByIndex(i));
    }
    if (count > 40) {
        list += ", ... (" + std::to_string(count) + " in all)";
    }
    return list.empty() ? "none" : list;
}

} // namespace

ColourSpaceTransforms colourSpaceTransforms(const std::string &configPath,
                                            const std::string &footageTag, bool sceneLinear,
                                            const std::string &workingSpace)
{
    OCIO::ConstConfigRcPtr config;
    try {
        config = OCIO::Config::CreateFromFile(configPath.c_str());
    } catch (const OCIO::Exception &failure) {
        throw RunError(configPath + ": not an OpenColorIO configuration that can be read (" +
                       failure.what() + ")");
    }
    ColourSpaceTransforms transforms;
    transforms.workingSpace = spaceNamed(config, workingSpace);
    if (transforms.workingSpace.empty()) {
        throw UsageError("--working-space " + workingSpace +
                         ": no such colour space in the OpenColorIO configuration " + configPath +
                         " (it has " + spaceList(config) + "; or give auto, linear or log)");
    }
    transforms.footageSpace = spaceNamed(config, footageTag);
    if (transforms.footageSpace.empty()) {
        transforms.footageSpace =
            spaceNamed(config, sceneLinear ? OCIO::ROLE_SCENE_LINEAR : OCIO::ROLE_DEFAULT);
    }
    if (transforms.footageSpace.empty()) {
        throw RunError(configPath + ": the configuration has no colour space for the footage" +
                       (footageTag.empty() ? std::string() : " (tagged \"" + footageTag + "\")") +
                       " and no " + (sceneLinear ? "scene_linear" : "default") + " role");
    }
    try {
        transforms.encode = transformOf(config, transforms.footageSpace, transforms.workingSpace);
        transforms.decode = transformOf(config, transforms.workingSpace, transforms.footageSpace);
    } catch (const OCIO::Exception &failure) {
        throw RunError(configPath + ": no transform from " + transforms.footageSpace + " to " +
                       transforms.workingSpace + " and back (" + failure.what() + ")");
    }
    return transforms;
}

} // namespace framemeld::cli::oiio
