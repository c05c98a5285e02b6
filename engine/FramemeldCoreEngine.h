// The consensus engine: each sample is rated by how many others agree with it, and the output is
// the mean of the samples rated within the rating range of the best.
#pragma once

#include "engine/FramemeldEngine.h"

template <typename P> class FramemeldCoreEngine : public FramemeldEngine<P> {
public:
    FramemeldCoreEngine() = default;
    ~FramemeldCoreEngine() override;

    void process(FramemeldParameter *parameter, PixelString<P> *samples, P *out) override;
};

extern template class FramemeldCoreEngine<Pixel<unsigned char>>;
extern template class FramemeldCoreEngine<Pixel<float>>;
