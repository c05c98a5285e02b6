// PF_GET_PIXEL_DATA16 reaches the host through a variable named in_data in the caller's scope.
#include "AE_EffectCB.h"

#if FRAMEMELD_VIOLATE
PF_Err First(PF_InData *host, PF_EffectWorld *world, PF_Pixel16 **first)
{
    (void)host;
    return PF_GET_PIXEL_DATA16(world, nullptr, first);
}
#else
PF_Err First(PF_InData *in_data, PF_EffectWorld *world, PF_Pixel16 **first)
{
    return PF_GET_PIXEL_DATA16(world, nullptr, first);
}
#endif
