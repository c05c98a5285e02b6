/* The utility callbacks the host hands an effect in in_data->utils: sampling, compositing,
 * iteration over worlds, handles, the ANSI block and colour conversions, plus the pixel-callback
 * typedefs and the utility macros.
 *
 * The utility macros name no in_data argument: like the real ones they use a variable literally
 * called `in_data` from the calling scope, so code that lacks one fails here as it would with the
 * real SDK. */

#ifndef FRAMEMELD_SDK_AE_EFFECTCB_H
#define FRAMEMELD_SDK_AE_EFFECTCB_H

#include "AE_Effect.h"

/* clang reports a packing change made inside an included file; here it is the point. */
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wpragma-pack"
#endif
#include "adobesdk/config/PreConfig.h"

#ifdef __cplusplus
extern "C" {
#endif

#define PF_PI 3.14159265358979323846
#define PF_2PI 6.28318530717958647692
#define PF_HALF_PI 1.57079632679489661923
#define PF_E 2.7182818284590452354
#define PF_SQRT2 1.41421356237309504880
#define PF_RAD_PER_DEGREE 0.01745329251994329577

/* Passed as the iteration count of iterate_generic: one call per host worker thread. */
#define PF_Iterations_ONCE_PER_PROCESSOR (-1)

enum {
    PF_PlatData_MAIN_WND = 0,
    PF_PlatData_EXE_FILE_PATH_DEPRECATED = 1,
    PF_PlatData_RES_FILE_PATH_DEPRECATED = 2,
    PF_PlatData_RES_REFNUM = 3,
    PF_PlatData_RES_DLLINSTANCE = 4,
    PF_PlatData_SP_PLUG_REF = 5,
    PF_PlatData_BUNDLE_REF = 6,
    PF_PlatData_EXE_FILE_PATH_W = 7,
    PF_PlatData_RES_FILE_PATH_W = 8
};

enum {
    PF_KernelFlag_2D = 0,
    PF_KernelFlag_1D = 1L << 0,
    PF_KernelFlag_UNNORMALIZED = 0,
    PF_KernelFlag_NORMALIZED = 1L << 1,
    PF_KernelFlag_CLAMP = 0,
    PF_KernelFlag_NO_CLAMP = 1L << 2,
    PF_KernelFlag_USE_LONG = 0,
    PF_KernelFlag_USE_CHAR = 1L << 3,
    PF_KernelFlag_USE_FIXED = 1L << 4,
    PF_KernelFlag_USE_UNDEFINED = (1L << 3) | (1L << 4),
    PF_KernelFlag_HORIZONTAL = 0,
    PF_KernelFlag_VERTICAL = 1L << 5,
    PF_KernelFlag_TRANSPARENT_BORDERS = 0,
    PF_KernelFlag_REPLICATE_BORDERS = 1L << 6,
    PF_KernelFlag_STRAIGHT_CONVOLVE = 0,
    PF_KernelFlag_ALPHA_WEIGHT_CONVOLVE = 1L << 7
};

/* Records of the sampling and compositing callbacks; the project never fills them. */
typedef struct PF_SampPB PF_SampPB;
typedef struct PF_CompositeMode PF_CompositeMode;
typedef struct PF_MaskWorld PF_MaskWorld;

typedef A_long PF_TransferMode;
typedef PF_TransferMode PF_XferMode;

/* Address handed out by get_callback_addr; cast to the callback's real type before calling. */
typedef PF_Err (*PF_CallbackFunc)(void);

typedef PF_Fixed PF_HLS_Pixel[3];
typedef PF_Fixed PF_YIQ_Pixel[3];

/* Called once per pixel by the iterate family; out points into the destination world. */
typedef PF_Err (*PF_IteratePixel8Func)(void *refcon, A_long x, A_long y, PF_Pixel *in,
                                       PF_Pixel *out);
typedef PF_Err (*PF_IteratePixel16Func)(void *refcon, A_long x, A_long y, PF_Pixel16 *in,
                                        PF_Pixel16 *out);
typedef PF_Err (*PF_IteratePixelFloatFunc)(void *refcon, A_long x, A_long y, PF_PixelFloat *in,
                                           PF_PixelFloat *out);

/* The C library as the host provides it; the math members take and return doubles. */
typedef struct PF_ANSICallbacks {
    A_FpLong (*atan)(A_FpLong x);
    A_FpLong (*atan2)(A_FpLong y, A_FpLong x);
    A_FpLong (*ceil)(A_FpLong x);
    A_FpLong (*cos)(A_FpLong x);
    A_FpLong (*exp)(A_FpLong x);
    A_FpLong (*fabs)(A_FpLong x);
    A_FpLong (*floor)(A_FpLong x);
    A_FpLong (*fmod)(A_FpLong x, A_FpLong y);
    A_FpLong (*hypot)(A_FpLong x, A_FpLong y);
    A_FpLong (*log)(A_FpLong x);
    A_FpLong (*log10)(A_FpLong x);
    A_FpLong (*pow)(A_FpLong x, A_FpLong y);
    A_FpLong (*sin)(A_FpLong x);
    A_FpLong (*sqrt)(A_FpLong x);
    A_FpLong (*tan)(A_FpLong x);
    int (*sprintf)(A_char *dst, const A_char *fmt, ...);
    A_char *(*strcpy)(A_char *dst, const A_char *src);
    A_FpLong (*asin)(A_FpLong x);
    A_FpLong (*acos)(A_FpLong x);
    A_long ansi_procs[1];
} PF_ANSICallbacks;

typedef struct PF_ColorCallbacks {
    PF_Err (*RGBtoHLS)(PF_ProgPtr effect_ref, PF_Pixel *rgb, PF_HLS_Pixel hls);
    PF_Err (*HLStoRGB)(PF_ProgPtr effect_ref, PF_HLS_Pixel hls, PF_Pixel *rgb);
    PF_Err (*RGBtoYIQ)(PF_ProgPtr effect_ref, PF_Pixel *rgb, PF_YIQ_Pixel yiq);
    PF_Err (*YIQtoRGB)(PF_ProgPtr effect_ref, PF_YIQ_Pixel yiq, PF_Pixel *rgb);
    PF_Err (*Luminance)(PF_ProgPtr effect_ref, PF_Pixel *rgb, A_long *lum100);
    PF_Err (*Hue)(PF_ProgPtr effect_ref, PF_Pixel *rgb, A_long *hue);
    PF_Err (*Lightness)(PF_ProgPtr effect_ref, PF_Pixel *rgb, A_long *lightness);
    PF_Err (*Saturation)(PF_ProgPtr effect_ref, PF_Pixel *rgb, A_long *saturation);
} PF_ColorCallbacks;

typedef struct _PF_UtilCallbacks {
    PF_Err (*begin_sampling)(PF_ProgPtr effect_ref, PF_Quality qual, PF_ModeFlags mf,
                             PF_SampPB *params);
    PF_Err (*subpixel_sample)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y,
                              const PF_SampPB *params, PF_Pixel *dst_pixel);
    PF_Err (*area_sample)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB *params,
                          PF_Pixel *dst_pixel);
    void *get_batch_func_is_deprecated;
    PF_Err (*end_sampling)(PF_ProgPtr effect_ref, PF_Quality qual, PF_ModeFlags mf,
                           PF_SampPB *params);
    PF_Err (*composite_rect)(PF_ProgPtr effect_ref, PF_Rect *src_rect, A_long src_opacity,
                             PF_EffectWorld *source_wld, A_long dest_x, A_long dest_y,
                             PF_Field field_rdr, PF_XferMode xfer_mode, PF_EffectWorld *dest_wld);
    PF_Err (*blend)(PF_ProgPtr effect_ref, const PF_EffectWorld *src1, const PF_EffectWorld *src2,
                    PF_Fixed ratio, PF_EffectWorld *dst);
    PF_Err (*convolve)(PF_ProgPtr effect_ref, PF_EffectWorld *src, const PF_Rect *area,
                       PF_KernelFlags flags, A_long kernel_size, void *a_kernel, void *r_kernel,
                       void *g_kernel, void *b_kernel, PF_EffectWorld *dst);
    PF_Err (*copy)(PF_ProgPtr effect_ref, PF_EffectWorld *src, PF_EffectWorld *dst,
                   PF_Rect *src_r, PF_Rect *dst_r);
    PF_Err (*fill)(PF_ProgPtr effect_ref, const PF_Pixel *color, const PF_Rect *dst_rect,
                   PF_EffectWorld *world);
    PF_Err (*gaussian_kernel)(PF_ProgPtr effect_ref, A_FpLong k_radius, PF_KernelFlags flags,
                              A_FpLong multiplier, A_long *diameter, void *kernel);
    /* area NULL means the whole world */
    PF_Err (*iterate)(PF_InData *in_data, A_long progress_base, A_long progress_final,
                      PF_EffectWorld *src, const PF_Rect *area, void *refcon,
                      PF_IteratePixel8Func pix_fn, PF_EffectWorld *dst);
    PF_Err (*premultiply)(PF_ProgPtr effect_ref, A_long forward, PF_EffectWorld *dst);
    PF_Err (*premultiply_color)(PF_ProgPtr effect_ref, PF_EffectWorld *src,
                                const PF_Pixel *color, A_long forward, PF_EffectWorld *dst);
    PF_Err (*new_world)(PF_ProgPtr effect_ref, A_long width, A_long height,
                        PF_NewWorldFlags flags, PF_EffectWorld *world);
    PF_Err (*dispose_world)(PF_ProgPtr effect_ref, PF_EffectWorld *world);
    PF_Err (*iterate_origin)(PF_InData *in_data, A_long progress_base, A_long progress_final,
                             PF_EffectWorld *src, const PF_Rect *area, const PF_Point *origin,
                             void *refcon, PF_IteratePixel8Func pix_fn, PF_EffectWorld *dst);
    PF_Err (*iterate_lut)(PF_InData *in_data, A_long progress_base, A_long progress_final,
                          PF_EffectWorld *src, const PF_Rect *area, A_u_char *a_lut0,
                          A_u_char *r_lut0, A_u_char *g_lut0, A_u_char *b_lut0,
                          PF_EffectWorld *dst);
    PF_Err (*transfer_rect)(PF_ProgPtr effect_ref, PF_Quality quality, PF_ModeFlags m_flags,
                            PF_Field field, const PF_Rect *src_rec,
                            const PF_EffectWorld *src_world, const PF_CompositeMode *comp_mode,
                            const PF_MaskWorld *mask_world0, A_long dest_x, A_long dest_y,
                            PF_EffectWorld *dst_world);
    PF_Err (*transform_world)(PF_ProgPtr effect_ref, PF_Quality quality, PF_ModeFlags m_flags,
                              PF_Field field, const PF_EffectWorld *src_world,
                              const PF_CompositeMode *comp_mode, const PF_MaskWorld *mask_world0,
                              const PF_FloatMatrix *matrices, A_long num_matrices,
                              PF_Boolean src2dst_matrix, const PF_Rect *dest_rect,
                              PF_EffectWorld *dst_world);
    PF_Handle (*host_new_handle)(A_HandleSize size);
    void *(*host_lock_handle)(PF_Handle pf_handle);
    void (*host_unlock_handle)(PF_Handle pf_handle);
    void (*host_dispose_handle)(PF_Handle pf_handle);
    PF_Err (*get_callback_addr)(PF_ProgPtr effect_ref, PF_Quality quality, PF_ModeFlags mode_flags,
                                PF_CallbackID which_callback, PF_CallbackFunc *fn_ptr);
    PF_Err (*app)(PF_ProgPtr effect_ref, A_long selector, ...);
    PF_ANSICallbacks ansi;
    PF_ColorCallbacks colorCB;
    PF_Err (*get_platform_data)(PF_ProgPtr effect_ref, PF_PlatDataID which, void *data);
    A_HandleSize (*host_get_handle_size)(PF_Handle pf_handle);
    PF_Err (*iterate_origin_non_clip_src)(PF_InData *in_data, A_long progress_base,
                                          A_long progress_final, PF_EffectWorld *src,
                                          const PF_Rect *area, const PF_Point *origin,
                                          void *refcon, PF_IteratePixel8Func pix_fn,
                                          PF_EffectWorld *dst);
    /* fn runs with i in [0, iterations) on the host's worker threads */
    PF_Err (*iterate_generic)(A_long iterations, void *refcon,
                              PF_Err (*fn)(void *refcon, A_long thread_index, A_long i,
                                           A_long iterations));
    PF_Err (*host_resize_handle)(A_HandleSize new_size, PF_Handle *handle);
    PF_Err (*subpixel_sample16)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y,
                                const PF_SampPB *params, PF_Pixel16 *dst_pixel);
    PF_Err (*area_sample16)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y,
                            const PF_SampPB *params, PF_Pixel16 *dst_pixel);
    PF_Err (*fill16)(PF_ProgPtr effect_ref, const PF_Pixel16 *color, const PF_Rect *dst_rect,
                     PF_EffectWorld *world);
    PF_Err (*premultiply_color16)(PF_ProgPtr effect_ref, PF_EffectWorld *src,
                                  const PF_Pixel16 *color, A_long forward, PF_EffectWorld *dst);
    PF_Err (*iterate16)(PF_InData *in_data, A_long progress_base, A_long progress_final,
                        PF_EffectWorld *src, const PF_Rect *area, void *refcon,
                        PF_IteratePixel16Func pix_fn, PF_EffectWorld *dst);
    PF_Err (*iterate_origin16)(PF_InData *in_data, A_long progress_base, A_long progress_final,
                               PF_EffectWorld *src, const PF_Rect *area, const PF_Point *origin,
                               void *refcon, PF_IteratePixel16Func pix_fn, PF_EffectWorld *dst);
    PF_Err (*iterate_origin_non_clip_src16)(PF_InData *in_data, A_long progress_base,
                                            A_long progress_final, PF_EffectWorld *src,
                                            const PF_Rect *area, const PF_Point *origin,
                                            void *refcon, PF_IteratePixel16Func pix_fn,
                                            PF_EffectWorld *dst);
    /* pixels0 NULL asks for the world's first pixel */
    PF_Err (*get_pixel_data8)(PF_EffectWorld *world, PF_PixelPtr pixels0, PF_Pixel8 **pixels);
    PF_Err (*get_pixel_data16)(PF_EffectWorld *world, PF_PixelPtr pixels0, PF_Pixel16 **pixels);
    A_long reserved[1];
} PF_UtilCallbacks;

/* ---- Utility macros (use `in_data` from the calling scope) ----------------------------------- */

#define PF_SPRINTF (*in_data->utils->ansi.sprintf)
#define PF_STRCPY(DST, SRC) (*in_data->utils->ansi.strcpy)((DST), (SRC))

#define PF_GET_PIXEL_DATA8(WORLDP, PIXP0, OUTPP)                                                  \
    (*in_data->utils->get_pixel_data8)((WORLDP), (PIXP0), (OUTPP))
#define PF_GET_PIXEL_DATA16(WORLDP, PIXP0, OUTPP)                                                 \
    (*in_data->utils->get_pixel_data16)((WORLDP), (PIXP0), (OUTPP))

#define PF_COPY(SRC, DST, SRC_RECT, DST_RECT)                                                     \
    (*in_data->utils->copy)(in_data->effect_ref, (SRC), (DST), (SRC_RECT), (DST_RECT))
#define PF_FILL(COLOR, DST_RECT, DST)                                                             \
    (*in_data->utils->fill)(in_data->effect_ref, (COLOR), (DST_RECT), (DST))

#define PF_ITERATE(BASE, FINAL, SRC, AREA, REFCON, PIX_FN, DST)                                   \
    (*in_data->utils->iterate)(in_data, (BASE), (FINAL), (SRC), (AREA), (REFCON), (PIX_FN), (DST))
#define PF_ITERATE16(BASE, FINAL, SRC, AREA, REFCON, PIX_FN, DST)                                 \
    (*in_data->utils->iterate16)(in_data, (BASE), (FINAL), (SRC), (AREA), (REFCON), (PIX_FN),     \
                                 (DST))
#define PF_ITERATE_ORIGIN(BASE, FINAL, SRC, AREA, ORIGIN, REFCON, PIX_FN, DST)                    \
    (*in_data->utils->iterate_origin)(in_data, (BASE), (FINAL), (SRC), (AREA), (ORIGIN),          \
                                      (REFCON), (PIX_FN), (DST))
#define PF_ITERATE_ORIGIN_NON_SRC_CLIP(BASE, FINAL, SRC, AREA, ORIGIN, REFCON, PIX_FN, DST)       \
    (*in_data->utils->iterate_origin_non_clip_src)(in_data, (BASE), (FINAL), (SRC), (AREA),       \
                                                   (ORIGIN), (REFCON), (PIX_FN), (DST))
#define PF_ITERATE_LUT(BASE, FINAL, SRC, AREA, A_LUT, R_LUT, G_LUT, B_LUT, DST)                   \
    (*in_data->utils->iterate_lut)(in_data, (BASE), (FINAL), (SRC), (AREA), (A_LUT), (R_LUT),     \
                                   (G_LUT), (B_LUT), (DST))

#define PF_NEW_WORLD(WIDTH, HEIGHT, FLAGS, WORLD)                                                 \
    (*in_data->utils->new_world)(in_data->effect_ref, (WIDTH), (HEIGHT), (FLAGS), (WORLD))
#define PF_DISPOSE_WORLD(WORLD) (*in_data->utils->dispose_world)(in_data->effect_ref, (WORLD))

#define PF_NEW_HANDLE(SIZE) (*in_data->utils->host_new_handle)(SIZE)
#define PF_LOCK_HANDLE(H) (*in_data->utils->host_lock_handle)((PF_Handle)(H))
#define PF_UNLOCK_HANDLE(H) (*in_data->utils->host_unlock_handle)((PF_Handle)(H))
#define PF_DISPOSE_HANDLE(H) (*in_data->utils->host_dispose_handle)((PF_Handle)(H))
#define PF_GET_HANDLE_SIZE(H) (*in_data->utils->host_get_handle_size)((PF_Handle)(H))
#define PF_RESIZE_HANDLE(SIZE, HANDLEP) (*in_data->utils->host_resize_handle)((SIZE), (HANDLEP))

#define PF_GET_PLATFORM_DATA(ID, DATA)                                                            \
    (*in_data->utils->get_platform_data)(in_data->effect_ref, (ID), (DATA))

#define PF_ATAN(X) (*in_data->utils->ansi.atan)(X)
#define PF_ATAN2(Y, X) (*in_data->utils->ansi.atan2)((Y), (X))
#define PF_CEIL(X) (*in_data->utils->ansi.ceil)(X)
#define PF_COS(X) (*in_data->utils->ansi.cos)(X)
#define PF_EXP(X) (*in_data->utils->ansi.exp)(X)
#define PF_FABS(X) (*in_data->utils->ansi.fabs)(X)
#define PF_FLOOR(X) (*in_data->utils->ansi.floor)(X)
#define PF_FMOD(X, Y) (*in_data->utils->ansi.fmod)((X), (Y))
#define PF_HYPOT(X, Y) (*in_data->utils->ansi.hypot)((X), (Y))
#define PF_LOG(X) (*in_data->utils->ansi.log)(X)
#define PF_LOG10(X) (*in_data->utils->ansi.log10)(X)
#define PF_POW(X, Y) (*in_data->utils->ansi.pow)((X), (Y))
#define PF_SIN(X) (*in_data->utils->ansi.sin)(X)
#define PF_SQRT(X) (*in_data->utils->ansi.sqrt)(X)
#define PF_TAN(X) (*in_data->utils->ansi.tan)(X)
#define PF_ASIN(X) (*in_data->utils->ansi.asin)(X)
#define PF_ACOS(X) (*in_data->utils->ansi.acos)(X)

#ifdef __cplusplus
}
#endif

#include "adobesdk/config/PostConfig.h"
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

#endif /* FRAMEMELD_SDK_AE_EFFECTCB_H */
