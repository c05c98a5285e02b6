#include "cli/oiio/FileContent.h"

#include <fcntl.h>
#include <unistd.h>

#include <OpenImageIO/imageio.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "cli/core/CliError.h"
#include "cli/oiio/movie/MovieContainer.h"

namespace framemeld::cli::oiio {
namespace {

// Enough for every signature below (DICOM's lies at byte 128); a frame opened band by band is
// weighed each time, so this is all a still costs.
constexpr std::size_t kSignatureBytes = 4096;
// Enough for FFmpeg's demuxers to be sure of a container (an MPEG transport stream is known by
// many packets in step).
constexpr std::size_t kHeadBytes = 64 * 1024;

// Reads up to `size` bytes from the file's position into `bytes`; returns how many (closes the
// file and throws RunError naming `path` when it cannot).
std::size_t readUpTo(int fd, const std::string &path, unsigned char *bytes, std::size_t size)
{
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, bytes + got, size - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            throw RunError(path + ": cannot read it (" + std::strerror(error) + ")");
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return got;
}

struct Signature {
    const char *reader;
    std::size_t at;
    const char *bytes;
    std::size_t size;
};

// Signatures of the still formats OpenImageIO reads.
const Signature kSignatures[] = {
    {"openexr", 0, "\x76\x2f\x31\x01", 4},
    {"png", 0, "\x89PNG\r\n\x1a\n", 8},
    {"tiff", 0, "II*\0", 4},
    {"tiff", 0, "MM\0*", 4},
    {"tiff", 0, "II+\0", 4}, // BigTIFF
    {"tiff", 0, "MM\0+", 4},
    {"dpx", 0, "SDPX", 4},
    {"dpx", 0, "XPDS", 4},
    {"cineon", 0, "\x80\x2a\x5f\xd7", 4},
    {"cineon", 0, "\xd7\x5f\x2a\x80", 4},
    {"jpeg", 0, "\xff\xd8\xff", 3},
    {"jpeg2000", 0, "\x00\x00\x00\x0cjP  \r\n\x87\n", 12},
    {"jpeg2000", 0, "\xff\x4f\xff\x51", 4},
    {"bmp", 0, "BM", 2},
    {"gif", 0, "GIF87a", 6},
    {"gif", 0, "GIF89a", 6},
    {"psd", 0, "8BPS", 4},
    {"hdr", 0, "#?RADIANCE", 10},
    {"hdr", 0, "#?RGBE", 6},
    {"sgi", 0, "\x01\xda", 2},
    {"fits", 0, "SIMPLE  =", 9},
    {"softimage", 0, "\x53\x80\xf6\x34", 4},
    {"dds", 0, "DDS ", 4},
    {"iff", 0, "FOR4", 4},
    {"ico", 0, "\x00\x00\x01\x00", 4},
    {"zfile", 0, "\xab\x67\x08\x2f", 4},
    {"zfile", 0, "\x2f\x08\x67\xab", 4},
    {"dicom", 128, "DICM", 4},
};

bool startsWith(const unsigned char *bytes, std::size_t size, const Signature &signature)
{
    return size >= signature.at + signature.size &&
           std::memcmp(bytes + signature.at, signature.bytes, signature.size) == 0;
}

// WebP and the HEIF family share containers with other formats: RIFF ... WEBP, and an ISO box
// "ftyp" whose brand is an image one (a movie's is not).
std::string containerStill(const unsigned char *bytes, std::size_t size)
{
    if (size >= 12 && std::memcmp(bytes, "RIFF", 4) == 0 &&
        std::memcmp(bytes + 8, "WEBP", 4) == 0) {
        return "webp";
    }
    if (size >= 12 && std::memcmp(bytes + 4, "ftyp", 4) == 0) {
        static const char *const kImageBrands[] = {"heic", "heix", "heim", "heis",
                                                   "mif1", "msf1", "avif", "avis"};
        for (const char *brand : kImageBrands) {
            if (std::memcmp(bytes + 8, brand, 4) == 0) {
                return "heif";
            }
        }
    }
    // PNM: P1 to P7, Pf and PF, then white space.
    if (size >= 3 && bytes[0] == 'P' &&
        ((bytes[1] >= '1' && bytes[1] <= '7') || bytes[1] == 'f' || bytes[1] == 'F') &&
        (bytes[2] == '\n' || bytes[2] == '\r' || bytes[2] == ' ' || bytes[2] == '\t')) {
        return "pnm";
    }
    return {};
}

// Formats with no signature of their own, known by their extension alone.
bool hasNoSignature(const std::string &reader)
{
    return reader == "targa" || reader == "rla" || reader == "openvdb" || reader == "ptex";
}

} // namespace

std::string stillReaderBySignature(const unsigned char *bytes, std::size_t size)
{
    for (const Signature &signature : kSignatures) {
        if (startsWith(bytes, size, signature)) {
            return signature.reader;
        }
    }
    return containerStill(bytes, size);
}

FileContent weighFileContent(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw RunError(path + ": cannot open it (" + std::strerror(errno) + ")");
    }
    std::vector<unsigned char> head(kHeadBytes);
    std::size_t got = readUpTo(fd, path, head.data(), kSignatureBytes);

    // Camera raw files are TIFF inside; their own reader (by extension) develops them.
    const std::unique_ptr<OIIO::ImageInput> byName = OIIO::ImageInput::create(path, false);
    const std::string named = byName ? byName->format_name() : "";
    OIIO::geterror(); // no reader for the extension is no error here

    FileContent content;
    content.reader = named == "raw" ? named : stillReaderBySignature(head.data(), got);
    if (!content.reader.empty()) {
        ::close(fd);
        content.kind = ContentKind::Still;
        return content;
    }
    if (got == kSignatureBytes) {
        got += readUpTo(fd, path, head.data() + got, kHeadBytes - got);
    }
    ::close(fd);
    if (movie::isMovieContent(head.data(), got)) {
        content.kind = ContentKind::Movie;
        return content;
    }
    // A format without a signature is taken by the reader its extension names, that one alone.
    if (hasNoSignature(named)) {
        content.kind = ContentKind::Still;
        content.reader = named;
    }
    return content;
}

} // namespace framemeld::cli::oiio
