#include "cli/text/JsonText.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace framemeld::cli {
namespace {

// The length of the UTF-8 sequence starting at text[i], or 0 when it is not one (overlong
// forms, surrogates and values past U+10FFFF included).
std::size_t utf8SequenceLength(const std::string &text, std::size_t i)
{
    const auto byte = [&text](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    unsigned int minimum = 0;
    unsigned int value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        minimum = 0x80;
        value = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        minimum = 0x800;
        value = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        minimum = 0x10000;
        value = lead & 0x07u;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0u) != 0x80u) {
            return 0;
        }
        value = (value << 6) | (byte(i + k) & 0x3Fu);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    return length;
}

} // namespace

std::string jsonString(const std::string &text)
{
    std::string quoted = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::size_t length = utf8SequenceLength(text, i);
            if (length == 0) {
                quoted += "\\ufffd";
                ++i;
            } else {
                quoted.append(text, i, length);
                i += length;
            }
            continue;
        }
        switch (c) {
        case '"': quoted += "\\\""; break;
        case '\\': quoted += "\\\\"; break;
        case '\n': quoted += "\\n"; break;
        case '\r': quoted += "\\r"; break;
        case '\t': quoted += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                quoted += escaped;
            } else {
                quoted += static_cast<char>(c);
            }
        }
        ++i;
    }
    return quoted + "\"";
}

std::string jsonNumber(double value)
{
    if (!std::isfinite(value)) {
        return "null";
    }
    if (value == std::floor(value) && std::fabs(value) < 1e15) {
        char whole[32];
        std::snprintf(whole, sizeof whole, "%.0f", value);
        return whole;
    }
    // The shortest form that reads back exactly: 0.1 stays 0.1, not 0.10000000000000001.
    char buffer[40];
    for (int digits = 15; digits <= 17; ++digits) {
        std::snprintf(buffer, sizeof buffer, "%.*g", digits, value);
        if (std::strtod(buffer, nullptr) == value) {
            break;
        }
    }
    return buffer;
}

JsonObject &JsonObject::add(const std::string &key, const std::string &jsonValue)
{
    members_.emplace_back(key, jsonValue);
    return *this;
}

JsonObject &JsonObject::addString(const std::string &key, const std::string &text)
{
    return add(key, jsonString(text));
}

JsonObject &JsonObject::addNumber(const std::string &key, double value)
{
    return add(key, jsonNumber(value));
}

std::string JsonObject::text() const
{
    std::string joined = "{";
    for (std::size_t i = 0; i < members_.size(); ++i) {
        joined += (i == 0 ? "" : ", ") + jsonString(members_[i].first) + ": " + members_[i].second;
    }
    return joined + "}";
}

std::string jsonArray(const std::vector<std::string> &jsonValues)
{
    std::string joined = "[";
    for (std::size_t i = 0; i < jsonValues.size(); ++i) {
        joined += (i == 0 ? "" : ", ") + jsonValues[i];
    }
    return joined + "]";
}

} // namespace framemeld::cli
