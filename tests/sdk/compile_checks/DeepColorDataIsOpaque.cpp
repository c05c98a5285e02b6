// With PF_DEEP_COLOR_AWARE a world's data is no longer an 8-bit pixel pointer.
#if FRAMEMELD_VIOLATE
#define PF_DEEP_COLOR_AWARE 1
#endif
#include "AE_Effect.h"

PF_Pixel8 *First(PF_EffectWorld *world)
{
    return world->data;
}
