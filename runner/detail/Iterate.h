// Internal: the iterate family on the host's worker threads, shared by in_data->utils and the
// iterate suites.
#pragma once

#include "runner/detail/HostState.h"

namespace framemeld::runner::detail {

using GenericIterateFunc = PF_Err (*)(void *refcon, A_long thread_index, A_long i,
                                      A_long iterations);

PF_Err iterateGeneric(A_long iterations, void *refcon, GenericIterateFunc fn);

PF_Err iterate8(PF_InData *in_data, A_long progress_base, A_long progress_final,
                PF_EffectWorld *src, const PF_Rect *area, void *refcon, PF_IteratePixel8Func pix_fn,
                PF_EffectWorld *dst);
PF_Err iterate16(PF_InData *in_data, A_long progress_base, A_long progress_final,
                 PF_EffectWorld *src, const PF_Rect *area, void *refcon,
                 PF_IteratePixel16Func pix_fn, PF_EffectWorld *dst);
PF_Err iterateFloat(PF_InData *in_data, A_long progress_base, A_long progress_final,
                    PF_EffectWorld *src, const PF_Rect *area, void *refcon,
                    PF_IteratePixelFloatFunc pix_fn, PF_EffectWorld *dst);

PF_Err getPixelData8(PF_EffectWorld *world, PF_PixelPtr pixels0, PF_Pixel8 **pixels);
PF_Err getPixelData16(PF_EffectWorld *world, PF_PixelPtr pixels0, PF_Pixel16 **pixels);

} // namespace framemeld::runner::detail
