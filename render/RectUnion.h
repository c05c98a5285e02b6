// Rectangle helpers for the pre-render's output rectangles.
#pragma once

#include "AE_Effect.h"

// True when the rectangle covers no pixel.
bool IsEmptyRect(const PF_LRect *r);

// Grows `dst` to cover `src`. An empty `dst` becomes a copy of `src` (even an empty one), so a
// host that leaves its output rectangles empty gets the answer of the checkout unchanged.
void UnionLRect(const PF_LRect *src, PF_LRect *dst);
