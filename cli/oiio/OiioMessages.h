#pragma once
// OpenImageIO's error texts end in newlines and often repeat the file name that our own
// messages already lead with; this trims them for a one-line message.

#include <string>

namespace framemeld::cli {

inline std::string cleanOiioMessage(std::string message)
{
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
        message.pop_back();
    }
    for (std::size_t pos = message.find('\n'); pos != std::string::npos; pos = message.find('\n')) {
        message.replace(pos, 1, "; ");
    }
    return message;
}

} // namespace framemeld::cli
