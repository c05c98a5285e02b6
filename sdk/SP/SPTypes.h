/* Basic types of the plug-in support layer (the suite broker behind SPBasicSuite). */

#ifndef FRAMEMELD_SDK_SPTYPES_H
#define FRAMEMELD_SDK_SPTYPES_H

#include <stddef.h>
#include <stdint.h>

#include "SPConfig.h"
#include "SPErrorCodes.h"

/* Calling-convention slot in every suite declaration; empty on every current compiler. */
#define SPAPI

typedef int32_t SPErr;

#if defined(WIN_ENV)
typedef int SPBoolean;
#else
typedef unsigned char SPBoolean;
#endif

#define kSPNoError ((SPErr)0)

#endif /* FRAMEMELD_SDK_SPTYPES_H */
