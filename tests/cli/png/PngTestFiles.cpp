#include "PngTestFiles.h"

#include "cli/files/FileHandle.h"

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace framemeld::cli::png::test {
namespace {

std::uint32_t bigEndian32(const std::uint8_t *p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

void appendBigEndian32(std::vector<std::uint8_t> &out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(v >> shift));
    }
}

int colourTypeFor(int channels)
{
    switch (channels) {
    case 1: return PNG_COLOR_TYPE_GRAY;
    case 2: return PNG_COLOR_TYPE_GRAY_ALPHA;
    case 3: return PNG_COLOR_TYPE_RGB;
    default: return PNG_COLOR_TYPE_RGB_ALPHA;
    }
}

// A 132-byte ICC header with no tags: the least libpng accepts as a profile.
std::vector<std::uint8_t> minimalIccProfile(bool grey)
{
    std::vector<std::uint8_t> p(132, 0);
    auto put = [&](std::size_t at, const char *text) { std::memcpy(p.data() + at, text, 4); };
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            p[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
        }
    };
    put32(0, 132);
    put32(8, 0x02100000);
    put(12, "mntr");
    put(16, grey ? "GRAY" : "RGB ");
    put(20, "XYZ ");
    put(36, "acsp");
    put32(68, 0x0000F6D6); // D50 white
    put32(72, 0x00010000);
    put32(76, 0x0000D32D);
    return p;
}

struct Sink {
    std::vector<std::uint8_t> *out;
};

void writeToVector(png_structp png, png_bytep data, png_size_t size)
{
    auto *sink = static_cast<Sink *>(png_get_io_ptr(png));
    sink->out->insert(sink->out->end(), data, data + size);
}
void flushNothing(png_structp) {}

// libpng reports errors with longjmp; everything that must be cleaned up lives outside this
// function, so the jump skips no destructor.
bool runLibpngEncode(const Image &image, const LibpngOptions &options, png_bytepp rows,
                     const std::vector<std::uint8_t> &icc, Sink *sink)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, sink, writeToVector, flushNothing);
    png_set_compression_buffer_size(png, options.idatBufferSize);
    if (options.filters >= 0) {
        png_set_filter(png, PNG_FILTER_TYPE_BASE, options.filters);
    }

    int colourType = colourTypeFor(image.channels);
    int bitDepth = image.bitDepth;
    if (options.palette) {
        colourType = PNG_COLOR_TYPE_PALETTE;
    } else if (options.lowBitDepth != 0) {
        bitDepth = options.lowBitDepth;
    }
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
                 static_cast<png_uint_32>(image.height), bitDepth, colourType,
                 options.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_color palette[256];
    if (options.palette) {
        for (int i = 0; i < 256; ++i) {
            palette[i] = png_color{static_cast<png_byte>(i), static_cast<png_byte>(255 - i),
                                   static_cast<png_byte>(i / 2)};
        }
        png_set_PLTE(png, info, palette, 256);
    }
    if (options.extras & kGamma) {
        png_set_gAMA(png, info, 1.0 / 2.2);
        png_set_cHRM(png, info, 0.3127, 0.3290, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06);
    }
    if (options.extras & kSrgb) {
        png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    }
    if (options.extras & kIccProfile) {
        png_set_iCCP(png, info, "test profile", PNG_COMPRESSION_TYPE_BASE, icc.data(),
                     static_cast<png_uint_32>(icc.size()));
    }
    png_text texts[3];
    if (options.extras & kText) {
        char keyA[] = "Comment", keyB[] = "Description", keyC[] = "Title";
        char textA[] = "plain text", textB[] = "compressed text compressed text",
             textC[] = "international";
        texts[0] = png_text{PNG_TEXT_COMPRESSION_NONE, keyA, textA, 0, 0, nullptr, nullptr};
        texts[1] = png_text{PNG_TEXT_COMPRESSION_zTXt, keyB, textB, 0, 0, nullptr, nullptr};
        texts[2] = png_text{PNG_ITXT_COMPRESSION_NONE, keyC, textC, 0, 0, nullptr, nullptr};
        png_set_text(png, info, texts, 3);
    }
    if (options.extras & kSignificantBits) {
        png_color_8 bits{};
        const auto b = static_cast<png_byte>(bitDepth - 2);
        bits.red = bits.green = bits.blue = bits.gray = bits.alpha = b;
        png_set_sBIT(png, info, &bits);
    }
    png_unknown_chunk privateChunks[2];
    if (options.extras & kPrivateChunk) {
        static png_byte payload[] = {1, 2, 3, 4, 5};
        std::memcpy(privateChunks[0].name, "prVt", 5);
        privateChunks[0].data = payload;
        privateChunks[0].size = sizeof payload;
        privateChunks[0].location = PNG_HAVE_IHDR;
        privateChunks[1] = privateChunks[0];
        privateChunks[1].location = PNG_AFTER_IDAT;
        png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS, nullptr, 0);
        png_set_unknown_chunks(png, info, privateChunks, 2);
    }
    if (options.extras & kTransparency) {
        png_color_16 colour{};
        png_byte alpha[1] = {0};
        png_set_tRNS(png, info, options.palette ? alpha : nullptr, options.palette ? 1 : 0,
                     options.palette ? nullptr : &colour);
    }
    png_write_info(png, info);
    if (bitDepth < 8) {
        png_set_packing(png);
    }
    if (options.interlaced) {
        png_set_interlace_handling(png);
    }
    png_write_image(png, rows);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

// Rows as stored (16-bit big-endian), without any transform; same longjmp rule as above.
bool runLibpngDecode(std::FILE *file, Image *image, std::vector<std::uint8_t> *raw,
                     std::vector<png_bytep> *rows)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    image->width = static_cast<int>(png_get_image_width(png, info));
    image->height = static_cast<int>(png_get_image_height(png, info));
    image->channels = png_get_channels(png, info);
    image->bitDepth = png_get_bit_depth(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    raw->resize(rowBytes * static_cast<std::size_t>(image->height));
    rows->resize(static_cast<std::size_t>(image->height));
    for (std::size_t y = 0; y < rows->size(); ++y) {
        (*rows)[y] = raw->data() + y * rowBytes;
    }
    png_read_image(png, rows->data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

} // namespace

ScratchDir::ScratchDir()
{
    std::string pattern =
        (std::filesystem::temp_directory_path() / "framemeld-png-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

Image makeImage(int width, int height, int channels, int bitDepth, unsigned seed)
{
    Image image{width, height, channels, bitDepth, {}};
    std::mt19937 random(seed);
    const int maxValue = bitDepth == 16 ? 65535 : 255;
    std::uniform_int_distribution<int> noise(-maxValue / 16, maxValue / 16);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < channels; ++c) {
                const int base = (x * 37 + y * 11 + c * 70) * (maxValue / 255) % (maxValue + 1);
                const int value = base + noise(random);
                image.samples.push_back(static_cast<std::uint16_t>(
                    value < 0 ? 0 : (value > maxValue ? maxValue : value)));
            }
        }
    }
    // The extremes, where wrap-around mistakes show.
    image.samples.front() = static_cast<std::uint16_t>(maxValue);
    image.samples.back() = 0;
    return image;
}

std::vector<std::uint8_t> encodeWithLibpng(const Image &image, const LibpngOptions &options)
{
    const std::size_t rowSamples =
        static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.channels);
    const int bytes = image.bitDepth == 16 ? 2 : 1;
    std::vector<std::uint8_t> raw(rowSamples * static_cast<std::size_t>(bytes) *
                                  static_cast<std::size_t>(image.height));
    for (std::size_t i = 0; i < image.samples.size(); ++i) {
        std::uint16_t v = image.samples[i];
        if (options.lowBitDepth != 0) {
            v = static_cast<std::uint16_t>(v & ((1 << options.lowBitDepth) - 1));
        }
        if (bytes == 2) {
            raw[2 * i] = static_cast<std::uint8_t>(v >> 8);
            raw[2 * i + 1] = static_cast<std::uint8_t>(v);
        } else {
            raw[i] = static_cast<std::uint8_t>(v);
        }
    }
    std::vector<png_bytep> rows(static_cast<std::size_t>(image.height));
    for (std::size_t y = 0; y < rows.size(); ++y) {
        rows[y] = raw.data() + y * rowSamples * static_cast<std::size_t>(bytes);
    }
    const std::vector<std::uint8_t> icc = minimalIccProfile(image.channels <= 2);
    std::vector<std::uint8_t> out;
    Sink sink{&out};
    if (!runLibpngEncode(image, options, rows.data(), icc, &sink)) {
        throw std::runtime_error("libpng refused to write");
    }
    return out;
}

void writeFile(const std::string &path, const std::vector<std::uint8_t> &bytes)
{
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::vector<std::uint8_t> readFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file),
                                     std::istreambuf_iterator<char>());
}

Image readWithOpenImageIO(const std::string &path)
{
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto input = OIIO::ImageInput::open(path, &config);
    if (!input) {
        throw std::runtime_error("OpenImageIO cannot open " + path + ": " + OIIO::geterror());
    }
    const OIIO::ImageSpec &spec = input->spec();
    Image image{spec.width,
                spec.height,
                spec.nchannels,
                spec.format == OIIO::TypeDesc::UINT16 ? 16 : 8,
                {}};
    image.samples.resize(static_cast<std::size_t>(spec.width) *
                         static_cast<std::size_t>(spec.height) *
                         static_cast<std::size_t>(spec.nchannels));
    if (!input->read_image(0, 0, 0, spec.nchannels, OIIO::TypeDesc::UINT16, image.samples.data())) {
        throw std::runtime_error("OpenImageIO cannot read " + path + ": " + input->geterror());
    }
    if (image.bitDepth == 8) {
        for (auto &v : image.samples) {
            v = static_cast<std::uint16_t>(v / 257); // 8-bit values widen by 257
        }
    }
    return image;
}

Image readWithLibpng(const std::string &path)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        throw std::runtime_error("cannot open " + path);
    }
    Image image;
    std::vector<std::uint8_t> raw;
    std::vector<png_bytep> rows;
    const bool read = runLibpngDecode(file, &image, &raw, &rows);
    std::fclose(file);
    if (!read) {
        throw std::runtime_error("libpng cannot read " + path);
    }
    const std::size_t count = static_cast<std::size_t>(image.width) *
                              static_cast<std::size_t>(image.height) *
                              static_cast<std::size_t>(image.channels);
    for (std::size_t i = 0; i < count; ++i) {
        const int value = image.bitDepth == 16 ? (raw[2 * i] << 8) | raw[2 * i + 1] : raw[i];
        image.samples.push_back(static_cast<std::uint16_t>(value));
    }
    return image;
}

PngBuilder::PngBuilder()
{
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    bytes_.assign(kSignature, kSignature + sizeof kSignature);
}

PngBuilder &PngBuilder::header(std::uint32_t width, std::uint32_t height, int bitDepth,
                               int colourType, int interlace)
{
    std::vector<std::uint8_t> data;
    appendBigEndian32(data, width);
    appendBigEndian32(data, height);
    data.push_back(static_cast<std::uint8_t>(bitDepth));
    data.push_back(static_cast<std::uint8_t>(colourType));
    data.push_back(0);
    data.push_back(0);
    data.push_back(static_cast<std::uint8_t>(interlace));
    return chunk("IHDR", data);
}

PngBuilder &PngBuilder::chunk(const std::string &name, const std::vector<std::uint8_t> &data)
{
    appendBigEndian32(bytes_, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeAt = bytes_.size();
    bytes_.insert(bytes_.end(), name.begin(), name.end());
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    appendBigEndian32(bytes_, libdeflate_crc32(0, bytes_.data() + typeAt, 4 + data.size()));
    return *this;
}

PngBuilder &PngBuilder::imageData(const std::vector<std::uint8_t> &filtered)
{
    return chunk("IDAT", zlibCompress(filtered));
}

std::vector<std::uint8_t> zlibCompress(const std::vector<std::uint8_t> &data)
{
    libdeflate_compressor *compressor = libdeflate_alloc_compressor(6);
    std::vector<std::uint8_t> out(libdeflate_zlib_compress_bound(compressor, data.size()));
    out.resize(
        libdeflate_zlib_compress(compressor, data.data(), data.size(), out.data(), out.size()));
    libdeflate_free_compressor(compressor);
    return out;
}

std::vector<std::size_t> idatLengths(const std::vector<std::uint8_t> &file)
{
    std::vector<std::size_t> lengths;
    for (std::size_t pos = 8; pos + 12 <= file.size();) {
        const std::uint32_t length = bigEndian32(file.data() + pos);
        if (std::memcmp(file.data() + pos + 4, "IDAT", 4) == 0) {
            lengths.push_back(length);
        }
        pos += 12 + length;
    }
    return lengths;
}

std::vector<int> rowFilters(const std::vector<std::uint8_t> &file, int height, std::size_t rowBytes)
{
    std::vector<std::uint8_t> stream;
    for (std::size_t pos = 8; pos + 12 <= file.size();) {
        const std::uint32_t length = bigEndian32(file.data() + pos);
        if (std::memcmp(file.data() + pos + 4, "IDAT", 4) == 0) {
            stream.insert(stream.end(), file.data() + pos + 8, file.data() + pos + 8 + length);
        }
        pos += 12 + length;
    }
    std::vector<std::uint8_t> filtered(static_cast<std::size_t>(height) * (rowBytes + 1));
    libdeflate_decompressor *decompressor = libdeflate_alloc_decompressor();
    const auto result = libdeflate_zlib_decompress(decompressor, stream.data(), stream.size(),
                                                   filtered.data(), filtered.size(), nullptr);
    libdeflate_free_decompressor(decompressor);
    if (result != LIBDEFLATE_SUCCESS) {
        throw std::runtime_error("the image data does not inflate");
    }
    std::vector<int> filters;
    for (int y = 0; y < height; ++y) {
        filters.push_back(filtered[static_cast<std::size_t>(y) * (rowBytes + 1)]);
    }
    return filters;
}

PngInfo decodeFile(PngDecoder &decoder, const std::string &path, const PngRowCallback &onRow)
{
    const std::vector<std::uint8_t> bytes = readFile(path);
    return decoder.decodeBytes(bytes.data(), bytes.size(), path, onRow);
}

void writePngFile(const std::string &path, int width, int height, int channels, int bitDepth,
                  const PngRowSource &rowSource)
{
    UniqueFile file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        throw std::runtime_error("cannot create " + path);
    }
    writePng(file.get(), path, width, height, channels, bitDepth, rowSource);
    if (std::fclose(file.release()) != 0) {
        throw std::runtime_error("cannot close " + path);
    }
}

} // namespace framemeld::cli::png::test
