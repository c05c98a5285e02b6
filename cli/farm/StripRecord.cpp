#include "cli/farm/StripRecord.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>

#include "cli/core/CliError.h"
#include "cli/files/FileHandle.h"
#include "cli/plate/OutputChecks.h"
#include "cli/plate/TemporaryPlateFile.h"
#include "cli/text/JsonText.h"

namespace framemeld::cli {
namespace {

constexpr const char *kKind = "framemeld-strip";

// The record is one flat object the tool wrote itself; a reader of exactly that shape keeps the
// tool free of a JSON library. Values stay JSON text, strings with their quotes and escapes.
class FlatJsonReader {
public:
    explicit FlatJsonReader(const std::string &text) : text_(text) {}

    std::map<std::string, std::string> members()
    {
        std::map<std::string, std::string> found;
        expect('{');
        skipSpace();
        if (peek() == '}') {
            ++at_;
            return found;
        }
        while (true) {
            skipSpace();
            std::string key = stringToken();
            key = key.substr(1, key.size() - 2);
            expect(':');
            skipSpace();
            found[key] = valueToken();
            skipSpace();
            if (peek() == ',') {
                ++at_;
                continue;
            }
            expect('}');
            return found;
        }
    }

private:
    char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }

    void skipSpace()
    {
        while (at_ < text_.size() && std::strchr(" \t\r\n", text_[at_]) != nullptr) {
            ++at_;
        }
    }

    void expect(char wanted)
    {
        skipSpace();
        if (peek() != wanted) {
            throw std::runtime_error("malformed");
        }
        ++at_;
    }

    std::string stringToken()
    {
        const std::size_t begin = at_;
        if (peek() != '"') {
            throw std::runtime_error("malformed");
        }
        for (++at_; at_ < text_.size() && text_[at_] != '"'; ++at_) {
            if (text_[at_] == '\\') {
                ++at_;
            }
        }
        if (at_ >= text_.size()) {
            throw std::runtime_error("malformed");
        }
        ++at_;
        return text_.substr(begin, at_ - begin);
    }

    std::string valueToken()
    {
        if (peek() == '"') {
            return stringToken();
        }
        const std::size_t begin = at_;
        while (at_ < text_.size() && std::strchr(",} \t\r\n", text_[at_]) == nullptr) {
            ++at_;
        }
        if (at_ == begin) {
            throw std::runtime_error("malformed");
        }
        return text_.substr(begin, at_ - begin);
    }

    const std::string &text_;
    std::size_t at_ = 0;
};

int wholeMember(const std::map<std::string, std::string> &members, const char *key)
{
    const auto found = members.find(key);
    if (found == members.end()) {
        throw std::runtime_error(std::string("no ") + key);
    }
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(found->second.c_str(), &end, 10);
    if (end != found->second.c_str() + found->second.size() || errno == ERANGE || value < 0 ||
        value > 1000000000L) {
        throw std::runtime_error(std::string("bad ") + key);
    }
    return static_cast<int>(value);
}

bool flagMember(const std::map<std::string, std::string> &members, const char *key)
{
    const auto found = members.find(key);
    if (found == members.end() || (found->second != "true" && found->second != "false")) {
        throw std::runtime_error(std::string("bad ") + key);
    }
    return found->second == "true";
}

const char *const kSettingKeys[] = {"input",         "start",      "end",         "every",
                                    "framesSampled", "divergence", "ratingRange", "depth"};

} // namespace

std::string stripRecordPath(const std::string &stripPath)
{
    return stripPath + ".framemeld-strip.json";
}

void writeStripRecord(const std::string &stripPath, const StripRecord &record)
{
    JsonObject object;
    object.addString("kind", kKind)
        .addNumber("version", 1)
        .addNumber("plateWidth", record.plateWidth)
        .addNumber("plateHeight", record.plateHeight)
        .addNumber("top", record.top)
        .addNumber("bottom", record.bottom)
        .add("alpha", record.withAlpha ? "true" : "false")
        .add("unassociatedAlpha", record.unassociatedAlpha ? "true" : "false");
    for (const auto &[key, value] : record.settings) {
        object.add(key, value);
    }
    const std::string text = object.text() + "\n";

    const std::string path = stripRecordPath(stripPath);
    TemporaryPlateFile temporary(resolvedOutputPath(path), path);
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t step = ::write(temporary.fd(), text.data() + written, text.size() - written);
        if (step < 0 && errno == EINTR) {
            continue;
        }
        if (step <= 0) {
            throw RunError(path + ": cannot write the strip record (" + std::strerror(errno) + ")");
        }
        written += static_cast<std::size_t>(step);
    }
    temporary.putInPlace();
}

StripRecord readStripRecord(const std::string &stripPath)
{
    const std::string path = stripRecordPath(stripPath);
    UniqueFile file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        throw RunError(stripPath + ": no strip record " + path + " beside it (" +
                       std::strerror(errno) + "); strips are rendered with --rows");
    }
    std::vector<std::uint8_t> bytes;
    const std::string problem = readWholeFile(file.get(), bytes);
    if (!problem.empty()) {
        throw RunError(path + ": cannot read the strip record (" + problem + ")");
    }
    const std::string text(bytes.begin(), bytes.end());
    StripRecord record;
    try {
        const auto members = FlatJsonReader(text).members();
        const auto kind = members.find("kind");
        if (kind == members.end() || kind->second != jsonString(kKind) ||
            wholeMember(members, "version") != 1) {
            throw std::runtime_error("not a strip record of this version");
        }
        record.plateWidth = wholeMember(members, "plateWidth");
        record.plateHeight = wholeMember(members, "plateHeight");
        record.top = wholeMember(members, "top");
        record.bottom = wholeMember(members, "bottom");
        record.bits = wholeMember(members, "depth");
        record.withAlpha = flagMember(members, "alpha");
        record.unassociatedAlpha = flagMember(members, "unassociatedAlpha");
        if (record.top >= record.bottom || record.bottom > record.plateHeight ||
            (record.bits != 8 && record.bits != 16 && record.bits != 32)) {
            throw std::runtime_error("rows or depth out of range");
        }
        for (const char *key : kSettingKeys) {
            const auto found = members.find(key);
            if (found == members.end()) {
                throw std::runtime_error(std::string("no ") + key);
            }
            record.settings.emplace_back(key, found->second);
        }
        // Strips of a confidence image or a difference matte say which; plates say nothing.
        const auto image = members.find("image");
        if (image != members.end()) {
            record.settings.emplace_back("image", image->second);
        }
    } catch (const std::runtime_error &error) {
        throw RunError(path + ": not a valid strip record (" + error.what() + ")");
    }
    return record;
}

} // namespace framemeld::cli
