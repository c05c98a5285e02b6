// decode_floor: the bare decode of footage, the floor that reading into the host's worlds cannot
// beat. The same libraries the tool reads with (its own PNG codec on libdeflate; OpenImageIO for
// other image files; FFmpeg's libraries for movies), the same number of threads, one frame per
// thread at a time as the tool does for sequences (a movie in one pass on the codec's threads),
// and every frame decoded in the file's own sample type into one buffer per thread that is
// reused, so its pages are touched once: no conversion, nothing kept.
//
// usage: decode_floor [--threads N] [--oiio-threads N] [--exr-threads N] FILE...   (a sequence)
//        decode_floor [--threads N] MOVIE   (every frame, one pass on the codec's threads)
// Prints one line: frames, seconds, frames per second.

#include <OpenImageIO/imageio.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cli/files/FileHandle.h"
#include "cli/png/PngDecoder.h"

namespace {

bool endsWith(const std::string &text, const std::string &suffix)
{
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool isMovie(const std::string &path)
{
    for (const char *extension : {".mov", ".mp4", ".mkv", ".avi", ".mxf"}) {
        if (endsWith(path, extension)) {
            return true;
        }
    }
    return false;
}

// The tool's own PNG path: the whole file read, inflated and unfiltered.
void decodePng(const std::string &path, framemeld::cli::png::PngDecoder &decoder,
               std::vector<std::uint8_t> &file)
{
    framemeld::cli::UniqueFile handle(std::fopen(path.c_str(), "rb"));
    if (!handle) {
        throw std::runtime_error(path + ": cannot open");
    }
    const std::string failure = framemeld::cli::readWholeFile(handle.get(), file);
    if (!failure.empty()) {
        throw std::runtime_error(path + ": " + failure);
    }
    // Rows are unfiltered in place in the decoder's own reused buffer: that is the decode.
    decoder.decodeBytes(file.data(), file.size(), path, [](int, const void *) {});
}

void decodeOiio(const std::string &path, std::vector<unsigned char> &pixels)
{
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto input = OIIO::ImageInput::open(path, &config);
    if (!input) {
        throw std::runtime_error(path + ": " + OIIO::geterror());
    }
    const OIIO::ImageSpec &spec = input->spec();
    const std::size_t bytes = spec.image_bytes(true);
    if (pixels.size() < bytes) {
        pixels.resize(bytes);
    }
    if (!input->read_image(0, 0, 0, spec.nchannels, spec.format, pixels.data())) {
        throw std::runtime_error(path + ": " + input->geterror());
    }
}

// Every picture of the movie's first video stream in one forward pass, on the codec's own frame
// and slice threads as the tool decodes it; the pictures stay in the codec's own format (no
// conversion to RGB) and are dropped as they come.
int decodeMovie(const std::string &path, int threads)
{
    AVFormatContext *opened = nullptr;
    if (avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0) {
        throw std::runtime_error(path + ": cannot open the movie");
    }
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext *)> container(
        opened, [](AVFormatContext *c) { avformat_close_input(&c); });
    if (avformat_find_stream_info(container.get(), nullptr) < 0) {
        throw std::runtime_error(path + ": no stream information");
    }
    const AVCodec *codec = nullptr;
    const int stream = av_find_best_stream(container.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (stream < 0 || codec == nullptr) {
        throw std::runtime_error(path + ": no video stream FFmpeg can decode");
    }
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext *)> decoder(
        avcodec_alloc_context3(codec), [](AVCodecContext *c) { avcodec_free_context(&c); });
    avcodec_parameters_to_context(decoder.get(), container->streams[stream]->codecpar);
    decoder->thread_count = std::min(threads, 16); // the tool's own limit
    decoder->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0) {
        throw std::runtime_error(path + ": the decoder does not open");
    }
    std::unique_ptr<AVPacket, void (*)(AVPacket *)> packet(av_packet_alloc(),
                                                           [](AVPacket *p) { av_packet_free(&p); });
    std::unique_ptr<AVFrame, void (*)(AVFrame *)> picture(av_frame_alloc(),
                                                          [](AVFrame *f) { av_frame_free(&f); });
    int frames = 0;
    auto drain = [&] {
        while (avcodec_receive_frame(decoder.get(), picture.get()) == 0) {
            ++frames;
            av_frame_unref(picture.get());
        }
    };
    while (av_read_frame(container.get(), packet.get()) >= 0) {
        if (packet->stream_index == stream) {
            avcodec_send_packet(decoder.get(), packet.get());
            drain();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(decoder.get(), nullptr);
    drain();
    return frames;
}

} // namespace

int main(int argc, char **argv)
{
    int threads = static_cast<int>(std::thread::hardware_concurrency());
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--threads" && i + 1 < argc) {
            threads = std::atoi(argv[++i]);
        } else if (arg == "--oiio-threads" && i + 1 < argc) {
            OIIO::attribute("threads", std::atoi(argv[++i]));
        } else if (arg == "--exr-threads" && i + 1 < argc) {
            OIIO::attribute("exr_threads", std::atoi(argv[++i]));
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty() || threads < 1) {
        std::fputs("usage: decode_floor [--threads N] [--oiio-threads N] FILE...\n", stderr);
        return 2;
    }

    const auto start = std::chrono::steady_clock::now();
    int frames = 0;
    try {
        if (files.size() == 1 && isMovie(files.front())) {
            frames = decodeMovie(files.front(), threads);
        } else {
            std::atomic<std::size_t> next{0};
            std::atomic<bool> failed{false};
            auto work = [&] {
                framemeld::cli::png::PngDecoder pngDecoder;
                std::vector<std::uint8_t> file;
                std::vector<unsigned char> pixels;
                for (std::size_t i = next++; i < files.size() && !failed; i = next++) {
                    try {
                        if (endsWith(files[i], ".png")) {
                            decodePng(files[i], pngDecoder, file);
                        } else {
                            decodeOiio(files[i], pixels);
                        }
                    } catch (const std::exception &error) {
                        std::fprintf(stderr, "decode_floor: %s\n", error.what());
                        failed = true;
                    }
                }
            };
            std::vector<std::thread> pool;
            for (int t = 1; t < threads; ++t) {
                pool.emplace_back(work);
            }
            work();
            for (std::thread &thread : pool) {
                thread.join();
            }
            if (failed) {
                return 1;
            }
            frames = static_cast<int>(files.size());
        }
    } catch (const std::exception &error) {
        std::fprintf(stderr, "decode_floor: %s\n", error.what());
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("decode_floor: %d frames in %.3f s, %.1f frames/s\n", frames, seconds,
                frames / seconds);
    return 0;
}
