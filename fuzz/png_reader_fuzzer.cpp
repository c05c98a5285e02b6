// libFuzzer target: the fast PNG reader on any byte string. The probe never throws; the decoder
// either fails with its own error or hands out exactly `height` rows in order, and a file the
// probe accepts decodes to the header the probe saw. Sanitizers catch every read out of bounds.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "cli/core/CliError.h"
#include "cli/png/PngDecoder.h"
#include "cli/png/PngProbe.h"

namespace {

[[noreturn]] void fault(const char *what)
{
    std::fprintf(stderr, "png reader fuzzer: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace framemeld::cli::png;
    static PngDecoder decoder; // reused, as a worker thread does

    const PngProbe probe = probePngBytes(data, size);
    int rows = 0;
    long long checksum = 0;
    try {
        const PngInfo info =
            decoder.decodeBytes(data, size, "input.png", [&](int y, const void *row) {
                if (y != rows++) {
                    fault("rows out of order");
                }
                checksum += *static_cast<const std::uint8_t *>(row); // the row must be readable
            });
        if (rows != info.height) {
            fault("row count differs from the height");
        }
        if (probe.support != PngSupport::Decodable) {
            fault("decoded a file the probe did not accept");
        }
        if (info.width != probe.info.width || info.height != probe.info.height ||
            info.channels != probe.info.channels || info.bitDepth != probe.info.bitDepth) {
            fault("decoded header differs from the probe's");
        }
    } catch (const framemeld::cli::RunError &) {
        // A refused file; anything else escaping is a finding.
    }
    return checksum == -1 ? 1 : 0;
}
