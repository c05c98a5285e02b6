// 16-bit host channels (0..32768, 32768 full scale) to and from the float engine's scale (1.0).
#pragma once

#include "AE_Effect.h"

inline float Deep16ToFloat(A_u_short value)
{
    return static_cast<float>(value) * (1.0f / 32768.0f); // exact: a power of two
}

// Clamped to [0, 1] with NaN as 0, then scaled and truncated toward zero.
inline A_u_short FloatToDeep16(float value)
{
    if (!(value > 0.0f)) { // also catches NaN
        return 0;
    }
    if (value >= 1.0f) {
        return 32768;
    }
    return static_cast<A_u_short>(value * 32768.0f);
}
