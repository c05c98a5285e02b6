#include "cli/job/MotionFile.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "cli/core/CliError.h"
#include "cli/files/RegularFile.h"
#include "cli/plate/OutputChecks.h"
#include "cli/plate/TemporaryPlateFile.h"
#include "cli/text/JsonReader.h"
#include "cli/text/JsonText.h"

namespace framemeld::cli {
namespace {

// Frame numbers reach 12 digits in sequences; doubles hold whole numbers exactly to 2^53.
constexpr double kLargestFrameNumber = 1e15;

class Checker {
public:
    explicit Checker(const std::string &path) : path_(path) {}

    [[noreturn]] void fail(const JsonValue &at, const std::string &what) const
    {
        throw RunError(path_ + ":" + at.where() + ": " + what);
    }

    const JsonValue &member(const JsonValue &object, const char *key, JsonValue::Kind kind,
                            const std::string &within) const
    {
        const JsonValue *value = object.find(key);
        if (value == nullptr) {
            fail(object, within + " has no \"" + key + "\"");
        }
        if (value->kind != kind) {
            fail(*value, "\"" + std::string(key) + "\" is " + jsonKindName(value->kind) + ", not " +
                             jsonKindName(kind));
        }
        return *value;
    }

    // A number, or null for one JSON could not hold (the tool writes NaN and infinities so).
    double measure(const JsonValue &object, const char *key, const std::string &within) const
    {
        const JsonValue *value = object.find(key);
        if (value != nullptr && value->isNull()) {
            return NAN;
        }
        return member(object, key, JsonValue::Kind::Number, within).number;
    }

    long long whole(const JsonValue &object, const char *key, const std::string &within,
                    double lowest, double highest) const
    {
        const JsonValue &value = member(object, key, JsonValue::Kind::Number, within);
        if (value.number != std::floor(value.number) || value.number < lowest ||
            value.number > highest) {
            fail(value, "\"" + std::string(key) + "\" must be a whole number from " +
                            jsonNumber(lowest) + " to " + jsonNumber(highest) + ", not " +
                            jsonNumber(value.number));
        }
        return static_cast<long long>(value.number);
    }

private:
    const std::string &path_;
};

bool isIdentity(const std::array<double, 9> &m)
{
    return m == align::identityTransform().m;
}

std::string frameList(const std::vector<long long> &frames)
{
    std::string text;
    constexpr std::size_t kShown = 10;
    for (std::size_t k = 0; k < frames.size() && k < kShown; ++k) {
        text += (k == 0 ? "" : ", ") + std::to_string(frames[k]);
    }
    if (frames.size() > kShown) {
        text += " and " + std::to_string(frames.size() - kShown) + " more";
    }
    return text;
}

// What the first multiset holds beyond the second, in order.
std::vector<long long> beyond(const std::vector<long long> &a, const std::vector<long long> &b)
{
    std::map<long long, int> count;
    for (const long long frame : b) {
        ++count[frame];
    }
    std::vector<long long> extra;
    for (const long long frame : a) {
        if (count[frame] > 0) {
            --count[frame];
        } else {
            extra.push_back(frame);
        }
    }
    return extra;
}

} // namespace

std::string motionFileText(const AlignmentReport &alignment, int width, int height)
{
    std::vector<std::string> frames;
    for (const AlignedFrameReport &frame : alignment.frames) {
        frames.push_back(frame.json());
    }
    JsonObject object;
    object.addNumber("framemeld_motion", kMotionFileVersion)
        .addString("model", alignment.model)
        .addNumber("width", width)
        .addNumber("height", height)
        .addNumber("reference", static_cast<double>(alignment.reference))
        .addNumber("passes", alignment.passes)
        .add("still", alignment.still ? "true" : "false")
        .addNumber("largest_displacement", alignment.largestDisplacement);
    // A frame a line, so that the file reads and compares well by eye and with diff.
    std::string text = object.text();
    text.pop_back(); // the closing brace
    text += ", \"frames\": [";
    for (std::size_t k = 0; k < frames.size(); ++k) {
        text += (k == 0 ? "\n  " : ",\n  ") + frames[k];
    }
    text += "\n]}\n";
    return text;
}

MotionFile parseMotionFile(const std::string &text, const std::string &path)
{
    JsonValue root;
    try {
        JsonLimits limits;
        limits.maxBytes = kMotionFileMaxBytes;
        root = parseJson(text, limits);
    } catch (const JsonSyntaxError &error) {
        throw RunError(path + ":" + error.what() + " (a motion file is JSON)");
    }
    const Checker check(path);
    if (!root.isObject()) {
        check.fail(root,
                   "the document is " + std::string(jsonKindName(root.kind)) + ", not an object");
    }
    const std::string top = "the document";
    const JsonValue *version = root.find("framemeld_motion");
    if (version == nullptr) {
        check.fail(root, "no \"framemeld_motion\" version number (is it a motion file "
                         "`framemeld align` wrote?)");
    }
    if (!version->isNumber() || version->number != kMotionFileVersion) {
        check.fail(*version, "version " +
                                 (version->isNumber() ? jsonNumber(version->number)
                                                      : std::string(jsonKindName(version->kind))) +
                                 ", where this framemeld reads version " +
                                 std::to_string(kMotionFileVersion));
    }

    MotionFile file;
    const JsonValue &model = check.member(root, "model", JsonValue::Kind::String, top);
    if (!align::motionModelFromName(model.text, file.model) ||
        file.model == align::MotionModel::None) {
        check.fail(model, "the model \"" + model.text +
                              "\" is none of translation, similarity and perspective");
    }
    file.alignment.model = align::motionModelName(file.model);
    file.width = static_cast<int>(check.whole(root, "width", top, 1, 1e9));
    file.height = static_cast<int>(check.whole(root, "height", top, 1, 1e9));
    file.alignment.reference =
        check.whole(root, "reference", top, -kLargestFrameNumber, kLargestFrameNumber);
    file.alignment.passes = static_cast<int>(check.whole(root, "passes", top, 1, 2));
    file.alignment.still = check.member(root, "still", JsonValue::Kind::Boolean, top).boolean;
    file.alignment.largestDisplacement = check.measure(root, "largest_displacement", top);

    const JsonValue &frames = check.member(root, "frames", JsonValue::Kind::Array, top);
    if (frames.items.empty()) {
        check.fail(frames, "\"frames\" lists no frame");
    }
    const JsonValue *referenceEntry = nullptr;
    std::map<long long, std::array<double, 9>> matrices;
    for (std::size_t k = 0; k < frames.items.size(); ++k) {
        const JsonValue &entry = frames.items[k];
        const std::string within = "frames[" + std::to_string(k) + "]";
        if (!entry.isObject()) {
            check.fail(entry, within + " is " + jsonKindName(entry.kind) + ", not an object");
        }
        AlignedFrameReport frame;
        frame.frame =
            check.whole(entry, "frame", within, -kLargestFrameNumber, kLargestFrameNumber);
        const std::string named = "frame " + std::to_string(frame.frame);
        const JsonValue &matrix =
            check.member(entry, "frame_to_reference", JsonValue::Kind::Array, within);
        if (matrix.items.size() != 9) {
            check.fail(matrix, named + ": \"frame_to_reference\" holds " +
                                   std::to_string(matrix.items.size()) +
                                   " values, not the 9 of a 3x3 matrix");
        }
        for (std::size_t i = 0; i < 9; ++i) {
            if (!matrix.items[i].isNumber()) {
                check.fail(matrix.items[i], named + ": \"frame_to_reference\" holds " +
                                                jsonKindName(matrix.items[i].kind) +
                                                " where a finite number must be");
            }
            frame.matrix[i] = matrix.items[i].number;
        }
        align::Transform transform;
        transform.m = frame.matrix;
        if (!align::isUsable(transform)) {
            check.fail(matrix, named + ": the matrix cannot be inverted (a warp with it has no "
                                       "meaning)");
        }
        if (file.alignment.still && !isIdentity(frame.matrix)) {
            check.fail(matrix, named + ": the clip is marked still, so its frames are not "
                                       "warped, yet this matrix is not the identity");
        }
        frame.support = check.measure(entry, "support", within);
        frame.residual = check.measure(entry, "residual", within);
        frame.features = static_cast<int>(check.whole(entry, "features", within, 0, 1e9));
        frame.matches = static_cast<int>(check.whole(entry, "matches", within, 0, 1e9));
        frame.inliers = static_cast<int>(check.whole(entry, "inliers", within, 0, 1e9));
        // A frame sampled twice is warped once: by one matrix.
        const auto listed = matrices.emplace(frame.frame, frame.matrix);
        if (!listed.second && listed.first->second != frame.matrix) {
            check.fail(matrix, named + " is listed twice, with different matrices");
        }
        if (frame.frame == file.alignment.reference) {
            if (!isIdentity(frame.matrix)) {
                check.fail(matrix, named + " is the reference, and its matrix is not the "
                                           "identity");
            }
            referenceEntry = &entry;
        }
        file.alignment.frames.push_back(frame);
    }
    if (referenceEntry == nullptr) {
        check.fail(*root.find("reference"), "the reference, frame " +
                                                std::to_string(file.alignment.reference) +
                                                ", is none of the frames listed");
    }
    return file;
}

MotionFile readMotionFile(const std::string &path)
{
    std::vector<std::uint8_t> bytes;
    const std::string problem = readSmallRegularFile(path, kMotionFileMaxBytes, bytes);
    if (!problem.empty()) {
        throw RunError(path + ": cannot read the motion file (" + problem + ")");
    }
    return parseMotionFile(std::string(bytes.begin(), bytes.end()), path);
}

void writeMotionFile(const std::string &path, const std::string &text)
{
    TemporaryPlateFile temporary(resolvedOutputPath(path), path);
    temporary.writeText(text, "motion file");
    temporary.putInPlace();
}

void checkMotionFileFitsRun(const MotionFile &file, const std::string &path, const MotionRun &run)
{
    if (file.width != run.width || file.height != run.height) {
        throw RunError(path + ": the motion file is of " + std::to_string(file.width) + "x" +
                       std::to_string(file.height) + " frames, and this clip's are " +
                       std::to_string(run.width) + "x" + std::to_string(run.height));
    }
    std::vector<long long> listed;
    for (const AlignedFrameReport &frame : file.alignment.frames) {
        listed.push_back(frame.frame);
    }
    if (listed != run.frames) {
        const std::vector<long long> missing = beyond(run.frames, listed);
        const std::vector<long long> extra = beyond(listed, run.frames);
        std::string what;
        if (!missing.empty()) {
            what += "; it lacks frame" + std::string(missing.size() > 1 ? "s " : " ") +
                    frameList(missing);
        }
        if (!extra.empty()) {
            what += "; it has frame" + std::string(extra.size() > 1 ? "s " : " ") +
                    frameList(extra) + " that this run does not sample";
        }
        if (missing.empty() && extra.empty()) {
            what += "; it lists them in another order";
        }
        throw UsageError(path + ": the motion file holds other frames than this run samples" +
                         what +
                         " (give the same --start, --end, --every or --frames as to "
                         "`framemeld align`)");
    }
    if (run.model && *run.model != file.model) {
        throw UsageError("--align " + std::string(align::motionModelName(*run.model)) +
                         " differs from the model of " + path + ", " + file.alignment.model +
                         " (leave --align out with --motion, or give the same)");
    }
    if (run.reference && *run.reference != file.alignment.reference) {
        throw UsageError("--reference " + std::to_string(*run.reference) +
                         " differs from the reference of " + path + ", frame " +
                         std::to_string(file.alignment.reference) +
                         " (leave --reference out with --motion, or give the same)");
    }
}

} // namespace framemeld::cli
