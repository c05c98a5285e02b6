// ERR stores into a variable named err in the caller's scope.
#include "AE_Effect.h"
#include "AE_Macros.h"

#if FRAMEMELD_VIOLATE
PF_Err Run(PF_Err (*step)(void))
{
    PF_Err result = PF_Err_NONE;
    ERR(step());
    return result;
}
#else
PF_Err Run(PF_Err (*step)(void))
{
    PF_Err err = PF_Err_NONE;
    ERR(step());
    return err;
}
#endif
