#include "packaging/aex_check/PeImage.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <fstream>
#include <iterator>
#include <set>

namespace framemeld::packaging {

namespace {

constexpr std::size_t kExportDirectory = 0;
constexpr std::size_t kImportDirectory = 1;
constexpr std::size_t kResourceDirectory = 2;
constexpr std::size_t kDelayImportDirectory = 13;

// Real images have a few dozen of each; a corrupt count must not make us loop for long.
constexpr std::uint32_t kMaxEntries = 65536;

class Bytes {
public:
    explicit Bytes(const std::vector<std::uint8_t> &bytes) : bytes_(bytes) {}

    std::size_t size() const noexcept { return bytes_.size(); }

    void require(std::uint64_t offset, std::uint64_t length, const char *what) const
    {
        if (offset > bytes_.size() || length > bytes_.size() - offset) {
            throw PeFormatError(std::string(what) + " lies outside the file");
        }
    }
    std::uint16_t u16(std::uint64_t offset, const char *what) const
    {
        require(offset, 2, what);
        const auto at = static_cast<std::size_t>(offset);
        return static_cast<std::uint16_t>(bytes_[at] | (bytes_[at + 1] << 8));
    }
    std::uint32_t u32(std::uint64_t offset, const char *what) const
    {
        require(offset, 4, what);
        const auto at = static_cast<std::size_t>(offset);
        return static_cast<std::uint32_t>(bytes_[at]) |
               (static_cast<std::uint32_t>(bytes_[at + 1]) << 8) |
               (static_cast<std::uint32_t>(bytes_[at + 2]) << 16) |
               (static_cast<std::uint32_t>(bytes_[at + 3]) << 24);
    }
    // A NUL-terminated string; running off the end of the file is an error.
    std::string cString(std::uint64_t offset, const char *what) const
    {
        std::string text;
        for (std::uint64_t at = offset;; ++at) {
            require(at, 1, what);
            const auto c = bytes_[static_cast<std::size_t>(at)];
            if (c == 0) {
                return text;
            }
            text.push_back(static_cast<char>(c));
        }
    }
    std::vector<std::uint8_t> slice(std::uint64_t offset, std::uint32_t length,
                                    const char *what) const
    {
        require(offset, length, what);
        const auto begin = bytes_.begin() + static_cast<std::ptrdiff_t>(offset);
        return {begin, begin + static_cast<std::ptrdiff_t>(length)};
    }

private:
    const std::vector<std::uint8_t> &bytes_;
};

struct Section {
    std::uint32_t virtualAddress;
    std::uint32_t virtualSize;
    std::uint32_t rawSize;
    std::uint32_t rawOffset;
};

struct DataDirectory {
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
};

class Reader {
public:
    explicit Reader(const std::vector<std::uint8_t> &bytes) : file_(bytes) {}

    PeImage read()
    {
        readHeaders();
        PeImage image;
        image.machine = machine_;
        image.characteristics = characteristics_;
        image.optionalHeaderMagic = magic_;
        image.exports = readExports();
        image.imports = readImports();
        readResources(image.resources);
        return image;
    }

private:
    void readHeaders()
    {
        if (file_.size() < 64 || file_.u16(0, "DOS header") != 0x5A4D) {
            throw PeFormatError("no MZ header: not a Windows executable");
        }
        const std::uint64_t pe = file_.u32(0x3C, "PE header offset");
        if (file_.u32(pe, "PE signature") != 0x00004550) {
            throw PeFormatError("no PE signature");
        }
        const std::uint64_t coff = pe + 4;
        machine_ = file_.u16(coff, "COFF header");
        const std::uint16_t sectionCount = file_.u16(coff + 2, "COFF header");
        const std::uint16_t optionalSize = file_.u16(coff + 16, "COFF header");
        characteristics_ = file_.u16(coff + 18, "COFF header");

        const std::uint64_t optional = coff + 20;
        magic_ = file_.u16(optional, "optional header");
        // The data directories follow the fixed part, whose size depends on the format.
        std::uint64_t fixedPart = 0;
        if (magic_ == kOptionalHeaderPe32Plus) {
            fixedPart = 112;
        } else if (magic_ == 0x10b) {
            fixedPart = 96;
        } else {
            throw PeFormatError("unknown optional header magic");
        }
        if (optionalSize < fixedPart) {
            throw PeFormatError("optional header too small");
        }
        file_.require(optional, optionalSize, "optional header");
        std::uint32_t directoryCount = file_.u32(optional + fixedPart - 4, "optional header");
        const std::uint64_t room = (optionalSize - fixedPart) / 8;
        if (directoryCount > room) {
            throw PeFormatError("data directories overrun the optional header");
        }
        for (std::uint32_t i = 0; i < directoryCount && i < directories_.size(); ++i) {
            const std::uint64_t at = optional + fixedPart + 8ull * i;
            directories_[i] = {file_.u32(at, "data directory"),
                               file_.u32(at + 4, "data directory")};
        }

        const std::uint64_t table = optional + optionalSize;
        for (std::uint16_t i = 0; i < sectionCount; ++i) {
            const std::uint64_t at = table + 40ull * i;
            file_.require(at, 40, "section table");
            sections_.push_back({file_.u32(at + 12, "section"), file_.u32(at + 8, "section"),
                                 file_.u32(at + 16, "section"), file_.u32(at + 20, "section")});
        }
    }

    // File offset of an address in the loaded image; only bytes stored in the file count.
    std::uint64_t offsetOf(std::uint32_t rva, const char *what) const
    {
        for (const Section &s : sections_) {
            const std::uint64_t stored =
                s.virtualSize ? std::min(s.virtualSize, s.rawSize) : s.rawSize;
            if (rva >= s.virtualAddress && rva - s.virtualAddress < stored) {
                return static_cast<std::uint64_t>(s.rawOffset) + (rva - s.virtualAddress);
            }
        }
        throw PeFormatError(std::string(what) + " points outside every section");
    }

    std::vector<std::string> readExports() const
    {
        const DataDirectory dir = directories_[kExportDirectory];
        std::vector<std::string> names;
        if (dir.rva == 0) {
            return names;
        }
        const std::uint64_t at = offsetOf(dir.rva, "export directory");
        file_.require(at, 40, "export directory");
        const std::uint32_t base = file_.u32(at + 16, "export directory");
        const std::uint32_t functionCount = file_.u32(at + 20, "export directory");
        const std::uint32_t nameCount = file_.u32(at + 24, "export directory");
        if (functionCount > kMaxEntries || nameCount > kMaxEntries) {
            throw PeFormatError("implausible export count");
        }
        const std::uint32_t functions = file_.u32(at + 28, "export directory");
        const std::uint32_t nameTable = file_.u32(at + 32, "export directory");
        const std::uint32_t ordinalTable = file_.u32(at + 36, "export directory");

        std::set<std::uint32_t> named;
        for (std::uint32_t i = 0; i < nameCount; ++i) {
            const std::uint32_t nameRva =
                file_.u32(offsetOf(nameTable + 4 * i, "export name table"), "export name table");
            names.push_back(file_.cString(offsetOf(nameRva, "export name"), "export name"));
            named.insert(file_.u16(offsetOf(ordinalTable + 2 * i, "export ordinal table"),
                                   "export ordinal table"));
        }
        // Slots with an address but no name are still exports a loader can find.
        for (std::uint32_t i = 0; i < functionCount; ++i) {
            const std::uint32_t address = file_.u32(
                offsetOf(functions + 4 * i, "export address table"), "export address table");
            if (address != 0 && named.count(i) == 0) {
                names.push_back("#" + std::to_string(base + i));
            }
        }
        return names;
    }

    std::vector<std::string> readImports() const
    {
        std::vector<std::string> dlls;
        readDescriptors(directories_[kImportDirectory], 20, 12, "import directory", dlls);
        readDescriptors(directories_[kDelayImportDirectory], 32, 4, "delay import directory", dlls);
        return dlls;
    }

    // Both import tables are arrays of fixed-size records that end with an all-zero record.
    void readDescriptors(DataDirectory dir, std::uint32_t recordSize, std::uint32_t nameField,
                         const char *what, std::vector<std::string> &dlls) const
    {
        if (dir.rva == 0) {
            return;
        }
        for (std::uint32_t i = 0;; ++i) {
            if (i >= kMaxEntries) {
                throw PeFormatError(std::string(what) + " has no end");
            }
            const std::uint64_t at = offsetOf(dir.rva + recordSize * i, what);
            file_.require(at, recordSize, what);
            bool empty = true;
            for (std::uint32_t b = 0; b < recordSize; b += 4) {
                empty = empty && file_.u32(at + b, what) == 0;
            }
            if (empty) {
                return;
            }
            const std::uint32_t nameRva = file_.u32(at + nameField, what);
            dlls.push_back(
                file_.cString(offsetOf(nameRva, "imported DLL name"), "imported DLL name"));
        }
    }

    std::string entryName(std::uint64_t root, std::uint32_t field) const
    {
        if ((field & 0x80000000u) == 0) {
            return "#" + std::to_string(field & 0xFFFFu);
        }
        const std::uint64_t at = root + (field & 0x7FFFFFFFu);
        const std::uint16_t length = file_.u16(at, "resource name");
        std::string name;
        for (std::uint16_t i = 0; i < length; ++i) {
            const std::uint16_t unit = file_.u16(at + 2 + 2ull * i, "resource name");
            name.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
        }
        return name;
    }

    // Entries of one resource directory level: (name field, offset field) pairs.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> entries(std::uint64_t at) const
    {
        const std::uint32_t count = static_cast<std::uint32_t>(
            file_.u16(at + 12, "resource directory") + file_.u16(at + 14, "resource directory"));
        // Directories may share subdirectories, so a small file can describe a huge tree.
        resourceEntriesSeen_ += count;
        if (resourceEntriesSeen_ > kMaxEntries) {
            throw PeFormatError("implausibly many resource entries");
        }
        std::vector<std::pair<std::uint32_t, std::uint32_t>> list;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint64_t entry = at + 16 + 8ull * i;
            list.emplace_back(file_.u32(entry, "resource entry"),
                              file_.u32(entry + 4, "resource entry"));
        }
        return list;
    }

    // Type, name and language levels; anything deeper or shallower is malformed, which also
    // stops a directory that points back at itself.
    void readResources(std::vector<PeResource> &out) const
    {
        const DataDirectory dir = directories_[kResourceDirectory];
        if (dir.rva == 0) {
            return;
        }
        const std::uint64_t root = offsetOf(dir.rva, "resource directory");
        const auto subdirectory = [&](std::uint32_t field) {
            if ((field & 0x80000000u) == 0) {
                throw PeFormatError("resource tree ends above the language level");
            }
            return root + (field & 0x7FFFFFFFu);
        };
        for (const auto &[typeField, typeOffset] : entries(root)) {
            const std::uint64_t names = subdirectory(typeOffset);
            for (const auto &[nameField, nameOffset] : entries(names)) {
                const std::uint64_t languages = subdirectory(nameOffset);
                for (const auto &[languageField, dataOffset] : entries(languages)) {
                    if (dataOffset & 0x80000000u) {
                        throw PeFormatError("resource tree goes below the language level");
                    }
                    const std::uint64_t entry = root + dataOffset;
                    const std::uint32_t dataRva = file_.u32(entry, "resource data entry");
                    const std::uint32_t size = file_.u32(entry + 4, "resource data entry");
                    PeResource resource;
                    resource.type = entryName(root, typeField);
                    resource.name = entryName(root, nameField);
                    resource.language = languageField & 0xFFFFu;
                    resource.data =
                        file_.slice(offsetOf(dataRva, "resource data"), size, "resource data");
                    out.push_back(std::move(resource));
                }
            }
        }
    }

    Bytes file_;
    std::uint16_t machine_ = 0;
    std::uint16_t characteristics_ = 0;
    std::uint16_t magic_ = 0;
    std::array<DataDirectory, 16> directories_{};
    std::vector<Section> sections_;
    mutable std::uint32_t resourceEntriesSeen_ = 0;
};

} // namespace

PeImage ReadPeImage(const std::vector<std::uint8_t> &bytes)
{
    return Reader(bytes).read();
}

std::vector<std::uint8_t> ReadFileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot open " + path);
    }
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
    if (in.bad()) {
        throw std::runtime_error("cannot read " + path);
    }
    return bytes;
}

} // namespace framemeld::packaging
