#pragma once
// A plate split across a render farm: each node renders rows of it (--rows) to a strip with a
// record beside it (see farm/StripRecord.h); `framemeld merge` joins the strips into the plate
// that a single run writes, after checking from their records that they belong together and
// that each strip file is the one its node wrote.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/core/Clip.h"
#include "cli/core/FootageFormat.h"
#include "cli/core/PlateImage.h"
#include "cli/plan/MemoryPlan.h"
#include "cli/plan/RowSpan.h"
#include "cli/plan/SamplingPlan.h"
#include "cli/plate/TemporaryPlateFile.h"

namespace framemeld::cli {

// Before any decoding: the rows must lie in the frame (UsageError), and one render request over
// them must fit the memory budget (RunError, saying the strip height that fits).
void checkStripRows(const RowSpan &rows, const FootageFormat &format, const MemoryPlan &memory);

// Before any work: the record beside `output` can be put in place (a name within the system's
// limit, no folder or unwritable file there). Throws RunError.
void checkStripRecordPath(const std::string &output);

// What a node knows of its strip when the strip is written.
struct StripFacts {
    std::string input;
    const Clip *clip = nullptr;
    RowSpan rows;
    SamplingPlan plan;
    FootageFormat format;
    Depth depth = Depth::Bits8;
    PlateFileOptions file; // as the strip was written: data type, compression, metadata
    std::string dataTypeAsked;
    std::string compressionAsked;
    std::string workingSpace; // the working space the strip was rendered in
    // What a strip of something other than the plate holds ("confidence", a frame's difference
    // matte), so that strips of different images are never merged; empty: the plate.
    std::string image;
    // The transforms the frames were warped with, as a digest; empty when none was warped. Strips
    // warped differently (another motion file, or none) would meet at a seam.
    std::string alignment;
};

// Puts the strip written aside in `image` in place with its record (see plate/StripPair.h):
// both or neither. Throws RunError.
void putStripInPlace(const std::string &output, TemporaryPlateFile &image, const StripFacts &facts);

struct MergedPlate {
    int width = 0;
    int height = 0;
    int bits = 8;
    std::string dataType;
    long long clippedSamples = 0; // samples outside 0..1 an integer type clipped
    FrameWindows windows;         // the footage's, as the strips' records carry them
};

// Reads the strips (any format the tool reads) and writes the plate through the plate writer.
// Throws RunError, before anything is written, when a strip's record is missing or unreadable,
// when strips differ in plate size, depth, channels, settings or footage, when a strip's file is
// not the one its record describes (its size, its checksum, its image size), when its samples
// cannot hold the plate's, when the strips overlap or leave rows uncovered, when the plate does
// not fit `memoryBudget`, and when the output is one of the strips or records; CancelledError
// when `cancel` is set.
MergedPlate mergeStrips(const std::string &output, const std::vector<std::string> &strips,
                        std::uint64_t memoryBudget, const std::atomic<bool> *cancel);

} // namespace framemeld::cli
