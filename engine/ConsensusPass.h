// The consensus of one pixel string, computed with a chosen set of rating kernels. The engine's
// process() runs it with the fastest kernels of the processor; the tests run it with every set
// this processor can execute, so that each gives the same bits.
#pragma once

#include "engine/FramemeldParameter.h"
#include "engine/Pixel.h"
#include "engine/PixelString.h"
#include "engine/RatingKernels.h"

namespace framemeld::consensus {

// T is unsigned char (expects bitDepth 0) or float (expects bitDepth 2). Reads elements
// 0 .. frameCount - 1. Throws std::bad_alloc when a long string's working memory cannot be had.
template <typename T>
Pixel<T> consensusOf(const framemeld::rating::RatingKernels &kernels,
                     const FramemeldParameter &parameter, const PixelString<Pixel<T>> &samples);

extern template Pixel<unsigned char> consensusOf(const framemeld::rating::RatingKernels &,
                                                 const FramemeldParameter &,
                                                 const PixelString<Pixel<unsigned char>> &);
extern template Pixel<float> consensusOf(const framemeld::rating::RatingKernels &,
                                         const FramemeldParameter &,
                                         const PixelString<Pixel<float>> &);

} // namespace framemeld::consensus
