// SPTypes.h alone brings the error codes, as the host's header does.
#include "SPTypes.h"

SPErr notImplemented()
{
    return kSPUnimplementedError;
}
