#include "cli/footage/FootageDiscovery.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <system_error>

#include "cli/core/CliError.h"
#include "cli/formats/OiioModule.h"
#include "cli/formats/PngFrameReader.h"

namespace fs = std::filesystem;

namespace framemeld::cli {
namespace {

// Frame numbers a clip with gaps may span (the plug-in reaches 10000 layer frames).
constexpr long long kMostFramesWithHoles = 1000000;

bool isDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

std::string lowercase(std::string text)
{
    for (char &c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string extensionOf(const fs::path &path)
{
    std::string ext = path.extension().string();
    if (!ext.empty() && ext[0] == '.') {
        ext.erase(0, 1);
    }
    return lowercase(ext);
}

// PNG names are settled without OpenImageIO, so a folder of PNG frames never loads the module.
bool isStillImageName(const fs::path &path)
{
    if (hasPngExtension(path.string())) {
        return true;
    }
    return oiioModule().extensions().stills.count(extensionOf(path)) != 0;
}

Clip numberedClip(const std::string &input, const std::map<long long, std::string> &byNumber,
                  const std::function<std::string(long long)> &nameOf);

// A folder whose image files are named alike but for one number (shot.1001.exr, shot.1002.exr):
// the name before and after the last run of digits is the same in all of them.
struct FolderNumbering {
    std::string prefix;
    std::string suffix;
    std::size_t padding = 0; // digits of the shortest number, for the names of missing frames
    std::vector<long long> numbers; // of each name, in the order given
};

std::optional<FolderNumbering> folderNumbering(const std::vector<std::string> &names)
{
    FolderNumbering numbering;
    std::set<long long> seen;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string &name = names[i];
        const std::size_t digitsEnd = name.find_last_of("0123456789");
        if (digitsEnd == std::string::npos) {
            return std::nullopt;
        }
        std::size_t digitsStart = digitsEnd;
        while (digitsStart > 0 && isDigit(name[digitsStart - 1])) {
            --digitsStart;
        }
        const std::string prefix = name.substr(0, digitsStart);
        const std::string suffix = name.substr(digitsEnd + 1);
        const std::string digits = name.substr(digitsStart, digitsEnd + 1 - digitsStart);
        if (digits.size() > 12) {
            return std::nullopt;
        }
        if (i == 0) {
            numbering.prefix = prefix;
            numbering.suffix = suffix;
            numbering.padding = digits.size();
        } else if (prefix != numbering.prefix || suffix != numbering.suffix) {
            return std::nullopt;
        }
        numbering.padding = std::min(numbering.padding, digits.size());
        const long long number = std::stoll(digits);
        if (!seen.insert(number).second) {
            return std::nullopt; // f1 and f01: no number of its own for each
        }
        numbering.numbers.push_back(number);
    }
    return numbering;
}

Clip discoverFolder(const fs::path &folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        // Hidden files include the temporary plate of a run writing into this folder.
        if (name.empty() || name[0] == '.') {
            continue;
        }
        std::error_code typeError;
        if (!it->is_regular_file(typeError) || !isStillImageName(it->path())) {
            continue;
        }
        names.push_back(name);
    }
    if (error) {
        throw RunError(folder.string() + ": cannot list the folder: " + error.message());
    }
    if (names.empty()) {
        throw RunError(folder.string() + ": no image files in the folder");
    }

    std::sort(names.begin(), names.end(), naturalLess);
    if (const std::optional<FolderNumbering> numbered = folderNumbering(names)) {
        std::map<long long, std::string> byNumber;
        for (std::size_t i = 0; i < names.size(); ++i) {
            byNumber.emplace(numbered->numbers[i], (folder / names[i]).string());
        }
        return numberedClip(folder.string(), byNumber, [&](long long number) {
            std::string digits = std::to_string(number);
            if (digits.size() < numbered->padding) {
                digits.insert(0, numbered->padding - digits.size(), '0');
            }
            return (folder / (numbered->prefix + digits + numbered->suffix)).string();
        });
    }
    Clip clip;
    clip.kind = ClipKind::ImageSequence;
    for (const std::string &name : names) {
        clip.frameFiles.push_back((folder / name).string());
    }
    clip.frameCount = static_cast<int>(clip.frameFiles.size());
    return clip;
}

// Matches `name` against the pattern; on success stores the frame number.
bool matchSequenceName(const SequencePattern &pattern, const std::string &name, long long &number)
{
    const std::size_t fixed = pattern.prefix.size() + pattern.suffix.size();
    if (name.size() <= fixed) {
        return false;
    }
    if (name.compare(0, pattern.prefix.size(), pattern.prefix) != 0) {
        return false;
    }
    if (name.compare(name.size() - pattern.suffix.size(), pattern.suffix.size(), pattern.suffix) !=
        0) {
        return false;
    }
    const std::string field = name.substr(pattern.prefix.size(), name.size() - fixed);
    // Frames before a shot's first (handles, pre-roll) are numbered below zero: f_-002.
    const bool negative = field[0] == '-';
    const std::string digits = negative ? field.substr(1) : field;
    if (digits.empty() || digits.size() > 12 ||
        !std::all_of(digits.begin(), digits.end(), isDigit)) {
        return false;
    }
    const auto width = static_cast<int>(digits.size());
    // "####" means padded to four digits; a longer number carries no extra leading zeros.
    if (pattern.padding > 0) {
        if (width < pattern.padding) {
            return false;
        }
        if (width > pattern.padding && digits[0] == '0') {
            return false;
        }
    }
    number = std::stoll(digits);
    if (negative) {
        if (number == 0) {
            return false; // "-0000" names no frame of its own
        }
        number = -number;
    }
    return true;
}

// Frames by the numbers their files carry, frame 0 the lowest; a number between without a file is
// a missing frame, named as its file would be (`nameOf`), an error only when it is sampled.
Clip numberedClip(const std::string &input, const std::map<long long, std::string> &byNumber,
                  const std::function<std::string(long long)> &nameOf)
{
    const long long first = byNumber.begin()->first;
    const long long last = byNumber.rbegin()->first;
    const long long span = last - first + 1;
    // Each frame of the span is a name in memory; a few files numbered far apart must not cost
    // gigabytes. A span without holes is as long as the files are many.
    if (span > static_cast<long long>(byNumber.size()) && span > kMostFramesWithHoles) {
        throw RunError(input + ": the file numbers run from " + std::to_string(first) + " to " +
                       std::to_string(last) + " with only " + std::to_string(byNumber.size()) +
                       " files among them; more than " + std::to_string(kMostFramesWithHoles) +
                       " frame numbers with gaps are not taken");
    }
    if (span > std::numeric_limits<int>::max()) {
        throw RunError(input + ": " + std::to_string(span) + " frames, more than the tool counts");
    }
    Clip clip;
    clip.kind = ClipKind::ImageSequence;
    clip.frameFiles.reserve(static_cast<std::size_t>(span));
    auto next = byNumber.begin();
    for (long long number = first; number <= last; ++number) {
        if (next != byNumber.end() && next->first == number) {
            clip.frameFiles.push_back(next->second);
            ++next;
        } else {
            clip.missingFrames.push_back(static_cast<int>(number - first));
            clip.frameFiles.push_back(nameOf(number));
        }
    }
    clip.frameCount = static_cast<int>(clip.frameFiles.size());
    clip.fileNumbers = true;
    clip.firstNumber = first;
    return clip;
}

Clip discoverSequence(const std::string &input, const SequencePattern &pattern)
{
    const fs::path folder = pattern.directory.empty() ? fs::path(".") : fs::path(pattern.directory);
    std::map<long long, std::string> byNumber;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        long long number = 0;
        if (!matchSequenceName(pattern, name, number)) {
            continue;
        }
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) {
            continue;
        }
        auto [existing, inserted] =
            byNumber.emplace(number, (fs::path(pattern.directory) / name).string());
        if (!inserted) {
            throw RunError(input + ": frame number " + std::to_string(number) +
                           " is there twice, as " + fs::path(existing->second).filename().string() +
                           " and " + name);
        }
    }
    if (error) {
        throw RunError(input + ": cannot list the folder " + folder.string() + ": " +
                       error.message());
    }
    if (byNumber.empty()) {
        throw RunError(input + ": no files match the sequence pattern");
    }

    return numberedClip(input, byNumber, [&](long long number) {
        return (fs::path(pattern.directory) / pattern.fileNameFor(number)).string();
    });
}

Clip discoverFile(const std::string &path, const std::atomic<bool> *cancel)
{
    if (probePngFootage(path)) {
        Clip clip;
        clip.kind = ClipKind::ImageSequence;
        clip.frameFiles.push_back(path);
        clip.frameCount = 1;
        return clip;
    }
    return oiioModule().openFile(path, cancel);
}

} // namespace

std::string SequencePattern::fileNameFor(long long number) const
{
    // The padding counts digits; a minus sign comes before them.
    std::string digits = std::to_string(number < 0 ? -number : number);
    if (static_cast<int>(digits.size()) < padding) {
        digits.insert(0, static_cast<std::size_t>(padding) - digits.size(), '0');
    }
    return prefix + (number < 0 ? "-" : "") + digits + suffix;
}

bool parseSequencePattern(const std::string &path, SequencePattern &pattern)
{
    const fs::path asPath(path);
    const std::string name = asPath.filename().string();

    const std::size_t hash = name.find('#');
    if (hash != std::string::npos) {
        std::size_t hashEnd = hash;
        while (hashEnd < name.size() && name[hashEnd] == '#') {
            ++hashEnd;
        }
        if (name.find('#', hashEnd) != std::string::npos) {
            return false;
        }
        pattern.prefix = name.substr(0, hash);
        pattern.suffix = name.substr(hashEnd);
        pattern.padding = static_cast<int>(hashEnd - hash);
        pattern.directory = asPath.parent_path().string();
        return true;
    }

    for (std::size_t percent = name.find('%'); percent != std::string::npos;
         percent = name.find('%', percent + 1)) {
        std::size_t pos = percent + 1;
        int padding = 0;
        const bool zeroPadded = pos < name.size() && name[pos] == '0';
        while (pos < name.size() && isDigit(name[pos]) && padding < 100) {
            padding = padding * 10 + (name[pos] - '0');
            ++pos;
        }
        if (pos >= name.size() || name[pos] != 'd') {
            continue;
        }
        if (padding > 0 && !zeroPadded) {
            continue; // "%4d" pads with spaces: not a frame file name
        }
        pattern.prefix = name.substr(0, percent);
        pattern.suffix = name.substr(pos + 1);
        pattern.padding = padding;
        pattern.directory = asPath.parent_path().string();
        return true;
    }
    return false;
}

bool naturalLess(const std::string &a, const std::string &b)
{
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            std::size_t iEnd = i;
            std::size_t jEnd = j;
            while (iEnd < a.size() && isDigit(a[iEnd])) {
                ++iEnd;
            }
            while (jEnd < b.size() && isDigit(b[jEnd])) {
                ++jEnd;
            }
            // Compare values without converting: skip leading zeros, then longer is larger.
            std::size_t iSig = i;
            std::size_t jSig = j;
            while (iSig + 1 < iEnd && a[iSig] == '0') {
                ++iSig;
            }
            while (jSig + 1 < jEnd && b[jSig] == '0') {
                ++jSig;
            }
            if (iEnd - iSig != jEnd - jSig) {
                return iEnd - iSig < jEnd - jSig;
            }
            const int order = a.compare(iSig, iEnd - iSig, b, jSig, jEnd - jSig);
            if (order != 0) {
                return order < 0;
            }
            i = iEnd;
            j = jEnd;
        } else {
            if (a[i] != b[j]) {
                return a[i] < b[j];
            }
            ++i;
            ++j;
        }
    }
    if (i < a.size() || j < b.size()) {
        return j < b.size();
    }
    return a < b; // equal but for padding: keep a strict, stable order
}

void requireSampledFrames(const Clip &clip, const std::vector<int> &frames,
                          const std::string &input)
{
    if (clip.missingFrames.empty()) {
        return;
    }
    for (const int frame : std::set<int>(frames.begin(), frames.end())) {
        if (clip.frameMissing(frame)) {
            throw RunError(clip.frameFiles.at(static_cast<std::size_t>(frame)) +
                           ": frame missing from the sequence " + input + " (numbers " +
                           std::to_string(clip.firstNumber) + " to " +
                           std::to_string(clip.firstNumber + clip.frameCount - 1) + ")");
        }
    }
}

Clip discoverClip(const std::string &input, const std::atomic<bool> *cancel)
{
    // A file or folder that exists by the very name given is that file, even when its name holds
    // "#" or "%d": the name cannot then be meant as a pattern of other files.
    std::error_code existsError;
    const bool existsAsNamed = fs::exists(input, existsError);
    SequencePattern pattern;
    if (!existsAsNamed && parseSequencePattern(input, pattern)) {
        std::error_code error;
        const fs::path folder =
            pattern.directory.empty() ? fs::path(".") : fs::path(pattern.directory);
        if (!fs::is_directory(folder, error)) {
            throw RunError(input + ": the folder " + folder.string() + " does not exist");
        }
        return discoverSequence(input, pattern);
    }
    std::error_code error;
    const fs::file_status status = fs::status(input, error);
    if (!fs::exists(status)) {
        throw RunError(input + ": no such file or folder");
    }
    if (fs::is_directory(status)) {
        return discoverFolder(input);
    }
    // A device or a pipe never ends (/dev/zero) or blocks (a FIFO): readers would spin or wait.
    if (!fs::is_regular_file(status)) {
        throw RunError(input + ": not a regular file; footage is an image or movie file, a "
                               "numbered sequence or a folder of frames");
    }
    return discoverFile(input, cancel);
}

} // namespace framemeld::cli
