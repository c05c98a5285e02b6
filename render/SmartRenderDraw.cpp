// PLACEHOLDER until the render lands: draws nothing.
#include "render/SmartRender.h"

PF_Err SmartRender(PF_InData *, PF_OutData *, PF_SmartRenderExtra *) { return PF_Err_NONE; }
