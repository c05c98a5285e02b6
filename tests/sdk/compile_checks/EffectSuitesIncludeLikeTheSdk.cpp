// AE_EffectSuites.h alone brings the basic suite's definition, as the host's header does: a
// forward declaration from AE_Effect.h is not enough to name its version or call it.
#include "AE_EffectSuites.h"

SPErr acquireBasic(SPBasicSuite *basic, const void **suite)
{
    return basic->AcquireSuite(kSPBasicSuite, kSPBasicSuiteVersion, suite);
}
