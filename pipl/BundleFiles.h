// The two small files that make a macOS folder a plug-in bundle the host will look at. An
// effect bundle without package type "eFKT" and signature "FXTC" is skipped silently.
#pragma once

#include <string>

namespace framemeld::pipl {

struct BundleInfo {
    std::string executable;    // CFBundleExecutable, also the .rsrc file's base name
    std::string name;          // CFBundleName
    std::string identifier;    // reverse-DNS CFBundleIdentifier
    std::string shortVersion;  // e.g. "2.2.0"
    std::string bundleVersion; // e.g. "2.2.0.1"
};

// Exactly eight bytes, no line end.
std::string PkgInfo();

// Throws std::invalid_argument when a value holds a character a plist string cannot carry
// unescaped, rather than writing a plist the host cannot parse.
std::string InfoPlist(const BundleInfo &info);

} // namespace framemeld::pipl
