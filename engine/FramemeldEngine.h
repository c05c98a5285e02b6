// The consensus engine's interface: one consensus pixel from one pixel string.
#pragma once

#include "engine/FramemeldParameter.h"
#include "engine/Pixel.h"
#include "engine/PixelString.h"

// P is Pixel<unsigned char> (the 8-bit engine, bitDepth 0) or Pixel<float> (the float engine,
// bitDepth 2, which also serves 16-bit footage). One engine serves a whole render and is called
// from many threads at once, so implementations keep no state between calls.
template <typename P> class FramemeldEngine {
public:
    virtual ~FramemeldEngine() = default;

    // Reads elements 0 .. parameter->frameCount - 1 of samples and writes all four components of
    // *out. Changes neither the record nor the string. Throws std::bad_alloc, before *out is
    // written, when its working memory cannot be allocated.
    virtual void process(FramemeldParameter *parameter, PixelString<P> *samples, P *out) = 0;

    // A new engine of this pixel type; the caller deletes it through this base pointer.
    static FramemeldEngine<P> *create();

    FramemeldEngine(const FramemeldEngine &) = delete;
    FramemeldEngine &operator=(const FramemeldEngine &) = delete;

protected:
    FramemeldEngine() = default;
};

// Defined with the core engine; only these two pixel types have an engine.
template <> FramemeldEngine<Pixel<unsigned char>> *FramemeldEngine<Pixel<unsigned char>>::create();
template <> FramemeldEngine<Pixel<float>> *FramemeldEngine<Pixel<float>>::create();
