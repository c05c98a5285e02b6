// PLACEHOLDER until the render lands: answers without requesting anything.
#include "render/SmartRender.h"

PF_Err SmartPreRender(PF_InData *, PF_OutData *, PF_PreRenderExtra *) { return PF_Err_NONE; }
