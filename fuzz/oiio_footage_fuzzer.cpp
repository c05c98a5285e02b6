// libFuzzer target: the command-line tool's OpenImageIO footage path (probe, the weighing of the
// header's claims against the file, and the decode into host pixels) on EXR, TIFF and DPX bytes.
// The first byte picks the file name extension, the rest is the file. Every input either decodes
// or fails with the tool's own error naming the file; no claim may cost more than the file
// weighs, which -rss_limit_mb (fuzz/run.sh) enforces.
#include <OpenImageIO/imageio.h>

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/core/CliError.h"
#include "cli/core/Clip.h"
#include "cli/files/FileHandle.h"
#include "cli/oiio/OiioFootageReader.h"

namespace {

[[noreturn]] void fault(const std::string &what)
{
    std::fprintf(stderr, "oiio footage fuzzer: %s\n", what.c_str());
    std::abort();
}

const char *const kExtensions[] = {".exr", ".tif", ".dpx"};
constexpr double kMostDecodedPixels = 4.0 * 1024 * 1024;

std::string scratchPath(std::uint8_t selector)
{
    const char *folder = std::getenv("TMPDIR");
    return std::string(folder != nullptr ? folder : "/tmp") + "/framemeld-oiio-fuzz-" +
           std::to_string(getpid()) + kExtensions[selector % 3];
}

} // namespace

// OpenImageIO 2.4's PNG reader (it takes bytes that look like a PNG whatever the file's name)
// reports a read error through png_error, whose longjmp skips the destructor of the message
// string it just built: 31 bytes per damaged PNG, not ours to fix. The suppression has to name
// that function, so allocation stacks are taken in full rather than by frame pointers, which
// stop in the C++ library.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:OpenImageIO_v2_4::PNGInput::PngReadCallback\n";
}
extern "C" const char *__asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}
extern "C" const char *__lsan_default_options()
{
    return "print_suppressions=0";
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // One thread, so every allocation and fault is this input's, on this stack.
    OIIO::attribute("threads", 1);
    OIIO::attribute("exr_threads", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace framemeld::cli;
    if (size < 1) {
        return 0;
    }
    const std::string path = scratchPath(data[0]);
    {
        UniqueFile file(std::fopen(path.c_str(), "wb"));
        if (!file || std::fwrite(data + 1, 1, size - 1, file.get()) != size - 1) {
            fault("cannot write " + path);
        }
    }

    Clip clip;
    clip.frameFiles = {path};
    clip.frameCount = 1;
    try {
        const FootageFormat format = oiio::probeClipFormat(clip);
        if (format.width <= 0 || format.height <= 0) {
            fault("a probe passed a frame without pixels");
        }
        // The weighing lets a few kilobytes of DWA claim some hundred megabytes, which is sound
        // but not this fuzzer's to spend on every input: larger frames are probed only.
        if (static_cast<double>(format.width) * format.height > kMostDecodedPixels) {
            std::remove(path.c_str());
            return 0;
        }
        DecodeRequest request;
        request.clip = &clip;
        request.format = format;
        request.frames = {0};
        request.depth = Depth::Float32;
        const auto samples =
            static_cast<std::size_t>(format.width) * static_cast<std::size_t>(format.height) * 4;
        std::vector<float> pixels(samples);
        const FrameTarget target{reinterpret_cast<unsigned char *>(pixels.data()),
                                 static_cast<std::ptrdiff_t>(format.width) * 4 *
                                     static_cast<std::ptrdiff_t>(sizeof(float))};
        oiio::decodeImageFile(path, request, target);
    } catch (const RunError &error) {
        if (std::string(error.what()).rfind(path + ": ", 0) != 0) {
            fault(std::string("a failure that does not name the file: ") + error.what());
        }
    }
    std::remove(path.c_str());
    return 0;
}
