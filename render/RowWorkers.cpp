// The 8-bit and 16-bit row workers, run by the host's iterate_generic, one call per output row.
// Both gather one position of every sampled frame into a pixel string, ask the engine for the
// consensus and write it to the output; they differ only in the traits below.
#include <new>

#include "AE_Effect.h"
#include "AE_EffectCB.h"

#include "engine/FramemeldEngine.h"
#include "engine/PixelString.h"
#include "render/Deep16Conversion.h"
#include "render/PixelCallbacks.h"
#include "render/WorldAddressing.h"

namespace {

struct Depth8 {
  using HostPixel = PF_Pixel8;
  using EnginePixel = Pixel<unsigned char>;

  static PF_Err FrameBase(PF_InData *in_data, PF_EffectWorld *world, HostPixel **base) {
    return PF_GET_PIXEL_DATA8(world, NULL, base);
  }
  static FramemeldEngine<EnginePixel> *Engine(const PreRenderData *data) { return data->engine8; }
  static HostPixel *OutputBase(const PreRenderData *data) { return data->output_pixels8; }

  static EnginePixel Gather(const HostPixel &in) { return EnginePixel{in.red, in.green, in.blue, in.alpha}; }
  static void Store(const EnginePixel &result, HostPixel *out) {
    out->alpha = result.alpha;
    out->red = result.red;
    out->green = result.green;
    out->blue = result.blue;
  }
};

struct Depth16 {
  using HostPixel = PF_Pixel16;
  using EnginePixel = Pixel<float>;

  static PF_Err FrameBase(PF_InData *in_data, PF_EffectWorld *world, HostPixel **base) {
    return PF_GET_PIXEL_DATA16(world, NULL, base);
  }
  static FramemeldEngine<EnginePixel> *Engine(const PreRenderData *data) { return data->engine_float; }
  static HostPixel *OutputBase(const PreRenderData *data) { return data->output_pixels16; }

  static EnginePixel Gather(const HostPixel &in) {
    return EnginePixel{Deep16ToFloat(in.red), Deep16ToFloat(in.green), Deep16ToFloat(in.blue),
                       Deep16ToFloat(in.alpha)};
  }
  static void Store(const EnginePixel &result, HostPixel *out) {
    out->alpha = FloatToDeep16(result.alpha);
    out->red = FloatToDeep16(result.red);
    out->green = FloatToDeep16(result.green);
    out->blue = FloatToDeep16(result.blue);
  }
};

// Element `sample` becomes pixel (x, y) of `frame`, or transparent black where the frame has no
// pixel there (a null world, or one smaller than the output), as the host's layers are
// transparent outside their bounds.
template <typename Depth>
PF_Err GatherSample(PF_InData *in_data, PF_EffectWorld *frame, A_long x, A_long y,
                    typename Depth::EnginePixel *sample) {
  *sample = typename Depth::EnginePixel{};
  if (!WorldCovers<typename Depth::HostPixel>(frame, x, y)) {
    return PF_Err_NONE;
  }
  typename Depth::HostPixel *base = nullptr;
  const PF_Err err = Depth::FrameBase(in_data, frame, &base);
  if (err == PF_Err_NONE && base != nullptr) {
    *sample = Depth::Gather(*WorldPixel(base, frame->rowbytes, x, y));
  }
  return err;
}

template <typename Depth>
PF_Err RenderRow(PreRenderData *data, A_long row) {
  PF_InData *in_data = data->in_data;
  const A_long n = data->parameter->frameCount;
  PF_EffectWorld *output = data->output;
  typename Depth::HostPixel *output_base = Depth::OutputBase(data);
  FramemeldEngine<typename Depth::EnginePixel> *engine = Depth::Engine(data);

  PixelString<typename Depth::EnginePixel> samples(0, row, n);
  typename Depth::EnginePixel result{};
  for (A_long x = 0; x < output->width; ++x) {
    samples.x = x;
    for (A_long k = 0; k < n; ++k) {
      const PF_Err err = GatherSample<Depth>(in_data, data->frames[k], x, row, &samples[k]);
      if (err) {
        return err;
      }
    }
    // An interruption skips this pixel only; the row's end reports it (worker 0).
    if (PF_ABORT(in_data)) {
      continue;
    }
    engine->process(data->parameter, &samples, &result);
    Depth::Store(result, WorldPixel(output_base, output->rowbytes, x, row));
  }
  return PF_Err_NONE;
}

// The host's iterate_generic is C code: nothing may be thrown back into it.
template <typename Depth>
PF_Err RowWorker(void *refcon, A_long thread_index, A_long row) {
  PreRenderData *data = static_cast<FramemeldRefcon *>(refcon)->data;
  PF_InData *in_data = data->in_data;
  PF_Err err = PF_Err_NONE;
  try {
    err = RenderRow<Depth>(data, row);
  } catch (const std::bad_alloc &) {
    err = PF_Err_OUT_OF_MEMORY;
  } catch (int thrown) {
    err = thrown;
  } catch (...) {
    err = PF_Err_INTERNAL_STRUCT_DAMAGED;
  }
  if (thread_index == 0 && !err) {
    const A_long n = data->parameter->frameCount;
    err = PF_ABORT(in_data);
    if (!err) {
      err = PF_PROGRESS(in_data, n + row, n + data->output->height);
    }
  }
  return err;
}

} // namespace

PF_Err FramemeldFunc8(void *refcon, A_long thread_index, A_long row, A_long /*iterations*/) {
  return RowWorker<Depth8>(refcon, thread_index, row);
}

PF_Err FramemeldFunc16(void *refcon, A_long thread_index, A_long row, A_long /*iterations*/) {
  return RowWorker<Depth16>(refcon, thread_index, row);
}
