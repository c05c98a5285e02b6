// The work record that travels from the pre-render through the host to the render and to every
// pixel worker, and the function the host calls to free it.
#pragma once

#include "AE_Effect.h"

#include "engine/FramemeldEngine.h"
#include "engine/FramemeldParameter.h"
#include "engine/Pixel.h"

// Every field is null when the pre-render hands the record to the host, except `parameter`.
// The record owns `parameter` and the `frames` array (not the worlds in it, which are the
// host's). The engines live only within one render call.
struct PreRenderData {
    PF_EffectWorld **frames;
    PF_EffectWorld *output;
    PF_InData *in_data;
    FramemeldEngine<Pixel<unsigned char>> *engine8;
    FramemeldEngine<Pixel<float>> *engine_float;
    FramemeldParameter *parameter;
    PF_Pixel16 *output_pixels16;
    PF_Pixel8 *output_pixels8;
};

// The PF_DeletePreRenderDataFunc handed to the host; a null record is ignored.
void deletePreRenderDataFunc(void *pre_render_data);
