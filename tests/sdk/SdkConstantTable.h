// Expected numeric values of the SDK constants the plug-in, the runner and the PiPL rely on.
// Values are compared as 32-bit signed numbers (what an A_long field holds), so bit-31 flags are
// written with their unsigned spelling here. C(name, expected).

#pragma once

#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "AE_EffectPixelFormat.h"
#include "AE_EffectVers.h"

#define SDK_COMMAND_AND_ERROR_CONSTANTS(C)                                                         \
    C(PF_Cmd_ABOUT, 0)                                                                             \
    C(PF_Cmd_GLOBAL_SETUP, 1)                                                                      \
    C(PF_Cmd_GLOBAL_SETDOWN, 3)                                                                    \
    C(PF_Cmd_PARAMS_SETUP, 4)                                                                      \
    C(PF_Cmd_SEQUENCE_SETUP, 5)                                                                    \
    C(PF_Cmd_SEQUENCE_SETDOWN, 8)                                                                  \
    C(PF_Cmd_FRAME_SETUP, 10)                                                                      \
    C(PF_Cmd_RENDER, 11)                                                                           \
    C(PF_Cmd_FRAME_SETDOWN, 12)                                                                    \
    C(PF_Cmd_USER_CHANGED_PARAM, 13)                                                               \
    C(PF_Cmd_UPDATE_PARAMS_UI, 14)                                                                 \
    C(PF_Cmd_EVENT, 15)                                                                            \
    C(PF_Cmd_COMPLETELY_GENERAL, 17)                                                               \
    C(PF_Cmd_QUERY_DYNAMIC_FLAGS, 18)                                                              \
    C(PF_Cmd_AUDIO_SETDOWN, 21)                                                                    \
    C(PF_Cmd_ARBITRARY_CALLBACK, 22)                                                               \
    C(PF_Cmd_SMART_PRE_RENDER, 23)                                                                 \
    C(PF_Cmd_SMART_RENDER, 24)                                                                     \
    C(PF_Cmd_RESERVED3, 27)                                                                        \
    C(PF_Cmd_GET_FLATTENED_SEQUENCE_DATA, 28)                                                      \
    C(PF_Cmd_TRANSLATE_PARAMS_TO_PREFS, 29)                                                        \
    C(PF_Cmd_SMART_RENDER_GPU, 31)                                                                 \
    C(PF_Cmd_GPU_DEVICE_SETDOWN, 33)                                                               \
    C(PF_Cmd_NUM_CMDS, 34)                                                                         \
    C(PF_Err_NONE, 0)                                                                              \
    C(PF_Err_OUT_OF_MEMORY, 4)                                                                     \
    C(PF_Err_INTERNAL_STRUCT_DAMAGED, 512)                                                         \
    C(PF_Err_INVALID_INDEX, 513)                                                                   \
    C(PF_Err_UNRECOGNIZED_PARAM_TYPE, 514)                                                         \
    C(PF_Err_INVALID_CALLBACK, 515)                                                                \
    C(PF_Err_BAD_CALLBACK_PARAM, 516)                                                              \
    C(PF_Interrupt_CANCEL, 517)                                                                    \
    C(PF_Err_CANNOT_PARSE_KEYFRAME_TEXT, 518)                                                      \
    C(A_Err_NONE, 0)                                                                               \
    C(A_Err_GENERIC, 1)                                                                            \
    C(A_Err_ALLOC, 4)                                                                              \
    C(A_Err_MISSING_SUITE, 13)                                                                     \
    C(A_Err_NOT_IN_CACHE_OR_COMPUTE_PENDING, 22)                                                   \
    C(A_Err_LAST, 25)

#define SDK_FLAG_CONSTANTS(C)                                                                      \
    C(PF_OutFlag_NONE, 0)                                                                          \
    C(PF_OutFlag_KEEP_RESOURCE_OPEN, 0x1)                                                          \
    C(PF_OutFlag_WIDE_TIME_INPUT, 0x2)                                                             \
    C(PF_OutFlag_NON_PARAM_VARY, 0x4)                                                              \
    C(PF_OutFlag_SEQUENCE_DATA_NEEDS_FLATTENING, 0x10)                                             \
    C(PF_OutFlag_USE_OUTPUT_EXTENT, 0x40)                                                          \
    C(PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0x100)                                                     \
    C(PF_OutFlag_I_EXPAND_BUFFER, 0x200)                                                           \
    C(PF_OutFlag_PIX_INDEPENDENT, 0x400)                                                           \
    C(PF_OutFlag_WORKS_IN_PLACE, 0x2000)                                                           \
    C(PF_OutFlag_CUSTOM_UI, 0x8000)                                                                \
    C(PF_OutFlag_REFRESH_UI, 0x20000)                                                              \
    C(PF_OutFlag_NOP_RENDER, 0x40000)                                                              \
    C(PF_OutFlag_I_USE_AUDIO, 0x100000)                                                            \
    C(PF_OutFlag_FORCE_RERENDER, 0x400000)                                                         \
    C(PF_OutFlag_PiPL_OVERRIDES_OUTDATA_OUTFLAGS, 0x800000)                                        \
    C(PF_OutFlag_I_HAVE_EXTERNAL_DEPENDENCIES, 0x1000000)                                          \
    C(PF_OutFlag_DEEP_COLOR_AWARE, 0x2000000)                                                      \
    C(PF_OutFlag_SEND_UPDATE_PARAMS_UI, 0x4000000)                                                 \
    C(PF_OutFlag_AUDIO_FLOAT_ONLY, 0x8000000)                                                      \
    C(PF_OutFlag_AUDIO_EFFECT_TOO, 0x40000000)                                                     \
    C(PF_OutFlag_AUDIO_EFFECT_ONLY, 0x80000000u)                                                   \
    C(PF_OutFlag2_NONE, 0)                                                                         \
    C(PF_OutFlag2_SUPPORTS_QUERY_DYNAMIC_FLAGS, 0x1)                                               \
    C(PF_OutFlag2_I_AM_THREADSAFE, 0x10)                                                           \
    C(PF_OutFlag2_PRESERVES_FULLY_OPAQUE_PIXELS, 0x100)                                            \
    C(PF_OutFlag2_SUPPORTS_SMART_RENDER, 0x400)                                                    \
    C(PF_OutFlag2_FLOAT_COLOR_AWARE, 0x1000)                                                       \
    C(PF_OutFlag2_I_USE_COLORSPACE_ENUMERATION, 0x2000)                                            \
    C(PF_OutFlag2_AUTOMATIC_WIDE_TIME_INPUT, 0x20000)                                              \
    C(PF_OutFlag2_AE13_5_THREADSAFE, 0x400000)                                                     \
    C(PF_OutFlag2_SUPPORTS_GET_FLATTENED_SEQUENCE_DATA, 0x800000)                                  \
    C(PF_OutFlag2_SUPPORTS_GPU_RENDER_F32, 0x2000000)                                              \
    C(PF_OutFlag2_SUPPORTS_THREADED_RENDERING, 0x8000000)                                          \
    C(PF_OutFlag2_MUTABLE_RENDER_SEQUENCE_DATA_SLOWER, 0x10000000)                                 \
    C(PF_InFlag_PROJECT_IS_RENDER_ONLY, 1)                                                         \
    C(PF_Param_RESERVED, -1)                                                                       \
    C(PF_Param_LAYER, 0)                                                                           \
    C(PF_Param_SLIDER, 1)                                                                          \
    C(PF_Param_CHECKBOX, 4)                                                                        \
    C(PF_Param_POPUP, 7)                                                                           \
    C(PF_Param_NO_DATA, 9)                                                                         \
    C(PF_Param_FLOAT_SLIDER, 10)                                                                   \
    C(PF_Param_ARBITRARY_DATA, 11)                                                                 \
    C(PF_Param_GROUP_START, 13)                                                                    \
    C(PF_Param_GROUP_END, 14)                                                                      \
    C(PF_Param_BUTTON, 15)                                                                         \
    C(PF_Param_POINT_3D, 18)                                                                       \
    C(PF_ParamFlag_CANNOT_TIME_VARY, 0x2)                                                          \
    C(PF_ParamFlag_CANNOT_INTERP, 0x4)                                                             \
    C(PF_ParamFlag_COLLAPSE_TWIRLY, 0x20)                                                          \
    C(PF_ParamFlag_START_COLLAPSED, 0x20)                                                          \
    C(PF_ParamFlag_SUPERVISE, 0x40)                                                                \
    C(PF_ParamFlag_USE_VALUE_FOR_OLD_PROJECTS, 0x80)                                               \
    C(PF_ParamFlag_LAYER_PARAM_IS_TRACKMATTE, 0x80)                                                \
    C(PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN, 0x200)                                               \
    C(PF_PUI_NONE, 0)                                                                              \
    C(PF_PUI_TOPIC, 1)                                                                             \
    C(PF_PUI_CONTROL, 2)                                                                           \
    C(PF_PUI_STD_CONTROL_ONLY, 4)                                                                  \
    C(PF_PUI_NO_ECW_UI, 8)                                                                         \
    C(PF_PUI_DISABLED, 32)                                                                         \
    C(PF_PUI_INVISIBLE, 512)                                                                       \
    C(PF_ChangeFlag_CHANGED_VALUE, 1)                                                              \
    C(PF_ChangeFlag_SET_TO_CONSTANT, 8)                                                            \
    C(PF_ValueDisplayFlag_NONE, 0)                                                                 \
    C(PF_ValueDisplayFlag_PERCENT, 1)                                                              \
    C(PF_ValueDisplayFlag_PIXEL, 2)                                                                \
    C(PF_ValueDisplayFlag_REVERSE, 8)                                                              \
    C(PF_FSliderFlag_NONE, 0)                                                                      \
    C(PF_FSliderFlag_WANT_PHASE, 1)                                                                \
    C(PF_WorldFlag_DEEP, 1)                                                                        \
    C(PF_WorldFlag_WRITEABLE, 2)                                                                   \
    C(PF_WorldFlag_RESERVED0, 0x1000000)                                                           \
    C(PF_WorldFlag_RESERVED6, 0x40000000)                                                          \
    C(PF_WorldFlag_RESERVED, 0x80000000u)                                                          \
    C(PF_NewWorldFlag_CLEAR_PIXELS, 1)                                                             \
    C(PF_NewWorldFlag_DEEP_PIXELS, 2)                                                              \
    C(PF_ChannelMask_ALPHA, 1)                                                                     \
    C(PF_ChannelMask_RED, 2)                                                                       \
    C(PF_ChannelMask_GREEN, 4)                                                                     \
    C(PF_ChannelMask_BLUE, 8)                                                                      \
    C(PF_ChannelMask_ARGB, 15)                                                                     \
    C(PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS, 1)                                                 \
    C(PF_RenderOutputFlag_GPU_RENDER_POSSIBLE, 2)                                                  \
    C(PF_Field_FRAME, 0)                                                                           \
    C(PF_Field_UPPER, 1)                                                                           \
    C(PF_Field_LOWER, 2)                                                                           \
    C(PF_Quality_DRAWING_AUDIO, -1)                                                                \
    C(PF_Quality_HI, 1)                                                                            \
    C(PF_MF_Alpha_STRAIGHT, 1)                                                                     \
    C(PF_LayerDefault_MYSELF, -1)                                                                  \
    C(PF_LayerDefault_NONE, 0)                                                                     \
    C(PF_ParamIndex_NONE, -1)                                                                      \
    C(PF_ParamIndex_CHECK_ALL_HONOR_EXCLUDE, -4)                                                   \
    C(PF_KeyIndex_NONE, -1)                                                                        \
    C(PF_GPU_Framework_CUDA, 3)                                                                    \
    C(PF_PlatData_RES_FILE_PATH_W, 8)                                                              \
    C(PF_KernelFlag_USE_UNDEFINED, 24)                                                             \
    C(PF_KernelFlag_ALPHA_WEIGHT_CONVOLVE, 128)

#define SDK_VALUE_CONSTANTS(C)                                                                     \
    C(PF_Stage_DEVELOP, 0)                                                                         \
    C(PF_Stage_ALPHA, 1)                                                                           \
    C(PF_Stage_BETA, 2)                                                                            \
    C(PF_Stage_RELEASE, 3)                                                                         \
    C(PF_VERSION(1, 0, 0, PF_Stage_DEVELOP, 1), 0x00080001)                                        \
    C(PF_VERSION(1, 1, 0, PF_Stage_DEVELOP, 1), 0x00088001)                                        \
    C(PF_VERSION(2, 0, 0, PF_Stage_DEVELOP, 0), 0x00100000)                                        \
    C(PF_VERSION(8, 0, 0, 0, 0), 0x04000000)                                                       \
    C(PF_PLUG_IN_VERSION, 13)                                                                      \
    C(PF_PLUG_IN_SUBVERS, 28)                                                                      \
    C(PF_AE_PLUG_IN_VERSION, 13)                                                                   \
    C(PF_AE_PLUG_IN_SUBVERS, 28)                                                                   \
    C(PF_AE135_PLUG_IN_SUBVERS, 9)                                                                 \
    C(PF_AE90_PLUG_IN_SUBVERS, 14)                                                                 \
    C(PF_PixelFormat_ARGB32, 1650946657)                                                           \
    C(PF_PixelFormat_ARGB64, 909206881)                                                            \
    C(PF_PixelFormat_ARGB128, 842229089)                                                           \
    C(PF_PixelFormat_GPU_BGRA128, 1094992704)                                                      \
    C(PF_PixelFormat_RESERVED, 1631863616)                                                         \
    C(PF_PixelFormat_BGRA32, 1634887522)                                                           \
    C(PF_PixelFormat_VUYA32, 1635349878)                                                           \
    C(PF_PixelFormat_NTSCDV25, 846100068)                                                          \
    C(PF_PixelFormat_PALDV25, 846231140)                                                           \
    C(PF_PixelFormat_INVALID, 1717854562)                                                          \
    C(PF_PixelFormat_FORCE_LONG_INT, 0xFFFFFFFFu)                                                  \
    C(PF_MAX_CHAN8, 255)                                                                           \
    C(PF_HALF_CHAN8, 128)                                                                          \
    C(PF_MAX_CHAN16, 32768)                                                                        \
    C(PF_HALF_CHAN16, 16384)                                                                       \
    C(PF_MAX_EFFECT_NAME_LEN, 31)                                                                  \
    C(PF_MAX_EFFECT_PARAM_NAME_LEN, 31)                                                            \
    C(PF_MAX_PARAM_DESCRIPTION_LEN, 31)                                                            \
    C(PF_MAX_EFFECT_MSG_LEN, 255)                                                                  \
    C(PF_MAX_WORLD_WIDTH, 30000)                                                                   \
    C(PF_MAX_WORLD_HEIGHT, 30000)                                                                  \
    C(PF_FIRST_ERR, 512)                                                                           \
    C(PF_HUE_UNDEFINED, 0x80000000u)                                                               \
    C(PF_Iterations_ONCE_PER_PROCESSOR, -1)
