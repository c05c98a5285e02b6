#include "cli/farm/StripRecord.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>

#include "cli/core/CliError.h"
#include "cli/files/RegularFile.h"
#include "cli/text/JsonText.h"

namespace framemeld::cli {
namespace {

constexpr const char *kKind = "framemeld-strip";
constexpr int kVersion = 2;

// The record is one flat object the tool wrote itself; a reader of exactly that shape keeps the
// tool free of a JSON library. Values stay JSON text, strings with their quotes and escapes. A
// key given twice or anything but white space after the object makes it no record of the tool's.
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
            expectEnd();
            return found;
        }
        while (true) {
            skipSpace();
            std::string key = stringToken();
            key = key.substr(1, key.size() - 2);
            expect(':');
            skipSpace();
            if (!found.emplace(key, valueToken()).second) {
                throw std::runtime_error("a key given twice");
            }
            skipSpace();
            if (peek() == ',') {
                ++at_;
                continue;
            }
            expect('}');
            expectEnd();
            return found;
        }
    }

private:
    char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }

    void skipSpace()
    {
        while (at_ < text_.size() && std::strchr(" \t\r\n", text_[at_]) != nullptr &&
               text_[at_] != '\0') {
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

    void expectEnd()
    {
        skipSpace();
        if (at_ != text_.size()) {
            throw std::runtime_error("something follows the object");
        }
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

using Members = std::map<std::string, std::string>;

const std::string &member(const Members &members, const char *key)
{
    const auto found = members.find(key);
    if (found == members.end()) {
        throw std::runtime_error(std::string("no ") + key);
    }
    return found->second;
}

long long wholeMember(const Members &members, const char *key, long long most)
{
    const std::string &text = member(members, key);
    char *end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (end != text.c_str() + text.size() || errno == ERANGE || value < 0 || value > most) {
        throw std::runtime_error(std::string("bad ") + key);
    }
    return value;
}

bool flagMember(const Members &members, const char *key)
{
    const std::string &text = member(members, key);
    if (text != "true" && text != "false") {
        throw std::runtime_error(std::string("bad ") + key);
    }
    return text == "true";
}

// The strings the tool itself writes there hold no escapes: names, hex digits, type names.
std::string plainStringMember(const Members &members, const char *key)
{
    const std::string &text = member(members, key);
    if (text.size() < 2 || text.front() != '"' || text.find('\\') != std::string::npos) {
        throw std::runtime_error(std::string("bad ") + key);
    }
    return text.substr(1, text.size() - 2);
}

const char *const kSettingKeys[] = {"start",      "end",         "every", "framesSampled",
                                    "divergence", "ratingRange", "depth"};

} // namespace

std::string stripRecordPath(const std::string &stripPath)
{
    return stripPath + ".framemeld-strip.json";
}

std::string stripRecordText(const StripRecord &record)
{
    JsonObject object;
    object.addString("kind", kKind)
        .addNumber("version", kVersion)
        .addNumber("plateWidth", record.plateWidth)
        .addNumber("plateHeight", record.plateHeight)
        .addNumber("top", record.top)
        .addNumber("bottom", record.bottom)
        .add("alpha", record.withAlpha ? "true" : "false")
        .add("unassociatedAlpha", record.unassociatedAlpha ? "true" : "false")
        .addString("input", record.input)
        .addString("footage", record.footage)
        .addString("footageType", record.footageType)
        .addNumber("footageBits", record.footageBits)
        .addString("dataType", record.dataType)
        .addString("dataTypeAsked", record.dataTypeAsked)
        .addString("compressionAsked", record.compressionAsked)
        .add("stripBytes", std::to_string(record.stripBytes))
        .addString("stripChecksum", record.stripChecksum)
        .addString("metadata", record.metadata);
    for (const auto &[key, value] : record.settings) {
        object.add(key, value);
    }
    return object.text() + "\n";
}

StripRecord readStripRecord(const std::string &stripPath)
{
    const std::string path = stripRecordPath(stripPath);
    const std::string kind = whyNotARegularFile(path);
    if (kind == std::strerror(ENOENT)) {
        throw RunError(stripPath + ": no strip record " + path + " beside it (" + kind +
                       "); strips are rendered with --rows");
    }
    std::vector<std::uint8_t> bytes;
    const std::string problem = readSmallRegularFile(path, kMaxStripRecordBytes, bytes);
    if (!problem.empty()) {
        throw RunError(path + ": cannot read the strip record (it " +
                       (problem.rfind("is ", 0) == 0 || problem.rfind("holds ", 0) == 0
                            ? problem
                            : "gives " + problem) +
                       ")");
    }
    const std::string text(bytes.begin(), bytes.end());
    StripRecord record;
    try {
        const Members members = FlatJsonReader(text).members();
        if (member(members, "kind") != jsonString(kKind) ||
            wholeMember(members, "version", 1000) != kVersion) {
            throw std::runtime_error("not a strip record of this version");
        }
        constexpr long long kMostRows = 1000000000LL;
        record.plateWidth = static_cast<int>(wholeMember(members, "plateWidth", kMostRows));
        record.plateHeight = static_cast<int>(wholeMember(members, "plateHeight", kMostRows));
        record.top = static_cast<int>(wholeMember(members, "top", kMostRows));
        record.bottom = static_cast<int>(wholeMember(members, "bottom", kMostRows));
        record.bits = static_cast<int>(wholeMember(members, "depth", 32));
        record.withAlpha = flagMember(members, "alpha");
        record.unassociatedAlpha = flagMember(members, "unassociatedAlpha");
        if (record.plateWidth == 0 || record.top >= record.bottom ||
            record.bottom > record.plateHeight ||
            (record.bits != 8 && record.bits != 16 && record.bits != 32)) {
            throw std::runtime_error("size, rows or depth out of range");
        }
        record.input = member(members, "input"); // JSON text: only ever shown
        record.footage = plainStringMember(members, "footage");
        record.footageType = plainStringMember(members, "footageType");
        record.footageBits = static_cast<int>(wholeMember(members, "footageBits", 32));
        if (record.footageBits != 8 && record.footageBits != 16 && record.footageBits != 32) {
            throw std::runtime_error("bad footageBits");
        }
        record.dataType = plainStringMember(members, "dataType");
        record.dataTypeAsked = plainStringMember(members, "dataTypeAsked");
        record.compressionAsked = plainStringMember(members, "compressionAsked");
        record.stripBytes =
            static_cast<std::uint64_t>(wholeMember(members, "stripBytes", 1LL << 62));
        record.stripChecksum = plainStringMember(members, "stripChecksum");
        record.metadata = plainStringMember(members, "metadata");
        for (const char *key : kSettingKeys) {
            record.settings.emplace_back(key, member(members, key));
        }
        // Strips recorded before there were working spaces were rendered in the footage's own
        // values.
        const auto space = members.find("workingSpace");
        record.settings.emplace_back("workingSpace",
                                     space != members.end() ? space->second : jsonString("linear"));
        // Strips of a confidence image or a difference matte say which; plates say nothing.
        const auto image = members.find("image");
        if (image != members.end()) {
            record.settings.emplace_back("image", image->second);
        }
        // Strips of frames warped into a reference say with which transforms.
        const auto alignment = members.find("alignment");
        if (alignment != members.end()) {
            record.settings.emplace_back("alignment", alignment->second);
        }
    } catch (const std::runtime_error &error) {
        throw RunError(path + ": not a valid strip record (" + error.what() + ")");
    }
    return record;
}

} // namespace framemeld::cli
