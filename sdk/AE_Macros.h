/* Small helpers every effect leans on: error chaining, struct clearing and 16.16 fixed point.
 *
 * ERR and ERR2 use the caller's variables `err` and `err2` by name. AEFX_CLR_STRUCT ends with its
 * own semicolon after while (0), as the real macro does, so `AEFX_CLR_STRUCT(x);` is two
 * statements and cannot be the lone body of an if that has an else. */

#ifndef FRAMEMELD_SDK_AE_MACROS_H
#define FRAMEMELD_SDK_AE_MACROS_H

#include <stddef.h>

#include "A.h"

/* Runs FUNC only while no earlier step has failed. */
#define ERR(FUNC)                                                                                 \
    do {                                                                                          \
        if (!err) {                                                                               \
            err = (FUNC);                                                                         \
        }                                                                                         \
    } while (0)

/* Always runs FUNC (clean-up steps); its error is kept only if none came before. */
#define ERR2(FUNC)                                                                                \
    do {                                                                                          \
        if (((err2 = (FUNC)) != A_Err_NONE) && !err) {                                            \
            err = err2;                                                                           \
        }                                                                                         \
    } while (0)

#define AEFX_CLR_STRUCT(STRUCT)                                                                   \
    do {                                                                                          \
        size_t aefx_clr_count = sizeof(STRUCT);                                                   \
        A_u_char *aefx_clr_byte = (A_u_char *)&(STRUCT);                                          \
        while (aefx_clr_count-- > 0) {                                                            \
            *aefx_clr_byte++ = 0;                                                                 \
        }                                                                                         \
    } while (0);

#define AEFX_COPY_STRUCT(FROM, TO)                                                                \
    do {                                                                                          \
        size_t aefx_copy_count = sizeof(FROM);                                                    \
        const A_u_char *aefx_copy_src = (const A_u_char *)&(FROM);                                \
        A_u_char *aefx_copy_dst = (A_u_char *)&(TO);                                              \
        while (aefx_copy_count-- > 0) {                                                           \
            *aefx_copy_dst++ = *aefx_copy_src++;                                                  \
        }                                                                                         \
    } while (0)

/* 16.16 fixed point */
#define A_Fixed_ONE ((A_Fixed)0x00010000L)
#define A_Fixed_HALF ((A_Fixed)0x00008000L)

#define INT2FIX(A) ((A_Fixed)((A_u_long)(A) << 16)) /* no signed-shift overflow */
#define FIX2INT(A) ((A_long)((A) >> 16))
#define FIX2INT_ROUND(A) ((A_long)(((A) + A_Fixed_HALF) >> 16))
#define FIX_2_FLOAT(X) ((A_FpLong)(X) / 65536.0)
#define FLOAT2FIX(F) ((A_Fixed)((F) * 65536.0 + (((F) < 0) ? -0.5 : 0.5)))

/* 8-bit 0..255 to the host's 16-bit 0..32768, rounded. */
#define CONVERT8TO16(A) ((A_u_short)((((A_long)(A)) * 32768 + 128) / 255))

#define RATIO2FLOAT(R) ((A_FpLong)(R).num / (A_FpLong)(R).den)

#ifndef ABS
#define ABS(N) ((N) < 0 ? -(N) : (N))
#endif

#ifndef MIN
#define MIN(A, B) ((A) < (B) ? (A) : (B))
#endif

#ifndef MAX
#define MAX(A, B) ((A) > (B) ? (A) : (B))
#endif

#endif /* FRAMEMELD_SDK_AE_MACROS_H */
