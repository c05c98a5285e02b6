#include "cli/footage/FootageDiscovery.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <system_error>

#include "cli/core/CliError.h"
#include "cli/formats/OiioModule.h"
#include "cli/formats/PngFrameReader.h"

namespace fs = std::filesystem;

namespace framemeld::cli {
namespace {

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
        auto [existing, inserted] = byNumber.emplace(number, name);
        if (!inserted) {
            throw RunError(input + ": frame number " + std::to_string(number) +
                           " is there twice, as " + existing->second + " and " + name);
        }
    }
    if (error) {
        throw RunError(input + ": cannot list the folder " + folder.string() + ": " +
                       error.message());
    }
    if (byNumber.empty()) {
        throw RunError(input + ": no files match the sequence pattern");
    }

    Clip clip;
    clip.kind = ClipKind::ImageSequence;
    const long long first = byNumber.begin()->first;
    const long long last = byNumber.rbegin()->first;
    long long expected = first;
    for (const auto &[number, name] : byNumber) {
        if (number != expected) {
            // Frame numbers count from the first file, so a hole would shift every later frame.
            const fs::path missing = fs::path(pattern.directory) / pattern.fileNameFor(expected);
            throw RunError(missing.string() + ": frame missing from the sequence " + input +
                           " (numbers " + std::to_string(first) + " to " + std::to_string(last) +
                           ")");
        }
        clip.frameFiles.push_back((fs::path(pattern.directory) / name).string());
        ++expected;
    }
    clip.frameCount = static_cast<int>(clip.frameFiles.size());
    clip.fileNumbers = true;
    clip.firstNumber = first;
    return clip;
}

Clip discoverFile(const std::string &path)
{
    if (probePngFootage(path)) {
        Clip clip;
        clip.kind = ClipKind::ImageSequence;
        clip.frameFiles.push_back(path);
        clip.frameCount = 1;
        return clip;
    }
    return oiioModule().openFile(path);
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

Clip discoverClip(const std::string &input)
{
    SequencePattern pattern;
    if (parseSequencePattern(input, pattern)) {
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
    return discoverFile(input);
}

} // namespace framemeld::cli
