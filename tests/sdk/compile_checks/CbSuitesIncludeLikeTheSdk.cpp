// AE_EffectCBSuites.h alone, as code written against the host's headers includes it: the pixel
// formats and the basic suite come with it there, so they must here.
#include "AE_EffectCBSuites.h"

PF_PixelFormat deepestFormat()
{
    return PF_PixelFormat_ARGB128;
}

SPErr acquireNothing(SPBasicSuite *basic)
{
    return basic == nullptr ? kSPBadParameterError : kSPNoError;
}
