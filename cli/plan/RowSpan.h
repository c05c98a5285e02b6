#pragma once
// A band of the plate's rows: what one render-farm node renders (--rows) and what a strip record
// says it holds.

namespace framemeld::cli {

// Rows [top, bottom) of the plate.
struct RowSpan {
    int top = 0;
    int bottom = 0;
};

} // namespace framemeld::cli
