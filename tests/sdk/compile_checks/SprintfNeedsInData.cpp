// PF_SPRINTF reaches the host through a variable named in_data in the caller's scope.
#include "AE_EffectCB.h"

#if FRAMEMELD_VIOLATE
int Report(PF_InData *host, A_char *message)
{
    (void)host;
    return PF_SPRINTF(message, "%d", 1);
}
#else
int Report(PF_InData *in_data, A_char *message)
{
    return PF_SPRINTF(message, "%d", 1);
}
#endif
