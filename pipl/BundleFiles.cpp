#include "pipl/BundleFiles.h"

#include <stdexcept>

namespace framemeld::pipl {
namespace {

const char kPackageType[] = "eFKT";
const char kSignature[] = "FXTC";

void Entry(std::string &plist, const char *key, const std::string &value)
{
    if (value.find_first_of("<>&\"\n") != std::string::npos) {
        throw std::invalid_argument(std::string("Info.plist value for ") + key +
                                    " needs XML escaping");
    }
    plist += "\t<key>";
    plist += key;
    plist += "</key>\n\t<string>";
    plist += value;
    plist += "</string>\n";
}

} // namespace

std::string PkgInfo()
{
    return std::string(kPackageType) + kSignature;
}

std::string InfoPlist(const BundleInfo &info)
{
    std::string plist;
    plist += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    plist += "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
             "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n";
    plist += "<plist version=\"1.0\">\n<dict>\n";
    Entry(plist, "CFBundleDevelopmentRegion", "en");
    Entry(plist, "CFBundleExecutable", info.executable);
    Entry(plist, "CFBundleIdentifier", info.identifier);
    Entry(plist, "CFBundleInfoDictionaryVersion", "6.0");
    Entry(plist, "CFBundleName", info.name);
    Entry(plist, "CFBundlePackageType", kPackageType);
    Entry(plist, "CFBundleShortVersionString", info.shortVersion);
    Entry(plist, "CFBundleSignature", kSignature);
    Entry(plist, "CFBundleVersion", info.bundleVersion);
    plist += "</dict>\n</plist>\n";
    return plist;
}

} // namespace framemeld::pipl
