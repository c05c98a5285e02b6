#pragma once
// The few pieces of JSON the tool writes for --json: pipeline tools read the run's outcome from
// one object on stdout instead of parsing messages.

#include <string>
#include <utility>
#include <vector>

namespace framemeld::cli {

// `text` as a quoted JSON string. Quotes, backslashes and control characters are escaped; bytes
// that are not UTF-8 (file names are bytes on Linux) become U+FFFD, so the document still parses.
std::string jsonString(const std::string &text);

// A number that reads back as the same double; null for NaN and the infinities, which JSON
// cannot hold.
std::string jsonNumber(double value);

// An object built member by member, in the order added; values are JSON text already.
class JsonObject {
public:
    JsonObject &add(const std::string &key, const std::string &jsonValue);
    JsonObject &addString(const std::string &key, const std::string &text);
    JsonObject &addNumber(const std::string &key, double value);
    std::string text() const;

private:
    std::vector<std::pair<std::string, std::string>> members_;
};

std::string jsonArray(const std::vector<std::string> &jsonValues);

} // namespace framemeld::cli
