#include "cli/oiio/OiioFrameMetadata.h"

#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "cli/core/CliError.h"
#include "cli/core/ToolVersion.h"
#include "cli/oiio/OiioClaims.h"
#include "cli/oiio/OiioFileKinds.h"
#include "cli/oiio/OiioMessages.h"

namespace framemeld::cli::oiio {
namespace {

// How the frame file was stored, not what it shows; the plate's writer decides these anew.
const std::set<std::string> kStorageAttributes = {"compression",
                                                  "planarconfig",
                                                  "DateTime",
                                                  "Software",
                                                  "oiio:UnassociatedAlpha",
                                                  "oiio:BitsPerSample",
                                                  "oiio:subimages",
                                                  "oiio:Movie",
                                                  "oiio:subimagename",
                                                  "oiio:LoopCount",
                                                  "openexr:chunkCount",
                                                  "openexr:lineOrder",
                                                  "openexr:dwaCompressionLevel",
                                                  "openexr:roundingmode",
                                                  "tiff:Compression",
                                                  "tiff:RowsPerStrip",
                                                  "tiff:PhotometricInterpretation",
                                                  "tiff:PlanarConfiguration",
                                                  "tiff:ExtraSamples",
                                                  "tiff:SampleFormat",
                                                  "tiff:BitsPerSample",
                                                  "tiff:subfiletype",
                                                  "dpx:Packing",
                                                  "dpx:ImageDescriptor",
                                                  "dpx:EndOfLinePadding",
                                                  "dpx:EndOfImagePadding",
                                                  "dpx:DataOffset",
                                                  "dpx:Encoding",
                                                  "dpx:DataSign",
                                                  "png:compressionLevel",
                                                  "jpeg:subsampling",
                                                  "Exif:ImageHistory",
                                                  kProvenanceAttribute};

std::string valueBytes(const OIIO::ParamValue &value)
{
    if (value.type().basetype == OIIO::TypeDesc::STRING) {
        std::string text;
        const auto *strings = static_cast<const OIIO::ustring *>(value.data());
        for (int i = 0; i < value.nvalues() * static_cast<int>(value.type().numelements()); ++i) {
            text += strings[i].string();
            text += '\0';
        }
        return text;
    }
    const auto *bytes = static_cast<const char *>(value.data());
    return std::string(bytes, bytes + value.datasize());
}

std::unique_ptr<OIIO::ImageInput> openReference(const Clip &clip, int frame, std::string &what)
{
    std::unique_ptr<OIIO::ImageInput> input;
    if (clip.kind == ClipKind::Movie) {
        // The frames come from FFmpeg's own demuxer, whatever the container; OpenImageIO's movie
        // reader only knows some by name, and a movie it cannot open lends no attributes.
        what = clip.moviePath;
        refuseUnbackedHeader(what);
        input = OIIO::ImageInput::open(what);
        if (!input) {
            OIIO::geterror(); // cleared, as it is not this run's failure
        }
        return input;
    }
    what = clip.frameFiles.at(static_cast<std::size_t>(frame));
    refuseUnbackedHeader(what);
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    input = OIIO::ImageInput::open(what, &config);
    if (!input) {
        throw RunError(what + ": cannot read the frame (" + cleanOiioMessage(OIIO::geterror()) +
                       ")");
    }
    return input;
}

// OpenImageIO spells a rational "rational2i" but does not parse that spelling back.
OIIO::TypeDesc typeNamed(const std::string &name)
{
    return name == OIIO::TypeRational.c_str() ? OIIO::TypeRational : OIIO::TypeDesc(name);
}

} // namespace

PlateMetadata frameMetadata(const Clip &clip, int frame)
{
    std::string what;
    const auto input = openReference(clip, frame, what);
    PlateMetadata metadata;
    if (!input) {
        return metadata;
    }
    const OIIO::ImageSpec &spec = input->spec();
    metadata.bitsPerSample = spec.get_int_attribute("oiio:BitsPerSample", 0);
    for (const OIIO::ParamValue &value : spec.extra_attribs) {
        const std::string name = value.name().string();
        if (kStorageAttributes.count(name) != 0 || name.empty()) {
            continue;
        }
        if (clip.kind == ClipKind::Movie && name != "FramesPerSecond" &&
            name != "PixelAspectRatio" && name.rfind("ffmpeg:", 0) != 0) {
            continue; // the container's first frame's timecode is not the reference frame's
        }
        metadata.attributes.push_back({name, value.type().c_str(), valueBytes(value)});
    }
    input->close();
    return metadata;
}

void applyPlateMetadata(const PlateMetadata &metadata, OIIO::ImageSpec &spec)
{
    for (const FrameAttribute &attribute : metadata.attributes) {
        const OIIO::TypeDesc type = typeNamed(attribute.type);
        if (type.basetype == OIIO::TypeDesc::UNKNOWN) {
            continue;
        }
        if (type.basetype == OIIO::TypeDesc::STRING) {
            std::vector<const char *> texts;
            for (std::size_t at = 0; at < attribute.value.size();) {
                const std::size_t end = attribute.value.find('\0', at);
                if (end == std::string::npos) {
                    break;
                }
                texts.push_back(attribute.value.c_str() + at);
                at = end + 1;
            }
            if (texts.empty() || texts.size() % type.numelements() != 0) {
                continue;
            }
            const int count = static_cast<int>(texts.size() / type.numelements());
            spec.extra_attribs.add_or_replace(
                OIIO::ParamValue(attribute.name, type, count, texts.data()));
            continue;
        }
        if (type.size() == 0 || attribute.value.size() % type.size() != 0) {
            continue;
        }
        const int count = static_cast<int>(attribute.value.size() / type.size());
        spec.extra_attribs.add_or_replace(
            OIIO::ParamValue(attribute.name, type, count, attribute.value.data()));
    }
    if (!metadata.provenance.empty()) {
        spec.attribute(kProvenanceAttribute, metadata.provenance);
    }
    spec.attribute("Software", std::string("framemeld ") + toolVersion());
    spec.attribute("DateTime", "");
}

} // namespace framemeld::cli::oiio
