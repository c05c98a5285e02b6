#include "cli/farm/FarmStrips.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "cli/core/CliError.h"
#include "cli/farm/StripRecord.h"
#include "cli/files/ContentHash.h"
#include "cli/files/RegularFile.h"
#include "cli/footage/FootageDecoder.h"
#include "cli/footage/FootageFingerprint.h"
#include "cli/plate/OutputChecks.h"
#include "cli/plate/PlateStorage.h"
#include "cli/plate/PlateWindows.h"
#include "cli/plate/PlateWriter.h"
#include "cli/plate/StripPair.h"
#include "cli/text/JsonText.h"

namespace fs = std::filesystem;

namespace framemeld::cli {
namespace {

struct Strip {
    std::string path;
    StripRecord record;
    Clip clip;
    FootageFormat format;
};

// The strip itself, never a sequence its name might look like.
Clip stillClip(const std::string &path)
{
    Clip clip;
    clip.frameFiles = {path};
    clip.frameCount = 1;
    return clip;
}

// Values from a record, which anyone may have written, shown at a length a message can hold.
std::string shown(const std::string &text)
{
    constexpr std::size_t kMost = 80;
    return text.size() <= kMost ? text : text.substr(0, kMost) + "...";
}

std::string bitsName(int bits)
{
    return std::to_string(bits) + "-bit";
}

void checkSameShape(const Strip &first, const Strip &other)
{
    const StripRecord &a = first.record;
    const StripRecord &b = other.record;
    const std::string pair = other.path + " and " + first.path;
    if (a.plateWidth != b.plateWidth || a.plateHeight != b.plateHeight) {
        throw RunError(pair + " are strips of plates of different sizes (" +
                       std::to_string(b.plateWidth) + "x" + std::to_string(b.plateHeight) +
                       " and " + std::to_string(a.plateWidth) + "x" +
                       std::to_string(a.plateHeight) + ")");
    }
    if (a.withAlpha != b.withAlpha || a.unassociatedAlpha != b.unassociatedAlpha) {
        throw RunError(pair + " differ in their channels");
    }
    if (a.settings.size() != b.settings.size()) {
        throw RunError(pair + " were rendered with different settings");
    }
    for (std::size_t i = 0; i < a.settings.size(); ++i) {
        if (a.settings[i] != b.settings[i]) {
            throw RunError(pair + " were rendered with different settings (" + a.settings[i].first +
                           ": " + shown(b.settings[i].second) + " and " +
                           shown(a.settings[i].second) + ")");
        }
    }
    if (a.footage != b.footage || a.footageType != b.footageType ||
        a.footageBits != b.footageBits) {
        throw RunError(pair +
                       " were rendered from different footage (the frames sampled differ "
                       "in their files' fingerprints; INPUT " +
                       shown(b.input) + " and " + shown(a.input) + ")");
    }
    if (a.dataTypeAsked != b.dataTypeAsked || a.compressionAsked != b.compressionAsked) {
        throw RunError(pair + " were written with different --data-type or --compression");
    }
}

std::string rowsText(int top, int bottom)
{
    return std::to_string(top) + ":" + std::to_string(bottom);
}

// Sorted by their first row, the strips must follow each other from the top to the bottom.
void checkTiling(const std::vector<Strip> &strips)
{
    int covered = 0;
    const Strip *above = nullptr;
    for (const Strip &strip : strips) {
        const StripRecord &record = strip.record;
        if (record.top < covered) {
            throw RunError(strip.path + " (rows " + rowsText(record.top, record.bottom) +
                           ") overlaps " + above->path + " (rows " +
                           rowsText(above->record.top, above->record.bottom) + ")");
        }
        if (record.top > covered) {
            throw RunError("no strip holds rows " + rowsText(covered, record.top) +
                           " of the plate");
        }
        covered = record.bottom;
        above = &strip;
    }
    const int height = strips.front().record.plateHeight;
    if (covered < height) {
        throw RunError("no strip holds rows " + rowsText(covered, height) + " of the plate");
    }
}

// The merge would replace one of its own inputs: refused by what the files are, through links
// and hard links, not by their names.
void checkOutputIsNoStrip(const std::string &output, const std::vector<std::string> &paths)
{
    struct stat target {};
    if (::stat(output.c_str(), &target) != 0) {
        return; // nothing there yet, so none of the strips
    }
    for (const std::string &path : paths) {
        for (const std::string &file : {path, stripRecordPath(path)}) {
            struct stat status {};
            if (::stat(file.c_str(), &status) == 0 && status.st_dev == target.st_dev &&
                status.st_ino == target.st_ino) {
                throw RunError(output + ": the output is " + file +
                               ", one of the files being merged; name another plate");
            }
        }
    }
}

// A strip that is no plain file (a FIFO would hold the decoder for ever) is refused unread.
void checkStripFile(const Strip &strip)
{
    const std::string kind = whyNotARegularFile(strip.path);
    if (!kind.empty()) {
        throw RunError(strip.path + ": cannot read the strip (it " +
                       (kind.rfind("is ", 0) == 0 ? kind : "gives " + kind) + ")");
    }
}

// The strip file is the one its node wrote: same size, same bytes. Checked after the image's
// size, so that a strip of another size says so.
void checkStripBytes(const Strip &strip)
{
    const int fd = ::open(strip.path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        throw RunError(strip.path + ": cannot read the strip (" + std::strerror(errno) + ")");
    }
    ContentHash hash;
    std::uint64_t size = 0;
    const std::string problem = hashOpenFile(fd, hash, size);
    ::close(fd);
    if (!problem.empty()) {
        throw RunError(strip.path + ": cannot read the strip (" + problem + ")");
    }
    if (size != strip.record.stripBytes || hash.hex() != strip.record.stripChecksum) {
        throw RunError(strip.path + ": the strip is not the file its record describes (" +
                       std::to_string(size) + " bytes, its record says " +
                       std::to_string(strip.record.stripBytes) +
                       (size == strip.record.stripBytes ? ", with other contents" : "") +
                       "): written again by another run, or replaced since");
    }
}

// A strip of a confidence image or a difference matte, which a single run writes as one channel
// of the render depth's own type, whatever --data-type and --compression asked of the plate.
bool holdsImageBesidePlate(const StripRecord &record)
{
    return std::any_of(record.settings.begin(), record.settings.end(),
                       [](const auto &setting) { return setting.first == "image"; });
}

PlateStorage plateStorageFor(const std::string &output, const StripRecord &record)
{
    PlateStorageRequest request;
    request.depth = *runner::depthFromBits(record.bits);
    request.footageDepth = *runner::depthFromBits(record.footageBits);
    request.footageType = record.footageType;
    request.dataType = record.dataTypeAsked;
    request.compression = record.compressionAsked;
    try {
        return choosePlateStorage(output, request);
    } catch (const UsageError &error) {
        // What the nodes asked for does not fit the plate's format: a problem of this merge's
        // output, not of its command line.
        throw RunError(std::string("the strips were written with ") + error.what());
    }
}

std::string hexOf(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

// The metadata a record carries; throws RunError naming the record when it is not what the
// tool writes.
PlateMetadata metadataOf(const Strip &strip)
{
    const std::string &hex = strip.record.metadata;
    auto nibble = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    std::string bytes;
    bool valid = hex.size() % 2 == 0;
    for (std::size_t i = 0; valid && i < hex.size(); i += 2) {
        const int high = nibble(hex[i]);
        const int low = nibble(hex[i + 1]);
        valid = high >= 0 && low >= 0;
        bytes += static_cast<char>(high * 16 + low);
    }
    try {
        if (valid) {
            return decodePlateMetadata(bytes);
        }
    } catch (const std::runtime_error &) {
    }
    throw RunError(stripRecordPath(strip.path) + ": not a valid strip record (bad metadata)");
}

} // namespace

void checkStripRows(const RowSpan &rows, const FootageFormat &format, const MemoryPlan &memory)
{
    if (rows.bottom > format.height) {
        throw UsageError("--rows " + rowsText(rows.top, rows.bottom) +
                         " lies outside the frame, which has " + std::to_string(format.height) +
                         " rows (0:" + std::to_string(format.height) + ")");
    }
    if (rows.bottom - rows.top > memory.bandRows) {
        throw RunError("rows " + rowsText(rows.top, rows.bottom) +
                       " do not fit the memory budget in one render; split the plate into strips "
                       "of at most " +
                       std::to_string(memory.bandRows) + " rows");
    }
}

void checkStripRecordPath(const std::string &output)
{
    const std::string path = stripRecordPath(resolvedOutputPath(output));
    if (fs::path(path).filename().string().size() > NAME_MAX) {
        throw RunError(stripRecordPath(output) +
                       ": the strip record's name is too long for the file system; give the "
                       "strip a shorter name");
    }
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) {
        if (!S_ISREG(status.st_mode)) {
            throw RunError(stripRecordPath(output) + ": cannot write the strip record (it " +
                           whyNotARegularFile(path) + ")");
        }
        if (::access(path.c_str(), W_OK) != 0) {
            throw RunError(stripRecordPath(output) + ": cannot write the strip record (" +
                           std::strerror(errno) + ")");
        }
    }
}

void putStripInPlace(const std::string &output, TemporaryPlateFile &image, const StripFacts &facts)
{
    StripRecord record;
    record.plateWidth = facts.format.width;
    record.plateHeight = facts.format.height;
    record.top = facts.rows.top;
    record.bottom = facts.rows.bottom;
    record.bits = runner::bitsPerChannel(facts.depth);
    record.withAlpha = facts.format.hasAlpha;
    record.unassociatedAlpha = facts.format.unassociatedAlpha;
    record.input = jsonString(facts.input);
    record.footage = footageFingerprint(*facts.clip, facts.plan.frames);
    record.footageType = facts.format.sampleType;
    record.footageBits = runner::bitsPerChannel(facts.format.naturalDepth);
    record.dataType = facts.file.dataType;
    record.dataTypeAsked = facts.dataTypeAsked;
    record.compressionAsked = facts.compressionAsked;
    record.settings = {{"start", jsonNumber(facts.plan.start)},
                       {"end", jsonNumber(facts.plan.end)},
                       {"every", jsonNumber(facts.plan.every)},
                       {"framesSampled", jsonNumber(static_cast<double>(facts.plan.frames.size()))},
                       {"divergence", jsonNumber(facts.plan.divergence)},
                       {"ratingRange", jsonNumber(facts.plan.ratingRange)},
                       {"depth", jsonNumber(record.bits)},
                       {"workingSpace", jsonString(facts.workingSpace)}};
    if (!facts.image.empty()) {
        record.settings.emplace_back("image", jsonString(facts.image));
    }
    if (!facts.alignment.empty()) {
        record.settings.emplace_back("alignment", jsonString(facts.alignment));
    }
    image.finish();
    ContentHash hash;
    const std::string problem = hashOpenFile(image.fd(), hash, record.stripBytes);
    if (!problem.empty()) {
        throw RunError(output + ": cannot read back the strip (" + problem + ")");
    }
    record.stripChecksum = hash.hex();
    record.metadata = hexOf(encodePlateMetadata(facts.file.metadata));

    const std::string text = stripRecordText(record);
    const std::string path = stripRecordPath(output);
    TemporaryPlateFile temporary(stripRecordPath(image.target()), path);
    temporary.writeText(text, "strip record");
    putPairInPlace(image, temporary);
}

MergedPlate mergeStrips(const std::string &output, const std::vector<std::string> &paths,
                        std::uint64_t memoryBudget, const std::atomic<bool> *cancel)
{
    checkOutputPath(output);
    checkOutputIsNoStrip(output, paths);
    std::vector<Strip> strips;
    for (const std::string &path : paths) {
        Strip strip;
        strip.path = path;
        strip.record = readStripRecord(path);
        if (!strips.empty()) {
            checkSameShape(strips.front(), strip);
        }
        strips.push_back(std::move(strip));
    }
    // The frame attributes must agree; the provenance names each node's INPUT, and the plate
    // takes the top strip's.
    for (const Strip &strip : strips) {
        const PlateMetadata first = metadataOf(strips.front());
        const PlateMetadata other = metadataOf(strip);
        if (first.attributes != other.attributes || first.bitsPerSample != other.bitsPerSample ||
            first.windows != other.windows) {
            throw RunError(strip.path + " and " + strips.front().path +
                           " carry different attributes of their reference frames");
        }
    }
    std::stable_sort(strips.begin(), strips.end(),
                     [](const Strip &a, const Strip &b) { return a.record.top < b.record.top; });
    checkTiling(strips);

    // What the records claim is weighed before a byte of any strip is decoded.
    const StripRecord &shape = strips.front().record;
    const Depth depth = *runner::depthFromBits(shape.bits);
    const auto rowBytes = static_cast<std::ptrdiff_t>(static_cast<std::size_t>(shape.plateWidth) *
                                                      runner::bytesPerPixel(depth));
    const double plateBytes =
        static_cast<double>(rowBytes) * static_cast<double>(shape.plateHeight);
    if (plateBytes > static_cast<double>(memoryBudget)) {
        throw RunError("the plate the strips' records describe (" +
                       std::to_string(shape.plateWidth) + "x" + std::to_string(shape.plateHeight) +
                       " at " + bitsName(shape.bits) + ", " +
                       std::to_string(static_cast<unsigned long long>(plateBytes)) +
                       " bytes) does not fit the memory budget of " + std::to_string(memoryBudget) +
                       " bytes (--memory)");
    }
    const PlateStorage storage =
        holdsImageBesidePlate(shape) ? PlateStorage{} : plateStorageFor(output, shape);

    for (Strip &strip : strips) {
        checkStripFile(strip);
        strip.clip = stillClip(strip.path);
        strip.format = probeFootage(strip.clip);
        const int rows = strip.record.bottom - strip.record.top;
        if (strip.format.width != strip.record.plateWidth || strip.format.height != rows) {
            throw RunError(strip.path + ": the image is " + std::to_string(strip.format.width) +
                           "x" + std::to_string(strip.format.height) + ", its record says " +
                           std::to_string(strip.record.plateWidth) + "x" + std::to_string(rows));
        }
        checkStripBytes(strip);
        if (strip.format.channels != strips.front().format.channels) {
            throw RunError(strip.path + " and " + strips.front().path +
                           " differ in their channels");
        }
        if (!storage.dataType.empty() && !typeHolds(strip.format.sampleType, storage.dataType)) {
            throw RunError(strip.path + ": the strip stores " + strip.format.sampleType +
                           " samples, which cannot hold the " + storage.dataType + " plate of a " +
                           bitsName(shape.bits) + " render; write the strips in a format that " +
                           "holds " + storage.dataType + " (EXR or TIFF for float)");
        }
        if (strip.format.unassociatedAlpha != strips.front().format.unassociatedAlpha) {
            throw RunError(strip.path + " and " + strips.front().path +
                           " hold their alpha differently (straight and premultiplied)");
        }
    }

    std::vector<unsigned char> pixels(static_cast<std::size_t>(rowBytes) *
                                      static_cast<std::size_t>(shape.plateHeight));
    for (const Strip &strip : strips) {
        DecodeRequest request;
        request.clip = &strip.clip;
        request.format = strip.format;
        request.frames = {0};
        request.depth = depth;
        request.cancel = cancel;
        request.target = [&](std::size_t) {
            return FrameTarget{pixels.data() + rowBytes * strip.record.top, rowBytes};
        };
        decodeFrames(request);
    }

    PlateImage image;
    image.width = shape.plateWidth;
    image.height = shape.plateHeight;
    image.depth = depth;
    image.pixels = pixels.data();
    image.rowBytes = rowBytes;
    PlateFileOptions fileOptions;
    fileOptions.withAlpha = shape.withAlpha;
    // The strips' pixels are what their files hold, which may be the other association than
    // the footage's (straight footage in EXR strips is stored premultiplied).
    fileOptions.unassociatedAlpha = strips.front().format.unassociatedAlpha;
    // Plates have three or four channels; one is a confidence image or a difference matte.
    fileOptions.singleChannel = strips.front().format.channels == 1;
    fileOptions.dataType = storage.dataType;
    fileOptions.compression = storage.compression;
    fileOptions.metadata = metadataOf(strips.front());
    const PlateImage stored = plateImageFor(output, image, fileOptions.metadata.windows);
    MergedPlate merged{
        stored.width, stored.height, shape.bits, storage.dataType, 0, fileOptions.metadata.windows};
    if (clipsHdr(storage.dataType, depth)) {
        merged.clippedSamples = samplesOutsideUnitRange(stored);
    }
    writePlate(output, image, fileOptions, cancel);
    return merged;
}

} // namespace framemeld::cli
