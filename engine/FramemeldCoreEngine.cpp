#include "engine/FramemeldCoreEngine.h"

#include "engine/ConsensusPass.h"
#include "engine/RatingKernels.h"

template <typename P> FramemeldCoreEngine<P>::~FramemeldCoreEngine() = default;

template <typename P>
void FramemeldCoreEngine<P>::process(FramemeldParameter *parameter, PixelString<P> *samples, P *out)
{
    // Computed whole before *out is touched, so an allocation failure leaves the result as it was.
    *out =
        framemeld::consensus::consensusOf(framemeld::rating::bestKernels(), *parameter, *samples);
}

template class FramemeldCoreEngine<Pixel<unsigned char>>;
template class FramemeldCoreEngine<Pixel<float>>;

template <> FramemeldEngine<Pixel<unsigned char>> *FramemeldEngine<Pixel<unsigned char>>::create()
{
    return new FramemeldCoreEngine<Pixel<unsigned char>>();
}

template <> FramemeldEngine<Pixel<float>> *FramemeldEngine<Pixel<float>>::create()
{
    return new FramemeldCoreEngine<Pixel<float>>();
}
