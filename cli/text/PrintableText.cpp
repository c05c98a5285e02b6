#include "cli/text/PrintableText.h"

namespace framemeld::cli {

std::string printableText(const std::string &text)
{
    static const char digits[] = "0123456789abcdef";
    auto escape = [](std::string &out, unsigned char byte) {
        out += "\\x";
        out += digits[byte >> 4];
        out += digits[byte & 15];
    };
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\n') {
            out += "\\n";
        } else if (byte == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7f) {
            escape(out, byte);
        } else if (byte == 0xc2 && i + 1 < text.size() &&
                   (static_cast<unsigned char>(text[i + 1]) & 0xe0) == 0x80) {
            // U+0080..U+009F: terminals take some of them (CSI) as control sequences.
            escape(out, byte);
            escape(out, static_cast<unsigned char>(text[++i]));
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace framemeld::cli
