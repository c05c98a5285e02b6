#include "pipl/PiplEncoder.h"

#include <stdexcept>
#include <string>

namespace framemeld::pipl {
namespace {

class ByteSink {
public:
    ByteSink(std::vector<std::uint8_t> &bytes, ByteOrder order) : bytes_(bytes), order_(order) {}

    void U16(std::uint32_t value)
    {
        const auto hi = static_cast<std::uint8_t>((value >> 8) & 0xFFu);
        const auto lo = static_cast<std::uint8_t>(value & 0xFFu);
        if (order_ == ByteOrder::Windows) {
            bytes_.push_back(lo);
            bytes_.push_back(hi);
        } else {
            bytes_.push_back(hi);
            bytes_.push_back(lo);
        }
    }

    void U32(std::uint32_t value)
    {
        if (order_ == ByteOrder::Windows) {
            U16(value & 0xFFFFu);
            U16(value >> 16);
        } else {
            U16(value >> 16);
            U16(value & 0xFFFFu);
        }
    }

private:
    std::vector<std::uint8_t> &bytes_;
    ByteOrder order_;
};

void PadToFour(std::vector<std::uint8_t> &bytes)
{
    while (bytes.size() % 4 != 0) {
        bytes.push_back(0);
    }
}

void CheckNoNul(const std::string &text)
{
    if (text.find('\0') != std::string::npos) {
        throw std::invalid_argument("PiPL string holds a NUL character");
    }
}

// The property's data without any trailing padding.
std::vector<std::uint8_t> PropertyData(const Property &property, ByteOrder order)
{
    std::vector<std::uint8_t> data;
    ByteSink sink(data, order);
    switch (property.kind) {
    case ValueKind::FourChar:
    case ValueKind::U32: sink.U32(property.number); break;
    case ValueKind::U16: sink.U16(property.number); break;
    case ValueKind::U16Pair:
        sink.U16(property.first);
        sink.U16(property.second);
        break;
    case ValueKind::PascalString:
        CheckNoNul(property.text);
        if (property.text.size() > 255) {
            throw std::length_error("PiPL Pascal string longer than 255 characters");
        }
        data.push_back(static_cast<std::uint8_t>(property.text.size()));
        data.insert(data.end(), property.text.begin(), property.text.end());
        break;
    case ValueKind::CString:
        CheckNoNul(property.text);
        data.insert(data.end(), property.text.begin(), property.text.end());
        data.push_back(0);
        break;
    }
    return data;
}

bool IsString(ValueKind kind)
{
    return kind == ValueKind::PascalString || kind == ValueKind::CString;
}

} // namespace

std::vector<std::uint8_t> Encode(const PropertyList &properties, ByteOrder order)
{
    std::vector<std::uint8_t> bytes;
    ByteSink sink(bytes, order);

    if (order == ByteOrder::Windows) {
        sink.U16(1);
    }
    sink.U32(0); // properties version
    sink.U32(static_cast<std::uint32_t>(properties.size()));

    for (const Property &property : properties) {
        std::vector<std::uint8_t> data = PropertyData(property, order);
        const auto unpadded = static_cast<std::uint32_t>(data.size());
        PadToFour(data);
        // Adobe's Windows resource tool counts string padding as part of the data; everywhere
        // else the length is the data's own size and the padding merely aligns what follows.
        const bool padCounted = order == ByteOrder::Windows && IsString(property.kind);
        sink.U32(kVendorAdobe);
        sink.U32(property.key);
        sink.U32(0); // id
        sink.U32(padCounted ? static_cast<std::uint32_t>(data.size()) : unpadded);
        bytes.insert(bytes.end(), data.begin(), data.end());
    }
    return bytes;
}

} // namespace framemeld::pipl
