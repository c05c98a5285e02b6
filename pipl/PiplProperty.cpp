#include "pipl/PiplProperty.h"

#include <utility>

namespace framemeld::pipl {

Property Property::FourChar(std::uint32_t key, std::uint32_t code)
{
    Property p;
    p.key = key;
    p.kind = ValueKind::FourChar;
    p.number = code;
    return p;
}

Property Property::Pascal(std::uint32_t key, std::string text)
{
    Property p;
    p.key = key;
    p.kind = ValueKind::PascalString;
    p.text = std::move(text);
    return p;
}

Property Property::CStr(std::uint32_t key, std::string text)
{
    Property p;
    p.key = key;
    p.kind = ValueKind::CString;
    p.text = std::move(text);
    return p;
}

Property Property::Long(std::uint32_t key, std::uint32_t value)
{
    Property p;
    p.key = key;
    p.kind = ValueKind::U32;
    p.number = value;
    return p;
}

Property Property::ShortPair(std::uint32_t key, std::uint16_t first, std::uint16_t second)
{
    Property p;
    p.key = key;
    p.kind = ValueKind::U16Pair;
    p.first = first;
    p.second = second;
    return p;
}

Property Property::Short(std::uint32_t key, std::uint16_t value)
{
    Property p;
    p.key = key;
    p.kind = ValueKind::U16;
    p.number = value;
    return p;
}

} // namespace framemeld::pipl
