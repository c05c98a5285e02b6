/* The basic suite: the host's broker that hands out every other suite by name and version, plus
 * a block allocator. The effect reaches it through in_data->pica_basicP. */

#ifndef FRAMEMELD_SDK_SPBASIC_H
#define FRAMEMELD_SDK_SPBASIC_H

#include <stddef.h>

#include "SPConfig.h"
#include "SPErrorCodes.h"
#include "SPTypes.h"

/* clang reports a packing change made inside an included file; here it is the point. */
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wpragma-pack"
#endif
#include "adobesdk/config/PreConfig.h"

#define kSPBasicSuite "SP Basic Suite"
#define kSPBasicSuiteVersion 4

#ifdef __cplusplus
extern "C" {
#endif

typedef struct SPBasicSuite {
    /* On success *suite points at the suite's function table until it is released. */
    SPAPI SPErr (*AcquireSuite)(const char *name, int32_t version, const void **suite);
    SPAPI SPErr (*ReleaseSuite)(const char *name, int32_t version);
    SPAPI SPBoolean (*IsEqual)(const char *token1, const char *token2);
    SPAPI SPErr (*AllocateBlock)(size_t size, void **block);
    SPAPI SPErr (*FreeBlock)(void *block);
    SPAPI SPErr (*ReallocateBlock)(void *block, size_t new_size, void **new_block);
    /* Placeholder the host installs into the slots of suites that are not loaded. */
    SPAPI SPErr (*Undefined)(void);
} SPBasicSuite;

#ifdef __cplusplus
}
#endif

#include "adobesdk/config/PostConfig.h"
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

#endif /* FRAMEMELD_SDK_SPBASIC_H */
