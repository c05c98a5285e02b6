#pragma once
// The files a run writes beside the plate, a confidence image and a difference matte per sampled
// frame, go through the plate writer's safe path one by one (each whole or not at all), and as a
// set they follow one rule: they are written before the plate, and when any of them or the plate
// fails, the ones this run already put in place are removed again, so a failed run leaves none
// of its files (the files they replaced are gone with them, as a finished run would have
// replaced them too). Every name is checked before any work, as the plate's is: a known format,
// a writable folder, no input frame or matte frame, no name taken twice.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/core/Clip.h"
#include "cli/core/FootageFormat.h"
#include "cli/core/PlateImage.h"

namespace framemeld::cli {

// The difference matte name for frame `number`: `pattern` holds the frame number as "####" or
// "%04d" (see parseSequencePattern). Throws UsageError naming --mattes when it holds none.
std::string matteFileName(const std::string &pattern, long long number);

// The outputs of one run, checked together before any work.
struct RunOutputs {
    std::string plate;
    std::string confidence;          // empty: none
    std::vector<std::string> mattes; // one per sampled frame; empty: none
    std::string input;               // the footage as given
    const Clip *footage = nullptr;   // its frames
    std::string holdout;             // the holdout matte as given; empty: none
    const Clip *holdoutClip = nullptr;
};

// Throws UsageError for an unknown extension, RunError for a folder that cannot be written, a
// name that is an input frame or a holdout matte frame (or would be found as one next time), or
// one name given to two outputs (the plate, the confidence image, a matte).
void checkRunOutputs(const RunOutputs &outputs);

// The files a run put in place so far; removed on destruction unless kept.
class WrittenFiles {
public:
    WrittenFiles() = default;
    ~WrittenFiles();
    WrittenFiles(const WrittenFiles &) = delete;
    WrittenFiles &operator=(const WrittenFiles &) = delete;

    void add(const std::string &path) { paths_.push_back(path); }
    // The run succeeded: the files stay.
    void keep() { paths_.clear(); }

private:
    std::vector<std::string> paths_;
};

// How one of these files is put in place: by a single run through writePlate; by a farm node as
// a strip with its record (farm/FarmStrips.h), which this layer cannot reach.
using PutImageFile = std::function<void(const std::string &path, const PlateImage &image,
                                        const PlateFileOptions &options)>;

// Writes the share of agreeing frames (`confidence`, width x height, rows from the top) as one
// channel at `depth`: 8 bits as round(share x 255), 16 bits as round(share x 32768) on the host
// scale (full scale in the file), 32 bits as the share itself. Throws as `put` does.
void writeConfidenceImage(const std::string &path, const std::vector<float> &confidence, int width,
                          int height, Depth depth, const PutImageFile &put);

// Writes one 8-bit, one-channel matte: 255 where `differs(x, y)`, else 0.
template <class Differs>
void writeDifferenceMatte(const std::string &path, int width, int height,
                          std::vector<unsigned char> &scratch, const Differs &differs,
                          const PutImageFile &put);

// What writeDifferenceMatte does, once its pixels are in `hostPixels` (8-bit host rows).
void writeDifferenceMatteRows(const std::string &path, int width, int height,
                              const std::vector<unsigned char> &hostPixels,
                              const PutImageFile &put);

template <class Differs>
void writeDifferenceMatte(const std::string &path, int width, int height,
                          std::vector<unsigned char> &scratch, const Differs &differs,
                          const PutImageFile &put)
{
    scratch.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4, 0);
    for (int y = 0; y < height; ++y) {
        unsigned char *row =
            scratch.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 4;
        for (int x = 0; x < width; ++x) {
            const unsigned char value = differs(x, y) ? 255 : 0;
            unsigned char *pixel = row + static_cast<std::size_t>(x) * 4;
            pixel[0] = 255; // alpha, unused by a one-channel file
            pixel[1] = value;
            pixel[2] = value;
            pixel[3] = value;
        }
    }
    writeDifferenceMatteRows(path, width, height, scratch, put);
}

} // namespace framemeld::cli
