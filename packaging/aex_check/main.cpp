// framemeld_aex_check AEX PIPL_BIN: checks a built Windows effect module against what the host
// needs (see AexCheck.h) and the generator's PiPL bytes. Prints every fault; exit 1 if any,
// 2 when the files cannot be read.
#include <cstdio>
#include <exception>

#include "packaging/aex_check/AexCheck.h"

using namespace framemeld::packaging;

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s AEX PIPL_BIN\n",
                     argc > 0 ? argv[0] : "framemeld_aex_check");
        return 2;
    }
    PeImage image;
    AexExpectations expected;
    try {
        image = ReadPeImage(ReadFileBytes(argv[1]));
        expected.pipl = ReadFileBytes(argv[2]);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error.what());
        return 2;
    }

    const auto problems = CheckAex(image, expected);
    for (const auto &problem : problems) {
        std::fprintf(stderr, "%s: %s\n", argv[1], problem.c_str());
    }
    if (!problems.empty()) {
        return 1;
    }
    std::printf("%s: x64 DLL; exports only %s; imports", argv[1], expected.entryPoint.c_str());
    for (const auto &dll : image.imports) {
        std::printf(" %s", dll.c_str());
    }
    std::printf("; %s %s language %u holds the generator's %zu PiPL bytes\n",
                expected.piplType.c_str(), expected.piplName.c_str(),
                static_cast<unsigned>(expected.piplLanguage), expected.pipl.size());
    return 0;
}
