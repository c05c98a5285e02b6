// A user cancel is PF_Interrupt_CANCEL; the SDK has no PF_Err_INTERRUPT_CANCEL.
#include "AE_Effect.h"

#if FRAMEMELD_VIOLATE
PF_Err Cancelled()
{
    return PF_Err_INTERRUPT_CANCEL;
}
#else
PF_Err Cancelled()
{
    return PF_Interrupt_CANCEL;
}
#endif
