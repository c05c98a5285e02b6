// Compile-time layout checks: a record that drifts from the host's layout fails the build here,
// naming the record and field. Built on every platform the plug-in targets, including the
// Windows cross compiler, where the runtime test cannot run.

#include <cstddef>

#include "SdkConstantTable.h"
#include "SdkLayoutTable.h"

#define SDK_STATIC_SIZE(T, SIZE, ALIGN)                                                            \
    static_assert(sizeof(T) == (SIZE), "sizeof(" #T ") must be " #SIZE);                           \
    static_assert(alignof(T) == (ALIGN), "alignof(" #T ") must be " #ALIGN);
// The formatter re-wraps this message differently on every pass.
// clang-format off
#define SDK_STATIC_OFFSET(T, FIELD, OFFSET) \
    static_assert(offsetof(T, FIELD) == (OFFSET), "offsetof(" #T ", " #FIELD ") must be " #OFFSET);
// clang-format on
#define SDK_STATIC_CONSTANT(NAME, VALUE)                                                           \
    static_assert(static_cast<A_long>(NAME) == static_cast<A_long>(VALUE),                         \
                  #NAME " must be " #VALUE);

SDK_SCALAR_SIZES(SDK_STATIC_SIZE)
SDK_RECORD_SIZES(SDK_STATIC_SIZE)
SDK_SMALL_RECORD_OFFSETS(SDK_STATIC_OFFSET)
SDK_WORLD_OFFSETS(SDK_STATIC_OFFSET)
SDK_PARAM_OFFSETS(SDK_STATIC_OFFSET)
SDK_IN_OUT_DATA_OFFSETS(SDK_STATIC_OFFSET)
SDK_UTIL_CALLBACK_OFFSETS(SDK_STATIC_OFFSET)
SDK_SMART_RENDER_OFFSETS(SDK_STATIC_OFFSET)
SDK_SUITE_OFFSETS(SDK_STATIC_OFFSET)
SDK_COMMAND_AND_ERROR_CONSTANTS(SDK_STATIC_CONSTANT)
SDK_FLAG_CONSTANTS(SDK_STATIC_CONSTANT)
SDK_VALUE_CONSTANTS(SDK_STATIC_CONSTANT)

// The _WINDOWS switch picks the Windows scalar types, as the real header does.
#ifdef _WINDOWS
static_assert(sizeof(PF_LegacyRect) == 8, "PF_LegacyRect must be four shorts");
#endif
