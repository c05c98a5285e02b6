#include "cli/oiio/OiioFileKinds.h"

#include <cctype>
#include <filesystem>
#include <limits>

#include "cli/core/CliError.h"
#include "cli/oiio/FileContent.h"
#include "cli/oiio/OiioClaims.h"
#include "cli/oiio/OiioMessages.h"
#include "cli/oiio/movie/MovieProbe.h"

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

std::unique_ptr<OIIO::ImageInput> openStill(const std::string &path, const std::string &reader,
                                            const OIIO::ImageSpec *config, std::string &failure)
{
    auto input = OIIO::ImageInput::create(reader, false, config);
    if (!input) {
        failure = cleanOiioMessage(OIIO::geterror());
        return nullptr;
    }
    OIIO::ImageSpec spec;
    const bool opened =
        config != nullptr ? input->open(path, spec, *config) : input->open(path, spec);
    if (!opened) {
        failure = cleanOiioMessage(input->geterror());
        if (failure.empty()) {
            failure = cleanOiioMessage(OIIO::geterror());
        }
        return nullptr;
    }
    return input;
}

Clip openClipFile(const std::string &path, const std::atomic<bool> *cancel)
{
    const FileContent content = weighFileContent(path);
    Clip clip;
    if (content.kind == ContentKind::Movie) {
        clip.kind = ClipKind::Movie;
        clip.moviePath = path;
        const long long frames = movie::countMovieFrames(path, cancel);
        if (frames > std::numeric_limits<int>::max()) {
            throw RunError(path + ": the movie has " + std::to_string(frames) +
                           " frames, more than the tool counts");
        }
        clip.frameCount = static_cast<int>(frames);
        return clip;
    }
    if (content.kind == ContentKind::Unknown) {
        throw RunError(path + ": cannot read it as an image or a movie (its first bytes are no "
                              "image format's and no container FFmpeg's libraries know)");
    }
    refuseUnbackedHeader(path);
    std::string failure;
    if (!openStill(path, content.reader, nullptr, failure)) {
        throw RunError(path + ": cannot read it as an image or a movie" +
                       (failure.empty() ? std::string() : " (" + failure + ")"));
    }
    clip.kind = ClipKind::ImageSequence;
    clip.frameFiles.push_back(path);
    clip.frameCount = 1;
    return clip;
}

} // namespace framemeld::cli::oiio
