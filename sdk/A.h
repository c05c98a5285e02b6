/* Basic scalar types and error codes shared by every part of the SDK. Widths are fixed (A_long is
 * 32 bits on every platform, also where C's long is 64), which is what keeps record layouts equal
 * between Windows, macOS and Linux. */

#ifndef FRAMEMELD_SDK_A_H
#define FRAMEMELD_SDK_A_H

#include <stddef.h>
#include <stdint.h>

/* clang reports a packing change made inside an included file; here it is the point. */
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wpragma-pack"
#endif
#include "adobesdk/config/PreConfig.h"

typedef int32_t A_long;
typedef uint32_t A_u_long;
typedef int16_t A_short;
typedef uint16_t A_u_short;
typedef char A_char;
typedef uint8_t A_u_char;
typedef uint8_t A_Boolean;
typedef double A_FpLong;
typedef float A_FpShort;
typedef A_long A_Err;
typedef void *A_Handle;
typedef A_long A_Fixed;
typedef A_u_long A_UFixed;
typedef intptr_t A_intptr_t;
typedef uint64_t A_u_longlong;
typedef A_u_longlong A_HandleSize;

typedef struct A_Time {
    A_long value;
    A_u_long scale;
} A_Time;

typedef struct A_Ratio {
    A_long num;
    A_u_long den;
} A_Ratio;

typedef struct A_LRect {
    A_long left, top, right, bottom;
} A_LRect;

typedef A_LRect A_Rect;

enum {
    A_Err_NONE = 0,
    A_Err_GENERIC = 1,
    A_Err_STRUCT = 2,
    A_Err_PARAMETER = 3,
    A_Err_ALLOC = 4,
    A_Err_WRONG_THREAD = 5,
    A_Err_CONST_PROJECT_MODIFICATION = 6,
    A_Err_RESERVED_7 = 7,
    A_Err_RESERVED_8 = 8,
    A_Err_RESERVED_9 = 9,
    A_Err_RESERVED_10 = 10,
    A_Err_RESERVED_11 = 11,
    A_Err_RESERVED_12 = 12,
    A_Err_MISSING_SUITE = 13,
    A_Err_RESERVED_14 = 14,
    A_Err_RESERVED_15 = 15,
    A_Err_RESERVED_16 = 16,
    A_Err_RESERVED_17 = 17,
    A_Err_RESERVED_18 = 18,
    A_Err_RESERVED_19 = 19,
    A_Err_RESERVED_20 = 20,
    A_Err_RESERVED_21 = 21,
    A_Err_NOT_IN_CACHE_OR_COMPUTE_PENDING = 22,
    A_Err_PROJECT_LOAD_FATAL = 23,
    A_Err_EFFECT_APPLY_FATAL = 24,
    A_Err_LAST = 25
};

/* Raises an SDK error as a C++ exception carrying the bare code. */
#define A_THROW(ERR) throw((A_long)(ERR))

#include "adobesdk/config/PostConfig.h"
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

#endif /* FRAMEMELD_SDK_A_H */
