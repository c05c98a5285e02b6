// framemeld_plate_dump MODULE OUTDIR: loads an effect module as the host does, renders the
// generated clip (GeneratedClip.h) at 8, 16 and 32 bits with a few parameter settings, and
// writes each output's pixels, row after row without padding, to OUTDIR/plate-<bits>-<name>.raw.
// The same program built for Linux and for Windows must write the same bytes: that is how the
// Windows module is checked against the Linux one. Exit 1 on any failed render or host rule.
#include <cstdio>
#include <exception>
#include <fstream>
#include <string>
#include <vector>

#include "packaging/plate_dump/GeneratedClip.h"
#include "runner/Host.h"

using namespace framemeld::packaging;
using namespace framemeld::runner;

namespace {

struct Setting {
    const char *name;
    double startFrame;
    double endFrame;
    double everyNth;
    double divergence;
    double ratingRange;
};

// Every frame; a sparse sampling that runs past the clip's end (transparent frames); a tight
// tolerance on a window that starts mid-clip.
const Setting kSettings[] = {
    {"all", 0, kClipFrames - 1, 1, 6.0, 2.0},
    {"sparse", 1, kClipFrames + 5, 3, 12.5, 1.5},
    {"tight", 4, 13, 2, 0.75, 0.3},
};

const PixelDepth kDepths[] = {PixelDepth::Bits8, PixelDepth::Bits16, PixelDepth::Float32};

std::string Render(const PluginModule &module, PixelDepth depth, const Setting &setting,
                   const std::string &outDir)
{
    Host host(module.entryPoint());
    const SetupResult setup = host.setup();
    if (!setup.ok()) {
        return "setup: " + setup.problems.front();
    }
    host.setParameter("Start Frame", setting.startFrame);
    host.setParameter("End Frame", setting.endFrame);
    host.setParameter("Every n-th Frame", setting.everyNth);
    host.setParameter("Divergence", setting.divergence);
    host.setParameter("Rating Range", setting.ratingRange);

    InMemoryFrameSource source(kClipWidth, kClipHeight, depth);
    AddGeneratedClip(source);
    RenderRequest request;
    request.frame = 5;
    request.timeStep = 100;
    request.timeScale = 2400;
    const RenderResult result = host.render(source, request);
    if (result.err() != PF_Err_NONE) {
        return "render returned error " + std::to_string(result.err());
    }
    const std::vector<std::string> broken = violations(result.accounting);
    if (!broken.empty()) {
        return "host rule broken: " + broken.front();
    }
    if (!result.output.valid()) {
        return "no output world";
    }

    const std::string path =
        outDir + "/plate-" + std::to_string(bitsPerChannel(depth)) + "-" + setting.name + ".raw";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::size_t rowLength =
        static_cast<std::size_t>(result.output.width()) * bytesPerPixel(depth);
    for (int y = 0; y < result.output.height(); ++y) {
        out.write(reinterpret_cast<const char *>(result.output.row(y)),
                  static_cast<std::streamsize>(rowLength));
    }
    out.close();
    if (!out) {
        return "cannot write " + path;
    }
    std::printf("%s: %dx%d\n", path.c_str(), result.output.width(), result.output.height());
    return {};
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s MODULE OUTDIR\n",
                     argc > 0 ? argv[0] : "framemeld_plate_dump");
        return 2;
    }
    try {
        const PluginModule module(argv[1]);
        int failures = 0;
        for (const PixelDepth depth : kDepths) {
            for (const Setting &setting : kSettings) {
                const std::string problem = Render(module, depth, setting, argv[2]);
                if (!problem.empty()) {
                    std::fprintf(stderr, "%d bits, %s: %s\n", bitsPerChannel(depth), setting.name,
                                 problem.c_str());
                    ++failures;
                }
            }
        }
        return failures == 0 ? 0 : 1;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "framemeld_plate_dump: %s\n", error.what());
        return 1;
    }
}
