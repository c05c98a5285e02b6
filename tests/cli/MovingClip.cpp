#include "MovingClip.h"

#include <fstream>
#include <iterator>
#include <random>
#include <regex>

namespace framemeld::cli::test {
namespace {

using movingclip::kHeight;
using movingclip::kMargin;
using movingclip::kWidth;

std::size_t index(long long value)
{
    return static_cast<std::size_t>(value);
}

// A scene larger than the frame with texture at several scales (what registration needs), from
// which each frame is cut at a whole-pixel offset, so a shift is exact and the warp copies.
class Scene {
public:
    Scene() : width_(kWidth + 2 * kMargin), height_(kHeight + 2 * kMargin)
    {
        std::mt19937 random(28);
        std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
        values_.assign(index(width_) * index(height_) * 3, 0.0f);
        for (const int cell : {24, 8, 3}) {
            const int cw = width_ / cell + 2;
            const int ch = height_ / cell + 2;
            std::vector<float> grid(index(cw) * index(ch) * 3);
            for (float &g : grid) {
                g = uniform(random);
            }
            const float weight = cell == 24 ? 0.5f : cell == 8 ? 0.3f : 0.2f;
            for (int y = 0; y < height_; ++y) {
                for (int x = 0; x < width_; ++x) {
                    const float fx = static_cast<float>(x) / static_cast<float>(cell);
                    const float fy = static_cast<float>(y) / static_cast<float>(cell);
                    const int gx = static_cast<int>(fx);
                    const int gy = static_cast<int>(fy);
                    const float tx = fx - static_cast<float>(gx);
                    const float ty = fy - static_cast<float>(gy);
                    for (int c = 0; c < 3; ++c) {
                        const auto at = [&](int i, int j) {
                            return grid[index((static_cast<long long>(j) * cw + i) * 3 + c)];
                        };
                        const float v = (1 - ty) * ((1 - tx) * at(gx, gy) + tx * at(gx + 1, gy)) +
                                        ty * ((1 - tx) * at(gx, gy + 1) + tx * at(gx + 1, gy + 1));
                        values_[index((static_cast<long long>(y) * width_ + x) * 3 + c)] +=
                            weight * v;
                    }
                }
            }
        }
    }

    // The frame whose top-left pixel is scene pixel (kMargin + dx, kMargin + dy): the camera
    // moved by (dx, dy), so the scene moves by (-dx, -dy) in the frame.
    std::vector<float> frame(int dx, int dy) const
    {
        std::vector<float> out;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                for (int c = 0; c < 3; ++c) {
                    out.push_back(values_[index(
                        (static_cast<long long>(y + kMargin + dy) * width_ + x + kMargin + dx) * 3 +
                        c)]);
                }
            }
        }
        return out;
    }

private:
    int width_;
    int height_;
    std::vector<float> values_;
};

// Whether frame pixel (x, y) of a frame cut at `shift` shows the box.
bool onBox(const Shift &shift, int x, int y)
{
    const int sx = x + kMargin + shift.dx;
    const int sy = y + kMargin + shift.dy;
    return sx >= movingclip::kBoxX && sx < movingclip::kBoxX + movingclip::kBoxWidth &&
           sy >= movingclip::kBoxY && sy < movingclip::kBoxY + movingclip::kBoxHeight;
}

} // namespace

void writeMovingClip(const TempDir &dir, const std::vector<Shift> &shifts,
                     const std::vector<bool> &boxInFrame)
{
    static const Scene scene;
    for (std::size_t f = 0; f < shifts.size(); ++f) {
        std::vector<float> values = scene.frame(shifts[f].dx, shifts[f].dy);
        if (f < boxInFrame.size() && boxInFrame[f]) {
            for (int y = 0; y < kHeight; ++y) {
                for (int x = 0; x < kWidth; ++x) {
                    if (onBox(shifts[f], x, y)) {
                        float *pixel = &values[index((static_cast<long long>(y) * kWidth + x) * 3)];
                        pixel[0] = 0.9f;
                        pixel[1] = 0.1f;
                        pixel[2] = 0.8f;
                    }
                }
            }
        }
        writeImage(dir.file("shot." + std::to_string(f) + ".png"), kWidth, kHeight, 3,
                   OIIO::TypeDesc::UINT8, OIIO::TypeDesc::FLOAT, values.data());
    }
}

void writeBoxMattes(const TempDir &dir, const std::vector<Shift> &shifts,
                    const std::vector<bool> &boxInFrame)
{
    for (std::size_t f = 0; f < shifts.size(); ++f) {
        std::vector<unsigned char> matte(index(kWidth) * index(kHeight), 0);
        for (int y = 0; f < boxInFrame.size() && boxInFrame[f] && y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                if (onBox(shifts[f], x, y)) {
                    matte[index(static_cast<long long>(y) * kWidth + x)] = 255;
                }
            }
        }
        writeImage(dir.file("matte." + std::to_string(f) + ".png"), kWidth, kHeight, 1,
                   OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8, matte.data());
    }
}

std::string fileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::vector<double>> transformsOf(const std::string &json)
{
    std::vector<std::vector<double>> transforms;
    const std::regex matrix("\"frame_to_reference\": \\[([^\\]]*)\\]");
    for (auto it = std::sregex_iterator(json.begin(), json.end(), matrix);
         it != std::sregex_iterator(); ++it) {
        std::vector<double> values;
        std::string list = (*it)[1];
        std::size_t at = 0;
        while (at < list.size()) {
            std::size_t used = 0;
            values.push_back(std::stod(list.substr(at), &used));
            at += used;
            while (at < list.size() && (list[at] == ',' || list[at] == ' ')) {
                ++at;
            }
        }
        transforms.push_back(values);
    }
    return transforms;
}

const std::vector<Shift> kHandheld = {{0, 0}, {3, -2},  {-4, 1}, {2, 4}, {-1, -3},
                                      {5, 2}, {-3, -4}, {1, 3},  {-2, 0}};

} // namespace framemeld::cli::test
