#include "PiplReader.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace framemeld::piplread {
namespace {

[[noreturn]] void Fail(const std::string &what)
{
    throw std::runtime_error(what);
}

class Cursor {
public:
    Cursor(const std::vector<std::uint8_t> &bytes, Order order) : bytes_(bytes), order_(order) {}

    std::size_t Position() const { return pos_; }
    std::size_t Remaining() const { return bytes_.size() - pos_; }

    void Need(std::size_t n) const
    {
        if (Remaining() < n) {
            Fail("truncated at byte " + std::to_string(pos_));
        }
    }

    std::uint16_t U16()
    {
        Need(2);
        const unsigned a = bytes_[pos_];
        const unsigned b = bytes_[pos_ + 1];
        pos_ += 2;
        return static_cast<std::uint16_t>(order_ == Order::Big ? (a << 8) | b : (b << 8) | a);
    }

    std::uint32_t U32()
    {
        const std::uint32_t first = U16();
        const std::uint32_t second = U16();
        return order_ == Order::Big ? (first << 16) | second : (second << 16) | first;
    }

    std::vector<std::uint8_t> Bytes(std::size_t n)
    {
        Need(n);
        std::vector<std::uint8_t> out(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
                                      bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
        pos_ += n;
        return out;
    }

    void ZeroPadFrom(std::size_t start)
    {
        while ((pos_ - start) % 4 != 0) {
            Need(1);
            if (bytes_[pos_] != 0) {
                Fail("non-zero padding at byte " + std::to_string(pos_));
            }
            ++pos_;
        }
    }

private:
    const std::vector<std::uint8_t> &bytes_;
    Order order_;
    std::size_t pos_ = 0;
};

std::vector<RawProperty> ReadProperties(Cursor &in)
{
    if (in.U32() != 0) {
        Fail("properties version is not 0");
    }
    const std::uint32_t count = in.U32();
    std::vector<RawProperty> properties;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t start = in.Position();
        RawProperty p;
        p.vendor = in.U32();
        p.key = in.U32();
        p.id = in.U32();
        p.length = in.U32();
        p.data = in.Bytes(p.length);
        in.ZeroPadFrom(start);
        properties.push_back(std::move(p));
    }
    if (in.Remaining() != 0) {
        Fail(std::to_string(in.Remaining()) + " stray bytes after the last property");
    }
    return properties;
}

std::uint16_t BigU16(const std::vector<std::uint8_t> &b, std::size_t at)
{
    if (at + 2 > b.size()) {
        Fail("resource file truncated");
    }
    return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

std::uint32_t BigU32(const std::vector<std::uint8_t> &b, std::size_t at)
{
    return (static_cast<std::uint32_t>(BigU16(b, at)) << 16) | BigU16(b, at + 2);
}

int ParseInt(const std::string &token)
{
    std::size_t used = 0;
    const int value = std::stoi(token, &used, 0);
    if (used != token.size()) {
        Fail("not a number: " + token);
    }
    return value;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    Fail(std::string("bad hex digit ") + c);
}

// Decodes the string literals of one line of raw data, appending their bytes.
void DecodeLiterals(const std::string &line, std::vector<std::uint8_t> &out)
{
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == ',' || c == '\r') {
            ++i;
            continue;
        }
        if (c != '"') {
            Fail("unexpected raw data: " + line);
        }
        ++i;
        while (true) {
            if (i >= line.size()) {
                Fail("unterminated literal: " + line);
            }
            if (line[i] == '"') {
                ++i;
                break;
            }
            if (line[i] == '\\') {
                if (i + 3 >= line.size() || line[i + 1] != 'x') {
                    Fail("only \\xNN escapes are expected: " + line);
                }
                out.push_back(
                    static_cast<std::uint8_t>(HexDigit(line[i + 2]) * 16 + HexDigit(line[i + 3])));
                i += 4;
            } else {
                out.push_back(static_cast<std::uint8_t>(line[i]));
                ++i;
            }
        }
    }
}

std::string Trim(const std::string &s)
{
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return "";
    }
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

std::string ReadResName(Cursor &in)
{
    const std::uint16_t first = in.U16();
    if (first == 0xFFFF) {
        return "#" + std::to_string(in.U16());
    }
    std::string name;
    for (std::uint16_t unit = first; unit != 0; unit = in.U16()) {
        if (unit > 0x7F) {
            Fail("non-ASCII resource name");
        }
        name += static_cast<char>(unit);
    }
    return name;
}

} // namespace

std::vector<RawProperty> ReadWindows(const std::vector<std::uint8_t> &bytes)
{
    Cursor in(bytes, Order::Little);
    if (in.U16() != 1) {
        Fail("Windows PiPL does not start with a 16-bit 1");
    }
    return ReadProperties(in);
}

std::vector<RawProperty> ReadMac(const std::vector<std::uint8_t> &bytes)
{
    Cursor in(bytes, Order::Big);
    return ReadProperties(in);
}

std::uint32_t Key(const char (&code)[5])
{
    std::uint32_t key = 0;
    for (int i = 0; i < 4; ++i) {
        key = (key << 8) | static_cast<unsigned char>(code[i]);
    }
    return key;
}

std::string KeyName(std::uint32_t key)
{
    std::string name;
    for (int shift = 24; shift >= 0; shift -= 8) {
        name += static_cast<char>((key >> shift) & 0xFFu);
    }
    return name;
}

std::uint32_t U32(const std::vector<std::uint8_t> &data, Order order)
{
    if (data.size() != 4) {
        Fail("expected 4 bytes, got " + std::to_string(data.size()));
    }
    Cursor in(data, order);
    return in.U32();
}

std::uint16_t U16At(const std::vector<std::uint8_t> &data, std::size_t at, Order order)
{
    if (at + 2 > data.size()) {
        Fail("16-bit value out of range");
    }
    const unsigned a = data[at];
    const unsigned b = data[at + 1];
    return static_cast<std::uint16_t>(order == Order::Big ? (a << 8) | b : (b << 8) | a);
}

std::string Pascal(const std::vector<std::uint8_t> &data)
{
    if (data.empty() || data[0] + 1u > data.size()) {
        Fail("Pascal string longer than its property");
    }
    for (std::size_t i = data[0] + 1u; i < data.size(); ++i) {
        if (data[i] != 0) {
            Fail("Pascal string followed by non-zero bytes");
        }
    }
    return std::string(data.begin() + 1, data.begin() + 1 + data[0]);
}

std::string CString(const std::vector<std::uint8_t> &data)
{
    std::size_t end = 0;
    while (end < data.size() && data[end] != 0) {
        ++end;
    }
    if (end == data.size()) {
        Fail("C string without NUL");
    }
    for (std::size_t i = end; i < data.size(); ++i) {
        if (data[i] != 0) {
            Fail("C string followed by non-zero bytes");
        }
    }
    return std::string(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(end));
}

std::vector<Resource> ReadResourceFile(const std::vector<std::uint8_t> &file)
{
    const std::uint32_t dataOffset = BigU32(file, 0);
    const std::uint32_t mapOffset = BigU32(file, 4);
    const std::uint32_t dataLength = BigU32(file, 8);
    const std::uint32_t mapLength = BigU32(file, 12);
    if (dataOffset < 256 || std::uint64_t{dataOffset} + dataLength > mapOffset ||
        std::uint64_t{mapOffset} + mapLength != file.size()) {
        Fail("resource file header does not describe the file");
    }
    for (std::size_t i = 0; i < 16; ++i) {
        if (file[mapOffset + i] != file[i]) {
            Fail("resource map's header copy differs from the header");
        }
    }
    const std::uint16_t typeListOffset = BigU16(file, mapOffset + 24);
    const std::uint16_t nameListOffset = BigU16(file, mapOffset + 26);
    if (nameListOffset > mapLength) {
        Fail("name list outside the map");
    }
    const std::size_t typeList = mapOffset + typeListOffset;
    const int typeCount = BigU16(file, typeList) + 1;

    std::vector<Resource> resources;
    for (int t = 0; t < typeCount; ++t) {
        const std::size_t entry = typeList + 2 + static_cast<std::size_t>(t) * 8;
        const std::uint32_t type = BigU32(file, entry);
        const int count = BigU16(file, entry + 4) + 1;
        const std::size_t refs = typeList + BigU16(file, entry + 6);
        for (int r = 0; r < count; ++r) {
            const std::size_t ref = refs + static_cast<std::size_t>(r) * 12;
            if (ref + 12 > mapOffset + std::size_t{mapLength}) {
                Fail("reference list outside the map");
            }
            Resource res;
            res.type = type;
            res.id = static_cast<std::int16_t>(BigU16(file, ref));
            res.named = BigU16(file, ref + 2) != 0xFFFF;
            const std::uint32_t attrAndOffset = BigU32(file, ref + 4);
            res.attributes = static_cast<std::uint8_t>(attrAndOffset >> 24);
            const std::size_t lengthWord = dataOffset + (attrAndOffset & 0xFFFFFFu);
            const std::uint32_t length = BigU32(file, lengthWord);
            if (lengthWord + 4 + length > std::size_t{dataOffset} + dataLength) {
                Fail("resource data outside the data area");
            }
            res.data.assign(file.begin() + static_cast<std::ptrdiff_t>(lengthWord + 4),
                            file.begin() + static_cast<std::ptrdiff_t>(lengthWord + 4 + length));
            resources.push_back(std::move(res));
        }
    }
    return resources;
}

std::vector<ScriptResource> ReadResourceScript(const std::string &text)
{
    std::vector<ScriptResource> resources;
    std::istringstream lines(text);
    std::string line;
    int language = -1;
    bool inData = false;
    while (std::getline(lines, line)) {
        if (!inData) {
            const auto comment = line.find("//");
            if (comment != std::string::npos) {
                line.erase(comment);
            }
        }
        line = Trim(line);
        if (line.empty()) {
            continue;
        }
        if (inData) {
            if (line == "END") {
                inData = false;
            } else {
                DecodeLiterals(line, resources.back().data);
            }
            continue;
        }
        std::istringstream words(line);
        std::string first;
        words >> first;
        if (first == "LANGUAGE") {
            std::string rest;
            std::getline(words, rest);
            const auto comma = rest.find(',');
            if (comma == std::string::npos) {
                Fail("LANGUAGE without sublanguage");
            }
            language = ParseInt(Trim(rest.substr(0, comma))) |
                       (ParseInt(Trim(rest.substr(comma + 1))) << 10);
        } else if (first == "BEGIN") {
            if (resources.empty()) {
                Fail("BEGIN without a resource");
            }
            inData = true;
        } else {
            ScriptResource res;
            res.language = language;
            res.id = first;
            words >> res.type;
            resources.push_back(std::move(res));
        }
    }
    if (inData) {
        Fail("resource data without END");
    }
    return resources;
}

std::vector<ResEntry> ReadRes(const std::vector<std::uint8_t> &file)
{
    std::vector<ResEntry> entries;
    Cursor in(file, Order::Little);
    while (in.Remaining() > 0) {
        const std::size_t start = in.Position();
        const std::uint32_t dataSize = in.U32();
        const std::uint32_t headerSize = in.U32();
        ResEntry entry;
        entry.type = ReadResName(in);
        entry.name = ReadResName(in);
        in.ZeroPadFrom(start);
        (void)in.U32(); // data version
        (void)in.U16(); // memory flags
        entry.language = in.U16();
        (void)in.U32(); // version
        (void)in.U32(); // characteristics
        if (in.Position() - start != headerSize) {
            Fail(".res header size mismatch");
        }
        entry.data = in.Bytes(dataSize);
        in.ZeroPadFrom(start);
        if (!(entry.type == "#0" && dataSize == 0)) { // the empty marker entry
            entries.push_back(std::move(entry));
        }
    }
    return entries;
}

std::vector<std::uint8_t> ReadFileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Fail("cannot open " + path);
    }
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}

} // namespace framemeld::piplread
