#include "cli/plate/MatteFiles.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>

#include "AE_Effect.h"
#include "cli/core/CliError.h"
#include "cli/footage/FootageDiscovery.h"
#include "cli/plate/OutputChecks.h"
#include "runner/World.h"

namespace fs = std::filesystem;

namespace framemeld::cli {
namespace {

// One spelling for every name of one file, links and ".." followed, so that two options naming
// the same file are caught before either is written.
std::string fileKey(const std::string &path)
{
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(fs::absolute(resolvedOutputPath(path)), error);
    return error ? fs::absolute(path).lexically_normal().string() : resolved.string();
}

// `what` names the option in messages: "--confidence", "--mattes".
void checkOne(const std::string &what, const std::string &path, const RunOutputs &outputs)
{
    try {
        checkOutputPath(path);
        if (outputs.footage != nullptr) {
            checkOutputIsNoInput(path, *outputs.footage);
            checkOutputStaysOutOfTheClip(path, outputs.input);
        }
        if (outputs.holdoutClip != nullptr) {
            checkOutputIsNoInput(path, *outputs.holdoutClip);
            checkOutputStaysOutOfTheClip(path, outputs.holdout);
        }
    } catch (const UsageError &error) {
        throw UsageError(what + " " + error.what());
    } catch (const RunError &error) {
        throw RunError(what + " " + error.what());
    }
}

} // namespace

std::string matteFileName(const std::string &pattern, long long number)
{
    SequencePattern parsed;
    if (!parseSequencePattern(pattern, parsed)) {
        throw UsageError("--mattes needs a file name with the frame number in it, as #### or "
                         "%04d (diff.####.png), not \"" +
                         pattern + "\"");
    }
    // The pattern's folder is kept apart from the name the number goes into.
    return (fs::path(parsed.directory) / parsed.fileNameFor(number)).string();
}

void checkRunOutputs(const RunOutputs &outputs)
{
    std::map<std::string, std::string> taken; // file -> the option that names it
    taken.emplace(fileKey(outputs.plate), "-o");
    const auto claim = [&](const std::string &what, const std::string &path) {
        const auto [entry, added] = taken.emplace(fileKey(path), what);
        if (!added) {
            throw RunError(what + " " + path + ": is also the file of " + entry->second +
                           "; give each output a name of its own");
        }
    };
    if (outputs.holdoutClip != nullptr) {
        // The holdout matte is an input: the plate must not replace it either.
        try {
            checkOutputIsNoInput(outputs.plate, *outputs.holdoutClip);
            checkOutputStaysOutOfTheClip(outputs.plate, outputs.holdout);
        } catch (const RunError &error) {
            throw RunError(std::string(error.what()) + " (the --holdout matte)");
        }
    }
    if (!outputs.confidence.empty()) {
        checkOne("--confidence", outputs.confidence, outputs);
        claim("--confidence", outputs.confidence);
    }
    for (std::size_t i = 0; i < outputs.mattes.size(); ++i) {
        const std::string &matte = outputs.mattes[i];
        // The format and the folder are the same for every name of the pattern.
        if (i == 0) {
            checkOne("--mattes", matte, outputs);
        } else {
            try {
                if (outputs.footage != nullptr) {
                    checkOutputIsNoInput(matte, *outputs.footage);
                }
                if (outputs.holdoutClip != nullptr) {
                    checkOutputIsNoInput(matte, *outputs.holdoutClip);
                }
            } catch (const RunError &error) {
                throw RunError("--mattes " + std::string(error.what()));
            }
        }
        claim("--mattes", matte);
    }
}

WrittenFiles::~WrittenFiles()
{
    for (const std::string &path : paths_) {
        std::remove(path.c_str());
    }
}

void writeConfidenceImage(const std::string &path, const std::vector<float> &confidence, int width,
                          int height, Depth depth, const PutImageFile &put)
{
    runner::World image(width, height, depth);
    for (int y = 0; y < height; ++y) {
        const float *shares =
            confidence.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        unsigned char *row = image.row(y);
        for (int x = 0; x < width; ++x) {
            const float share = shares[x];
            switch (depth) {
            case Depth::Bits8: {
                auto *pixel = reinterpret_cast<PF_Pixel8 *>(row) + x;
                const auto value = static_cast<A_u_char>(std::lround(share * 255.0f));
                *pixel = PF_Pixel8{255, value, value, value};
                break;
            }
            case Depth::Bits16: {
                auto *pixel = reinterpret_cast<PF_Pixel16 *>(row) + x;
                const auto value = static_cast<A_u_short>(std::lround(share * 32768.0f));
                *pixel = PF_Pixel16{32768, value, value, value};
                break;
            }
            case Depth::Float32: {
                auto *pixel = reinterpret_cast<PF_PixelFloat *>(row) + x;
                *pixel = PF_PixelFloat{1.0f, share, share, share};
                break;
            }
            }
        }
    }
    PlateImage plate;
    plate.width = width;
    plate.height = height;
    plate.depth = depth;
    plate.pixels = image.row(0);
    plate.rowBytes = image.rowStride();
    PlateFileOptions options;
    options.singleChannel = true;
    put(path, plate, options);
}

void writeDifferenceMatteRows(const std::string &path, int width, int height,
                              const std::vector<unsigned char> &hostPixels, const PutImageFile &put)
{
    PlateImage plate;
    plate.width = width;
    plate.height = height;
    plate.depth = Depth::Bits8;
    plate.pixels = hostPixels.data();
    plate.rowBytes = static_cast<std::ptrdiff_t>(width) * 4;
    PlateFileOptions options;
    options.singleChannel = true;
    put(path, plate, options);
}

} // namespace framemeld::cli
