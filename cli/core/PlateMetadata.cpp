#include "cli/core/PlateMetadata.h"

#include <cstdint>
#include <stdexcept>

namespace framemeld::cli {
namespace {

// Each piece as its length (4 bytes, little-endian) and its bytes.
void put(std::string &out, const std::string &piece)
{
    const auto size = static_cast<std::uint32_t>(piece.size());
    for (int shift = 0; shift < 32; shift += 8) {
        out += static_cast<char>((size >> shift) & 0xff);
    }
    out += piece;
}

std::string take(const std::string &in, std::size_t &at)
{
    if (in.size() - at < 4) {
        throw std::runtime_error("attributes cut short");
    }
    std::uint32_t size = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        size |= static_cast<std::uint32_t>(static_cast<unsigned char>(in[at + i])) << (8 * i);
    }
    at += 4;
    if (in.size() - at < size) {
        throw std::runtime_error("attributes cut short");
    }
    std::string piece = in.substr(at, size);
    at += size;
    return piece;
}

} // namespace

std::string encodePlateMetadata(const PlateMetadata &metadata)
{
    std::string out;
    put(out, std::to_string(metadata.bitsPerSample));
    put(out, metadata.provenance);
    put(out, std::to_string(metadata.attributes.size()));
    for (const FrameAttribute &attribute : metadata.attributes) {
        put(out, attribute.name);
        put(out, attribute.type);
        put(out, attribute.value);
    }
    return out;
}

PlateMetadata decodePlateMetadata(const std::string &bytes)
{
    PlateMetadata metadata;
    std::size_t at = 0;
    try {
        metadata.bitsPerSample = std::stoi(take(bytes, at));
        metadata.provenance = take(bytes, at);
        const unsigned long count = std::stoul(take(bytes, at));
        if (count > bytes.size()) {
            throw std::runtime_error("bad attribute count");
        }
        for (unsigned long i = 0; i < count; ++i) {
            FrameAttribute attribute;
            attribute.name = take(bytes, at);
            attribute.type = take(bytes, at);
            attribute.value = take(bytes, at);
            metadata.attributes.push_back(std::move(attribute));
        }
    } catch (const std::logic_error &) { // stoi's and stoul's
        throw std::runtime_error("bad attributes");
    }
    if (at != bytes.size()) {
        throw std::runtime_error("bad attributes");
    }
    return metadata;
}

} // namespace framemeld::cli
