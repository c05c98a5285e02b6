// One pixel as the consensus engine sees it.
#pragma once

// Components are red, green, blue, alpha in that order: alpha comes last, unlike the host's
// pixels, which begin with alpha, so the render reorders on the way in and out. T is
// unsigned char (0..255) or float (1.0 is full scale; values outside 0..1 are carried unchanged).
// 16-bit footage travels as float. A value-initialised pixel is transparent black.
template <typename T> struct Pixel {
    T red;
    T green;
    T blue;
    T alpha;
};
