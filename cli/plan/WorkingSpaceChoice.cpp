#include "cli/plan/WorkingSpaceChoice.h"

#include <cctype>

namespace framemeld::cli {
namespace {

std::string lowerCase(const std::string &text)
{
    std::string lower = text;
    for (char &c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

bool namesLinearLight(const std::string &tag)
{
    const std::string name = lowerCase(tag);
    return name.find("linear") != std::string::npos || name.rfind("lin_", 0) == 0 ||
           name == "acescg" || name == "aces2065-1" || name == "aces";
}

} // namespace

WorkingSpaceRequest WorkingSpaceRequest::parse(const std::string &text)
{
    WorkingSpaceRequest request;
    if (text == "auto") {
        request.kind = Kind::Auto;
    } else if (text == "linear") {
        request.kind = Kind::Linear;
    } else if (text == "log") {
        request.kind = Kind::Log;
    } else {
        request.kind = Kind::Named;
        request.name = text;
    }
    return request;
}

bool isSceneLinear(const FootageFormat &format)
{
    const bool floatSamples = format.sampleType == "half" || format.sampleType == "float" ||
                              format.sampleType == "double";
    return floatSamples && (format.colourSpace.empty() || namesLinearLight(format.colourSpace));
}

WorkingSpaceChoice chooseWorkingSpace(const WorkingSpaceRequest &request,
                                      const FootageFormat &format, Depth renderDepth)
{
    WorkingSpaceChoice choice;
    switch (request.kind) {
    case WorkingSpaceRequest::Kind::Auto:
        choice.automatic = true;
        choice.kind = isSceneLinear(format) && renderDepth == Depth::Float32
                          ? WorkingSpaceRequest::Kind::Log
                          : WorkingSpaceRequest::Kind::Linear;
        break;
    case WorkingSpaceRequest::Kind::Named:
        choice.kind = request.kind;
        choice.name = request.name;
        break;
    case WorkingSpaceRequest::Kind::Linear:
    case WorkingSpaceRequest::Kind::Log: choice.kind = request.kind; break;
    }
    return choice;
}

} // namespace framemeld::cli
