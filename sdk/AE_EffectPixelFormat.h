/* Pixel formats of effect worlds, as reported by the world suite's PF_GetPixelFormat, and the
 * suite an effect uses to announce the formats it handles. */

#ifndef FRAMEMELD_SDK_AE_EFFECTPIXELFORMAT_H
#define FRAMEMELD_SDK_AE_EFFECTPIXELFORMAT_H

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

/* Four characters read as a little-endian 32-bit value; not the compiler's multi-char literal,
 * whose byte order is implementation-defined. */
#define MAKE_PIXEL_FORMAT_FOURCC(C0, C1, C2, C3)                                                  \
    ((A_long)(C0) | ((A_long)(C1) << 8) | ((A_long)(C2) << 16) | ((A_long)(C3) << 24))

/* FORCE_LONG_INT pins the enum to 32 bits, as in the real header; it is given as the signed
 * 32-bit value with the same bits (as PF_OutFlag_AUDIO_EFFECT_ONLY in AE_Effect.h) so the enum stays int and
 * compares cleanly with a PF_PixelFormat. */
enum {
    PF_PixelFormat_ARGB32 = MAKE_PIXEL_FORMAT_FOURCC('a', 'r', 'g', 'b'),   /* 8 bpc */
    PF_PixelFormat_ARGB64 = MAKE_PIXEL_FORMAT_FOURCC('a', 'e', '1', '6'),   /* 16 bpc, 0..32768 */
    PF_PixelFormat_ARGB128 = MAKE_PIXEL_FORMAT_FOURCC('a', 'e', '3', '2'),  /* 32-bit float */
    PF_PixelFormat_GPU_BGRA128 = MAKE_PIXEL_FORMAT_FOURCC('@', 'C', 'D', 'A'),
    PF_PixelFormat_RESERVED = MAKE_PIXEL_FORMAT_FOURCC('@', 'C', 'D', 'a'),
    PF_PixelFormat_BGRA32 = MAKE_PIXEL_FORMAT_FOURCC('b', 'g', 'r', 'a'),
    PF_PixelFormat_VUYA32 = MAKE_PIXEL_FORMAT_FOURCC('v', 'u', 'y', 'a'),
    PF_PixelFormat_NTSCDV25 = MAKE_PIXEL_FORMAT_FOURCC('d', 'v', 'n', '2'),
    PF_PixelFormat_PALDV25 = MAKE_PIXEL_FORMAT_FOURCC('d', 'v', 'p', '2'),
    PF_PixelFormat_INVALID = MAKE_PIXEL_FORMAT_FOURCC('b', 'a', 'd', 'f'),
    PF_PixelFormat_FORCE_LONG_INT = (A_long)0xFFFFFFFFu
};

#define kPFPixelFormatSuite "PF Pixel Format Suite"
#define kPFPixelFormatSuiteVersion2 2

typedef struct PF_PixelFormatSuite2 {
    PF_Err (*PF_AddSupportedPixelFormat)(PF_ProgPtr effect_ref, PF_PixelFormat pixel_format);
    PF_Err (*PF_ClearSupportedPixelFormats)(PF_ProgPtr effect_ref);
} PF_PixelFormatSuite2;

#ifdef __cplusplus
}
#endif

#include "adobesdk/config/PostConfig.h"
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

#endif /* FRAMEMELD_SDK_AE_EFFECTPIXELFORMAT_H */
