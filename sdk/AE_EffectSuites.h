/* Effect suites beyond the callback suites: parameter utilities, read-only sequence data and the
 * application suites' names. Only what the project may reach for is declared. */

#ifndef FRAMEMELD_SDK_AE_EFFECTSUITES_H
#define FRAMEMELD_SDK_AE_EFFECTSUITES_H

#include "A.h"
#include "AE_Effect.h"
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

#define kPFParamUtilsSuite "PF Param Utils Suite"
#define kPFParamUtilsSuiteVersion1 2
#define kPFParamUtilsSuiteVersion3 3

#define kPFEffectSequenceDataSuite "PF Effect Sequence Data Suite"
#define kPFEffectSequenceDataSuiteVersion1 1

#define kPFGPUDeviceSuite "PF GPU Device Suite"
#define kPFGPUDeviceSuiteVersion1 1

#define kPFAppSuite "PF AE App Suite"
#define kPFAdvAppSuite "PF AE Adv App Suite"
#define kPFAdvTimeSuite "PF AE Adv Time Suite"

/* An opaque snapshot of a parameter's state, compared with PF_AreStatesIdentical. */
typedef struct PF_State {
    A_long reserved[4];
} PF_State;

typedef A_long PF_KeyframeIndex;

typedef struct PF_ParamUtilsSuite3 {
    PF_Err (*PF_UpdateParamUI)(PF_ProgPtr effect_ref, PF_ParamIndex param_index,
                               const PF_ParamDef *param_def);
    PF_Err (*PF_GetCurrentState)(PF_ProgPtr effect_ref, PF_ParamIndex param_index,
                                 const A_Time *range_start0, const A_Time *range_duration0,
                                 PF_State *state);
    PF_Err (*PF_AreStatesIdentical)(PF_ProgPtr effect_ref, const PF_State *state1,
                                    const PF_State *state2, A_Boolean *samep);
    PF_Err (*PF_IsIdenticalCheckout)(PF_ProgPtr effect_ref, PF_ParamIndex param_index,
                                     A_long what_time1, A_long time_step1, A_u_long time_scale1,
                                     A_long what_time2, A_long time_step2, A_u_long time_scale2,
                                     PF_Boolean *identicalPB);
    PF_Err (*PF_FindKeyframeTime)(PF_ProgPtr effect_ref, PF_ParamIndex param_index,
                                  A_long what_time, A_u_long time_scale, A_long time_dir,
                                  PF_Boolean *foundPB, PF_KeyframeIndex *key_indexP0,
                                  A_long *key_timeP0, A_u_long *key_timescaleP0);
    PF_Err (*PF_GetKeyframeCount)(PF_ProgPtr effect_ref, PF_ParamIndex param_index,
                                  PF_KeyframeIndex *key_countP);
    PF_Err (*PF_CheckoutKeyframe)(PF_ProgPtr effect_ref, PF_ParamIndex param_index,
                                  PF_KeyframeIndex key_index, A_long *key_timeP0,
                                  A_u_long *key_timescaleP0, PF_ParamDef *paramP0);
    PF_Err (*PF_CheckinKeyframe)(PF_ProgPtr effect_ref, PF_ParamDef *paramP);
    PF_Err (*PF_KeyIndexToTime)(PF_ProgPtr effect_ref, PF_ParamIndex param_index,
                                PF_KeyframeIndex key_indexP, A_long *key_timeP,
                                A_u_long *key_timescaleP);
} PF_ParamUtilsSuite3;

typedef const void **PF_ConstHandle;

/* During threaded renders in_data->sequence_data is NULL; this is the read-only way in. */
typedef struct PF_EffectSequenceDataSuite1 {
    PF_Err (*PF_GetConstSequenceData)(PF_ProgPtr effect_ref, PF_ConstHandle *sequence_data);
} PF_EffectSequenceDataSuite1;

#ifdef __cplusplus
}
#endif

#include "adobesdk/config/PostConfig.h"
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

#endif /* FRAMEMELD_SDK_AE_EFFECTSUITES_H */
