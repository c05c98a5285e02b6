#pragma once
// PNG's five row filters, both ways. Rows are raw bytes (16-bit samples big-endian, as stored);
// `prev` is the previous row's raw bytes, all zeros for the first row. Bytes per pixel is one of
// 1, 2, 3, 4, 6, 8 and the row length a whole number of pixels.

#include <cstddef>
#include <cstdint>

namespace framemeld::cli::png {

enum RowFilter : std::uint8_t {
    kFilterNone = 0,
    kFilterSub = 1,
    kFilterUp = 2,
    kFilterAverage = 3,
    kFilterPaeth = 4
};

// Turns the filtered bytes in `row` back into raw bytes. False for a filter byte that is none of
// the five (the row is then left as it was).
bool unfilterRow(int filter, std::size_t bytesPerPixel, std::uint8_t *row, const std::uint8_t *prev,
                 std::size_t rowBytes);

// Filters `row` with the filter whose output has the smallest sum of absolute signed bytes (the
// usual heuristic, which keeps deflate's input low in entropy) and writes the filter byte then
// the filtered bytes to `out` (rowBytes + 1 bytes). `scratch` holds 4 * rowBytes bytes.
void filterRowAdaptive(std::size_t bytesPerPixel, const std::uint8_t *row, const std::uint8_t *prev,
                       std::size_t rowBytes, std::uint8_t *out, std::uint8_t *scratch);

} // namespace framemeld::cli::png
