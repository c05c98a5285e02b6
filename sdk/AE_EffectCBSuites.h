/* The callback suites: the utility callbacks again, as versioned tables acquired by name through
 * SPBasicSuite. Suite names are matched exactly, lower-case "i" included.
 *
 * Includes what the host's header includes (the pixel formats and the basic suite), so code
 * written against the real headers finds the same names through this one. */

#ifndef FRAMEMELD_SDK_AE_EFFECTCBSUITES_H
#define FRAMEMELD_SDK_AE_EFFECTCBSUITES_H

#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "AE_EffectPixelFormat.h"
#include "SPBasic.h"

/* clang reports a packing change made inside an included file; here it is the point. */
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wpragma-pack"
#endif
#include "adobesdk/config/PreConfig.h"

#ifdef __cplusplus
extern "C" {
#endif

#define kPFHandleSuite "PF Handle Suite"
#define kPFHandleSuiteVersion1 2 /* the first version of this suite is numbered 2 */

#define kPFANSISuite "PF ANSI Suite"
#define kPFANSISuiteVersion1 1

#define kPFPixelDataSuite "PF Pixel Data Suite"
#define kPFPixelDataSuiteVersion1 1
#define kPFPixelDataSuiteVersion2 2

#define kPFColorCallbacksSuite "PF Color Suite"
#define kPFColorCallbacksSuiteVersion1 1
#define kPFColorCallbacks16Suite "PF Color16 Suite"
#define kPFColorCallbacks16SuiteVersion1 1
#define kPFColorCallbacksFloatSuite "PF ColorFloat Suite"
#define kPFColorCallbacksFloatSuiteVersion1 1

#define kPFBatchSamplingSuite "PF Batch Sampling Suite"
#define kPFBatchSamplingSuiteVersion1 1
#define kPFSampling8Suite "PF Sampling8 Suite"
#define kPFSampling8SuiteVersion1 1
#define kPFSampling16Suite "PF Sampling16 Suite"
#define kPFSampling16SuiteVersion1 1
#define kPFSamplingFloatSuite "PF SamplingFloat Suite"
#define kPFSamplingFloatSuiteVersion1 1

#define kPFWorldSuite "PF World Suite"
#define kPFWorldSuiteVersion1 1
#define kPFWorldSuiteVersion2 2

#define kPFWorldTransformSuite "PF World Transform Suite"
#define kPFWorldTransformSuiteVersion1 1

#define kPFFillMatteSuite "PF Fill Matte Suite"
#define kPFFillMatteSuiteVersion2 2

#define kPFIterate8Suite "PF Iterate8 Suite"
#define kPFIterate8SuiteVersion1 1
#define kPFIterate8SuiteVersion2 2

#define kPFIterate16Suite "PF iterate16 Suite"
#define kPFIterate16SuiteVersion1 1
#define kPFIterate16SuiteVersion2 2

#define kPFIterateFloatSuite "PF iterateFloat Suite"
#define kPFIterateFloatSuiteVersion1 1
#define kPFIterateFloatSuiteVersion2 2

typedef struct PF_HandleSuite1 {
    PF_Handle (*host_new_handle)(A_HandleSize size);
    void *(*host_lock_handle)(PF_Handle pf_handle);
    void (*host_unlock_handle)(PF_Handle pf_handle);
    void (*host_dispose_handle)(PF_Handle pf_handle);
    A_HandleSize (*host_get_handle_size)(PF_Handle pf_handle);
    PF_Err (*host_resize_handle)(A_HandleSize new_size, PF_Handle *handle);
} PF_HandleSuite1;

/* The ANSI block of the utility callbacks, without its trailing reserved field. */
typedef struct PF_ANSICallbacksSuite1 {
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
} PF_ANSICallbacksSuite1;

typedef struct PF_PixelDataSuite1 {
    PF_Err (*get_pixel_data8)(PF_EffectWorld *world, PF_PixelPtr pixels0, PF_Pixel8 **pixels);
    PF_Err (*get_pixel_data16)(PF_EffectWorld *world, PF_PixelPtr pixels0, PF_Pixel16 **pixels);
    PF_Err (*get_pixel_data_float)(PF_EffectWorld *world, PF_PixelPtr pixels0,
                                   PF_PixelFloat **pixels);
} PF_PixelDataSuite1;

typedef struct PF_PixelDataSuite2 {
    PF_Err (*get_pixel_data8)(PF_EffectWorld *world, PF_PixelPtr pixels0, PF_Pixel8 **pixels);
    PF_Err (*get_pixel_data16)(PF_EffectWorld *world, PF_PixelPtr pixels0, PF_Pixel16 **pixels);
    PF_Err (*get_pixel_data_float)(PF_EffectWorld *world, PF_PixelPtr pixels0,
                                   PF_PixelFloat **pixels);
    PF_Err (*get_pixel_data_float_gpu)(PF_EffectWorld *world, void **pixels);
} PF_PixelDataSuite2;

typedef struct PF_WorldSuite1 {
    PF_Err (*new_world)(PF_ProgPtr effect_ref, A_long width, A_long height,
                        PF_NewWorldFlags flags, PF_EffectWorld *world);
    PF_Err (*dispose_world)(PF_ProgPtr effect_ref, PF_EffectWorld *world);
} PF_WorldSuite1;

/* The only way to tell a float world from the others: PF_WORLD_IS_DEEP says 8 or 16 only. */
typedef struct PF_WorldSuite2 {
    PF_Err (*PF_NewWorld)(PF_ProgPtr effect_ref, A_long width, A_long height,
                          PF_Boolean clear_pix, PF_PixelFormat pixel_format,
                          PF_EffectWorld *world);
    PF_Err (*PF_DisposeWorld)(PF_ProgPtr effect_ref, PF_EffectWorld *world);
    PF_Err (*PF_GetPixelFormat)(const PF_EffectWorld *world, PF_PixelFormat *pixel_format);
} PF_WorldSuite2;

typedef struct PF_Iterate8Suite1 {
    PF_Err (*iterate)(PF_InData *in_data, A_long progress_base, A_long progress_final,
                      PF_EffectWorld *src, const PF_Rect *area, void *refcon,
                      PF_IteratePixel8Func pix_fn, PF_EffectWorld *dst);
    PF_Err (*iterate_origin)(PF_InData *in_data, A_long progress_base, A_long progress_final,
                             PF_EffectWorld *src, const PF_Rect *area, const PF_Point *origin,
                             void *refcon, PF_IteratePixel8Func pix_fn, PF_EffectWorld *dst);
    PF_Err (*iterate_lut)(PF_InData *in_data, A_long progress_base, A_long progress_final,
                          PF_EffectWorld *src, const PF_Rect *area, A_u_char *a_lut0,
                          A_u_char *r_lut0, A_u_char *g_lut0, A_u_char *b_lut0,
                          PF_EffectWorld *dst);
    PF_Err (*iterate_origin_non_clip_src)(PF_InData *in_data, A_long progress_base,
                                          A_long progress_final, PF_EffectWorld *src,
                                          const PF_Rect *area, const PF_Point *origin,
                                          void *refcon, PF_IteratePixel8Func pix_fn,
                                          PF_EffectWorld *dst);
    /* iterations may be PF_Iterations_ONCE_PER_PROCESSOR */
    PF_Err (*iterate_generic)(A_long iterations, void *refcon,
                              PF_Err (*fn)(void *refcon, A_long thread_index, A_long i,
                                           A_long iterations));
} PF_Iterate8Suite1;

/* Same shape as version 1; later hosts lifted a thread-count limit. */
typedef struct PF_Iterate8Suite2 {
    PF_Err (*iterate)(PF_InData *in_data, A_long progress_base, A_long progress_final,
                      PF_EffectWorld *src, const PF_Rect *area, void *refcon,
                      PF_IteratePixel8Func pix_fn, PF_EffectWorld *dst);
    PF_Err (*iterate_origin)(PF_InData *in_data, A_long progress_base, A_long progress_final,
                             PF_EffectWorld *src, const PF_Rect *area, const PF_Point *origin,
                             void *refcon, PF_IteratePixel8Func pix_fn, PF_EffectWorld *dst);
    PF_Err (*iterate_lut)(PF_InData *in_data, A_long progress_base, A_long progress_final,
                          PF_EffectWorld *src, const PF_Rect *area, A_u_char *a_lut0,
                          A_u_char *r_lut0, A_u_char *g_lut0, A_u_char *b_lut0,
                          PF_EffectWorld *dst);
    PF_Err (*iterate_origin_non_clip_src)(PF_InData *in_data, A_long progress_base,
                                          A_long progress_final, PF_EffectWorld *src,
                                          const PF_Rect *area, const PF_Point *origin,
                                          void *refcon, PF_IteratePixel8Func pix_fn,
                                          PF_EffectWorld *dst);
    PF_Err (*iterate_generic)(A_long iterations, void *refcon,
                              PF_Err (*fn)(void *refcon, A_long thread_index, A_long i,
                                           A_long iterations));
} PF_Iterate8Suite2;

typedef struct PF_iterate16Suite1 {
    PF_Err (*iterate)(PF_InData *in_data, A_long progress_base, A_long progress_final,
                      PF_EffectWorld *src, const PF_Rect *area, void *refcon,
                      PF_IteratePixel16Func pix_fn, PF_EffectWorld *dst);
    PF_Err (*iterate_origin)(PF_InData *in_data, A_long progress_base, A_long progress_final,
                             PF_EffectWorld *src, const PF_Rect *area, const PF_Point *origin,
                             void *refcon, PF_IteratePixel16Func pix_fn, PF_EffectWorld *dst);
    PF_Err (*iterate_origin_non_clip_src)(PF_InData *in_data, A_long progress_base,
                                          A_long progress_final, PF_EffectWorld *src,
                                          const PF_Rect *area, const PF_Point *origin,
                                          void *refcon, PF_IteratePixel16Func pix_fn,
                                          PF_EffectWorld *dst);
} PF_iterate16Suite1, PF_Iterate16Suite1;

typedef struct PF_iterate16Suite2 {
    PF_Err (*iterate)(PF_InData *in_data, A_long progress_base, A_long progress_final,
                      PF_EffectWorld *src, const PF_Rect *area, void *refcon,
                      PF_IteratePixel16Func pix_fn, PF_EffectWorld *dst);
    PF_Err (*iterate_origin)(PF_InData *in_data, A_long progress_base, A_long progress_final,
                             PF_EffectWorld *src, const PF_Rect *area, const PF_Point *origin,
                             void *refcon, PF_IteratePixel16Func pix_fn, PF_EffectWorld *dst);
    PF_Err (*iterate_origin_non_clip_src)(PF_InData *in_data, A_long progress_base,
                                          A_long progress_final, PF_EffectWorld *src,
                                          const PF_Rect *area, const PF_Point *origin,
                                          void *refcon, PF_IteratePixel16Func pix_fn,
                                          PF_EffectWorld *dst);
} PF_iterate16Suite2, PF_Iterate16Suite2;

typedef struct PF_iterateFloatSuite1 {
    PF_Err (*iterate)(PF_InData *in_data, A_long progress_base, A_long progress_final,
                      PF_EffectWorld *src, const PF_Rect *area, void *refcon,
                      PF_IteratePixelFloatFunc pix_fn, PF_EffectWorld *dst);
    PF_Err (*iterate_origin)(PF_InData *in_data, A_long progress_base, A_long progress_final,
                             PF_EffectWorld *src, const PF_Rect *area, const PF_Point *origin,
                             void *refcon, PF_IteratePixelFloatFunc pix_fn, PF_EffectWorld *dst);
    PF_Err (*iterate_origin_non_clip_src)(PF_InData *in_data, A_long progress_base,
                                          A_long progress_final, PF_EffectWorld *src,
                                          const PF_Rect *area, const PF_Point *origin,
                                          void *refcon, PF_IteratePixelFloatFunc pix_fn,
                                          PF_EffectWorld *dst);
} PF_iterateFloatSuite1, PF_IterateFloatSuite1;

typedef struct PF_iterateFloatSuite2 {
    PF_Err (*iterate)(PF_InData *in_data, A_long progress_base, A_long progress_final,
                      PF_EffectWorld *src, const PF_Rect *area, void *refcon,
                      PF_IteratePixelFloatFunc pix_fn, PF_EffectWorld *dst);
    PF_Err (*iterate_origin)(PF_InData *in_data, A_long progress_base, A_long progress_final,
                             PF_EffectWorld *src, const PF_Rect *area, const PF_Point *origin,
                             void *refcon, PF_IteratePixelFloatFunc pix_fn, PF_EffectWorld *dst);
    PF_Err (*iterate_origin_non_clip_src)(PF_InData *in_data, A_long progress_base,
                                          A_long progress_final, PF_EffectWorld *src,
                                          const PF_Rect *area, const PF_Point *origin,
                                          void *refcon, PF_IteratePixelFloatFunc pix_fn,
                                          PF_EffectWorld *dst);
} PF_iterateFloatSuite2, PF_IterateFloatSuite2;

#ifdef __cplusplus
}
#endif

#include "adobesdk/config/PostConfig.h"
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

#endif /* FRAMEMELD_SDK_AE_EFFECTCBSUITES_H */
