// in_data->utils: what the runner offers (ANSI block, pixel data, iterate) and a refusing
// function in every other slot.
#include "runner/detail/AnsiCallbacks.h"
#include "runner/detail/Iterate.h"
#include "runner/detail/Refuse.h"

namespace framemeld::runner::detail {

void fillUtilCallbacks(PF_UtilCallbacks &utils)
{
    utils = PF_UtilCallbacks{};
    fillAnsiCallbacks(utils.ansi);
    utils.iterate = &iterate8;
    utils.iterate16 = &iterate16;
    utils.iterate_generic = &iterateGeneric;
    utils.get_pixel_data8 = &getPixelData8;
    utils.get_pixel_data16 = &getPixelData16;

    FRAMEMELD_REFUSE(utils, begin_sampling, "begin_sampling");
    FRAMEMELD_REFUSE(utils, subpixel_sample, "subpixel_sample");
    FRAMEMELD_REFUSE(utils, area_sample, "area_sample");
    FRAMEMELD_REFUSE(utils, end_sampling, "end_sampling");
    FRAMEMELD_REFUSE(utils, composite_rect, "composite_rect");
    FRAMEMELD_REFUSE(utils, blend, "blend");
    FRAMEMELD_REFUSE(utils, convolve, "convolve");
    FRAMEMELD_REFUSE(utils, copy, "copy");
    FRAMEMELD_REFUSE(utils, fill, "fill");
    FRAMEMELD_REFUSE(utils, gaussian_kernel, "gaussian_kernel");
    FRAMEMELD_REFUSE(utils, premultiply, "premultiply");
    FRAMEMELD_REFUSE(utils, premultiply_color, "premultiply_color");
    FRAMEMELD_REFUSE(utils, new_world, "new_world");
    FRAMEMELD_REFUSE(utils, dispose_world, "dispose_world");
    FRAMEMELD_REFUSE(utils, iterate_origin, "iterate_origin");
    FRAMEMELD_REFUSE(utils, iterate_lut, "iterate_lut");
    FRAMEMELD_REFUSE(utils, transfer_rect, "transfer_rect");
    FRAMEMELD_REFUSE(utils, transform_world, "transform_world");
    FRAMEMELD_REFUSE(utils, host_new_handle, "host_new_handle");
    FRAMEMELD_REFUSE(utils, host_lock_handle, "host_lock_handle");
    FRAMEMELD_REFUSE(utils, host_unlock_handle, "host_unlock_handle");
    FRAMEMELD_REFUSE(utils, host_dispose_handle, "host_dispose_handle");
    FRAMEMELD_REFUSE(utils, get_callback_addr, "get_callback_addr");
    FRAMEMELD_REFUSE(utils, app, "app");
    FRAMEMELD_REFUSE(utils, colorCB.RGBtoHLS, "RGBtoHLS");
    FRAMEMELD_REFUSE(utils, colorCB.HLStoRGB, "HLStoRGB");
    FRAMEMELD_REFUSE(utils, colorCB.RGBtoYIQ, "RGBtoYIQ");
    FRAMEMELD_REFUSE(utils, colorCB.YIQtoRGB, "YIQtoRGB");
    FRAMEMELD_REFUSE(utils, colorCB.Luminance, "Luminance");
    FRAMEMELD_REFUSE(utils, colorCB.Hue, "Hue");
    FRAMEMELD_REFUSE(utils, colorCB.Lightness, "Lightness");
    FRAMEMELD_REFUSE(utils, colorCB.Saturation, "Saturation");
    FRAMEMELD_REFUSE(utils, get_platform_data, "get_platform_data");
    FRAMEMELD_REFUSE(utils, host_get_handle_size, "host_get_handle_size");
    FRAMEMELD_REFUSE(utils, iterate_origin_non_clip_src, "iterate_origin_non_clip_src");
    FRAMEMELD_REFUSE(utils, host_resize_handle, "host_resize_handle");
    FRAMEMELD_REFUSE(utils, subpixel_sample16, "subpixel_sample16");
    FRAMEMELD_REFUSE(utils, area_sample16, "area_sample16");
    FRAMEMELD_REFUSE(utils, fill16, "fill16");
    FRAMEMELD_REFUSE(utils, premultiply_color16, "premultiply_color16");
    FRAMEMELD_REFUSE(utils, iterate_origin16, "iterate_origin16");
    FRAMEMELD_REFUSE(utils, iterate_origin_non_clip_src16, "iterate_origin_non_clip_src16");
}

} // namespace framemeld::runner::detail
