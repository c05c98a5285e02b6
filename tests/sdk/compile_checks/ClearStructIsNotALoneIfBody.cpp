// AEFX_CLR_STRUCT brings its own semicolon, so it cannot be the unbraced body of an if with an
// else.
#include "AE_Effect.h"
#include "AE_Macros.h"

void Reset(PF_ParamDef &def, bool clear)
{
#if FRAMEMELD_VIOLATE
    if (clear)
        AEFX_CLR_STRUCT(def);
    else
        def.flags = 0;
#else
    if (clear) {
        AEFX_CLR_STRUCT(def);
    } else {
        def.flags = 0;
    }
#endif
}
