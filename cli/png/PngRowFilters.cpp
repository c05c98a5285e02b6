#include "cli/png/PngRowFilters.h"

#include <cstdlib>
#include <cstring>

namespace framemeld::cli::png {
namespace {

// The predictor picks whichever neighbour is closest to a + b - c; ties go to a, then b. Written
// with selects only, since its outcome is as good as random on noisy footage.
inline std::uint8_t paethPredictor(int a, int b, int c)
{
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    const int bOrC = pb <= pc ? b : c;
    const int pbOrPc = pb <= pc ? pb : pc;
    return static_cast<std::uint8_t>(pa <= pbOrPc ? a : bOrC);
}

inline std::uint8_t add(std::uint8_t x, int y)
{
    return static_cast<std::uint8_t>(x + y);
}

template <std::size_t B> void unSub(std::uint8_t *row, std::size_t n)
{
    for (std::size_t i = B; i < n; ++i) {
        row[i] = add(row[i], row[i - B]);
    }
}

void unUp(std::uint8_t *row, const std::uint8_t *prev, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        row[i] = add(row[i], prev[i]);
    }
}

template <std::size_t B> void unAverage(std::uint8_t *row, const std::uint8_t *prev, std::size_t n)
{
    for (std::size_t i = 0; i < B; ++i) {
        row[i] = add(row[i], prev[i] >> 1);
    }
    for (std::size_t i = B; i < n; ++i) {
        row[i] = add(row[i], (row[i - B] + prev[i]) >> 1);
    }
}

template <std::size_t B> void unPaeth(std::uint8_t *row, const std::uint8_t *prev, std::size_t n)
{
    for (std::size_t i = 0; i < B; ++i) {
        row[i] = add(row[i], prev[i]);
    }
    for (std::size_t i = B; i < n; i += B) {
        for (std::size_t k = 0; k < B; ++k) {
            row[i + k] =
                add(row[i + k], paethPredictor(row[i + k - B], prev[i + k], prev[i + k - B]));
        }
    }
}

template <std::size_t B>
bool unfilter(int filter, std::uint8_t *row, const std::uint8_t *prev, std::size_t n)
{
    switch (filter) {
    case kFilterNone: return true;
    case kFilterSub: unSub<B>(row, n); return true;
    case kFilterUp: unUp(row, prev, n); return true;
    case kFilterAverage: unAverage<B>(row, prev, n); return true;
    case kFilterPaeth: unPaeth<B>(row, prev, n); return true;
    default: return false;
    }
}

// Sum of the bytes read as signed values, the measure the heuristic minimises.
inline std::uint64_t cost(std::uint8_t v)
{
    return static_cast<std::uint64_t>(v < 128 ? v : 256 - v);
}

// Writes all four predicting filters of one row at once and returns their costs.
template <std::size_t B>
void filterAll(const std::uint8_t *row, const std::uint8_t *prev, std::size_t n, std::uint8_t *sub,
               std::uint8_t *up, std::uint8_t *avg, std::uint8_t *paeth, std::uint64_t *costs)
{
    std::uint64_t cSub = 0, cUp = 0, cAvg = 0, cPaeth = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const int x = row[i];
        const int a = i >= B ? row[i - B] : 0;
        const int b = prev[i];
        const int c = i >= B ? prev[i - B] : 0;
        sub[i] = static_cast<std::uint8_t>(x - a);
        up[i] = static_cast<std::uint8_t>(x - b);
        avg[i] = static_cast<std::uint8_t>(x - ((a + b) >> 1));
        paeth[i] = static_cast<std::uint8_t>(x - paethPredictor(a, b, c));
        cSub += cost(sub[i]);
        cUp += cost(up[i]);
        cAvg += cost(avg[i]);
        cPaeth += cost(paeth[i]);
    }
    costs[kFilterSub] = cSub;
    costs[kFilterUp] = cUp;
    costs[kFilterAverage] = cAvg;
    costs[kFilterPaeth] = cPaeth;
}

template <std::size_t B>
void filterAdaptive(const std::uint8_t *row, const std::uint8_t *prev, std::size_t n,
                    std::uint8_t *out, std::uint8_t *scratch)
{
    std::uint8_t *candidates[5] = {nullptr, scratch, scratch + n, scratch + 2 * n, scratch + 3 * n};
    std::uint64_t costs[5] = {0, 0, 0, 0, 0};
    for (std::size_t i = 0; i < n; ++i) {
        costs[kFilterNone] += cost(row[i]);
    }
    filterAll<B>(row, prev, n, candidates[1], candidates[2], candidates[3], candidates[4], costs);

    int best = kFilterNone;
    for (int f = kFilterSub; f <= kFilterPaeth; ++f) {
        if (costs[f] < costs[best]) {
            best = f;
        }
    }
    out[0] = static_cast<std::uint8_t>(best);
    if (n > 0) {
        std::memcpy(out + 1, best == kFilterNone ? row : candidates[best], n);
    }
}

} // namespace

bool unfilterRow(int filter, std::size_t bytesPerPixel, std::uint8_t *row, const std::uint8_t *prev,
                 std::size_t rowBytes)
{
    switch (bytesPerPixel) {
    case 1: return unfilter<1>(filter, row, prev, rowBytes);
    case 2: return unfilter<2>(filter, row, prev, rowBytes);
    case 3: return unfilter<3>(filter, row, prev, rowBytes);
    case 4: return unfilter<4>(filter, row, prev, rowBytes);
    case 6: return unfilter<6>(filter, row, prev, rowBytes);
    case 8: return unfilter<8>(filter, row, prev, rowBytes);
    default: return false;
    }
}

void filterRowAdaptive(std::size_t bytesPerPixel, const std::uint8_t *row, const std::uint8_t *prev,
                       std::size_t rowBytes, std::uint8_t *out, std::uint8_t *scratch)
{
    switch (bytesPerPixel) {
    case 1: filterAdaptive<1>(row, prev, rowBytes, out, scratch); break;
    case 2: filterAdaptive<2>(row, prev, rowBytes, out, scratch); break;
    case 3: filterAdaptive<3>(row, prev, rowBytes, out, scratch); break;
    case 4: filterAdaptive<4>(row, prev, rowBytes, out, scratch); break;
    case 6: filterAdaptive<6>(row, prev, rowBytes, out, scratch); break;
    default: filterAdaptive<8>(row, prev, rowBytes, out, scratch); break;
    }
}

} // namespace framemeld::cli::png
