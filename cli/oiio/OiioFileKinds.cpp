#include "cli/oiio/OiioFileKinds.h"

#include <cctype>
#include <filesystem>

#include "cli/core/CliError.h"
#include "cli/oiio/OiioClaims.h"
#include "cli/oiio/OiioMessages.h"

namespace framemeld::cli::oiio {

const FootageExtensions &knownExtensions()
{
    static const FootageExtensions known = [] {
        FootageExtensions result;
        const std::string list = OIIO::get_string_attribute("extension_list");
        std::size_t pos = 0;
        while (pos < list.size()) {
            std::size_t end = list.find(';', pos);
            if (end == std::string::npos) {
                end = list.size();
            }
            const std::string entry = list.substr(pos, end - pos);
            pos = end + 1;
            const std::size_t colon = entry.find(':');
            if (colon == std::string::npos) {
                continue;
            }
            const std::string format = entry.substr(0, colon);
            auto &target = format == "ffmpeg" ? result.movies : result.stills;
            std::size_t extPos = colon + 1;
            while (extPos <= entry.size()) {
                std::size_t extEnd = entry.find(',', extPos);
                if (extEnd == std::string::npos) {
                    extEnd = entry.size();
                }
                if (extEnd > extPos) {
                    target.insert(entry.substr(extPos, extEnd - extPos));
                }
                extPos = extEnd + 1;
            }
        }
        // "null" and "term" are OpenImageIO's pseudo formats, never frames on disk.
        result.stills.erase("null");
        result.stills.erase("nul");
        result.stills.erase("term");
        return result;
    }();
    return known;
}

std::string extensionOf(const std::string &path)
{
    std::string ext = std::filesystem::path(path).extension().string();
    if (!ext.empty() && ext[0] == '.') {
        ext.erase(0, 1);
    }
    for (char &c : ext) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return ext;
}

std::unique_ptr<OIIO::ImageInput> openFootageFile(const std::string &path, std::string &failure)
{
    refuseUnbackedHeader(path);
    auto input = OIIO::ImageInput::open(path);
    if (input) {
        return input;
    }
    failure = cleanOiioMessage(OIIO::geterror());
    // OpenImageIO's movie reader refuses files by name unless they carry one of its extensions,
    // even when FFmpeg could read them; say how to get past that.
    const std::string extension = extensionOf(path);
    const FootageExtensions &known = knownExtensions();
    if (!extension.empty() && known.stills.count(extension) == 0 &&
        known.movies.count(extension) == 0) {
        std::string movieExtensions;
        for (const std::string &movie : known.movies) {
            movieExtensions += " ." + movie;
        }
        failure += "; movies are read from files named" + movieExtensions +
                   " (rewrap others without re-encoding, e.g. ffmpeg -i clip." + extension +
                   " -c copy clip.mov)";
    }
    return nullptr;
}

Clip openClipFile(const std::string &path)
{
    std::string failure;
    auto input = openFootageFile(path, failure);
    if (!input) {
        throw RunError(path + ": cannot read it as an image or a movie" +
                       (failure.empty() ? std::string() : " (" + failure + ")"));
    }

    Clip clip;
    const OIIO::ImageSpec &spec = input->spec();
    const bool movie = spec.get_int_attribute("oiio:Movie", 0) != 0 ||
                       std::string(input->format_name()) == "FFmpeg";
    if (!movie) {
        clip.kind = ClipKind::ImageSequence;
        clip.frameFiles.push_back(path);
        clip.frameCount = 1;
        return clip;
    }
    refuseUncountableMovie(path, spec);
    clip.kind = ClipKind::Movie;
    clip.moviePath = path;
    clip.frameCount = spec.get_int_attribute("oiio:subimages", 0);
    if (clip.frameCount <= 0) {
        throw RunError(path + ": the movie has no video frames");
    }
    refuseUnbackedFrameCount(path, clip.frameCount);
    return clip;
}

} // namespace framemeld::cli::oiio
