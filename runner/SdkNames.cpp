#include "runner/SdkNames.h"

namespace framemeld::runner {

const char *commandName(PF_Cmd command) noexcept
{
    switch (command) {
    case PF_Cmd_ABOUT: return "PF_Cmd_ABOUT";
    case PF_Cmd_GLOBAL_SETUP: return "PF_Cmd_GLOBAL_SETUP";
    case PF_Cmd_GLOBAL_SETDOWN: return "PF_Cmd_GLOBAL_SETDOWN";
    case PF_Cmd_PARAMS_SETUP: return "PF_Cmd_PARAMS_SETUP";
    case PF_Cmd_SEQUENCE_SETUP: return "PF_Cmd_SEQUENCE_SETUP";
    case PF_Cmd_SEQUENCE_RESETUP: return "PF_Cmd_SEQUENCE_RESETUP";
    case PF_Cmd_SEQUENCE_FLATTEN: return "PF_Cmd_SEQUENCE_FLATTEN";
    case PF_Cmd_SEQUENCE_SETDOWN: return "PF_Cmd_SEQUENCE_SETDOWN";
    case PF_Cmd_DO_DIALOG: return "PF_Cmd_DO_DIALOG";
    case PF_Cmd_FRAME_SETUP: return "PF_Cmd_FRAME_SETUP";
    case PF_Cmd_RENDER: return "PF_Cmd_RENDER";
    case PF_Cmd_FRAME_SETDOWN: return "PF_Cmd_FRAME_SETDOWN";
    case PF_Cmd_USER_CHANGED_PARAM: return "PF_Cmd_USER_CHANGED_PARAM";
    case PF_Cmd_UPDATE_PARAMS_UI: return "PF_Cmd_UPDATE_PARAMS_UI";
    case PF_Cmd_EVENT: return "PF_Cmd_EVENT";
    case PF_Cmd_GET_EXTERNAL_DEPENDENCIES: return "PF_Cmd_GET_EXTERNAL_DEPENDENCIES";
    case PF_Cmd_COMPLETELY_GENERAL: return "PF_Cmd_COMPLETELY_GENERAL";
    case PF_Cmd_QUERY_DYNAMIC_FLAGS: return "PF_Cmd_QUERY_DYNAMIC_FLAGS";
    case PF_Cmd_AUDIO_RENDER: return "PF_Cmd_AUDIO_RENDER";
    case PF_Cmd_AUDIO_SETUP: return "PF_Cmd_AUDIO_SETUP";
    case PF_Cmd_AUDIO_SETDOWN: return "PF_Cmd_AUDIO_SETDOWN";
    case PF_Cmd_ARBITRARY_CALLBACK: return "PF_Cmd_ARBITRARY_CALLBACK";
    case PF_Cmd_SMART_PRE_RENDER: return "PF_Cmd_SMART_PRE_RENDER";
    case PF_Cmd_SMART_RENDER: return "PF_Cmd_SMART_RENDER";
    case PF_Cmd_GET_FLATTENED_SEQUENCE_DATA: return "PF_Cmd_GET_FLATTENED_SEQUENCE_DATA";
    case PF_Cmd_TRANSLATE_PARAMS_TO_PREFS: return "PF_Cmd_TRANSLATE_PARAMS_TO_PREFS";
    case PF_Cmd_SMART_RENDER_GPU: return "PF_Cmd_SMART_RENDER_GPU";
    case PF_Cmd_GPU_DEVICE_SETUP: return "PF_Cmd_GPU_DEVICE_SETUP";
    case PF_Cmd_GPU_DEVICE_SETDOWN: return "PF_Cmd_GPU_DEVICE_SETDOWN";
    default: return nullptr;
    }
}

std::string describeCommand(PF_Cmd command)
{
    const char *name = commandName(command);
    return name ? std::string(name) : "command " + std::to_string(command);
}

std::string describeError(PF_Err err)
{
    struct Known {
        PF_Err code;
        const char *name;
        const char *meaning;
    };
    static constexpr Known kKnown[] = {
        {PF_Err_NONE, "PF_Err_NONE", "no error"},
        {PF_Err_OUT_OF_MEMORY, "PF_Err_OUT_OF_MEMORY", "out of memory"},
        {PF_Err_INTERNAL_STRUCT_DAMAGED, "PF_Err_INTERNAL_STRUCT_DAMAGED",
         "internal structure damaged"},
        {PF_Err_INVALID_INDEX, "PF_Err_INVALID_INDEX", "invalid parameter index"},
        {PF_Err_UNRECOGNIZED_PARAM_TYPE, "PF_Err_UNRECOGNIZED_PARAM_TYPE",
         "unrecognized parameter type"},
        {PF_Err_INVALID_CALLBACK, "PF_Err_INVALID_CALLBACK", "invalid host callback"},
        {PF_Err_BAD_CALLBACK_PARAM, "PF_Err_BAD_CALLBACK_PARAM", "bad argument to a host callback"},
        {PF_Interrupt_CANCEL, "PF_Interrupt_CANCEL", "cancelled"},
        {PF_Err_CANNOT_PARSE_KEYFRAME_TEXT, "PF_Err_CANNOT_PARSE_KEYFRAME_TEXT",
         "cannot parse keyframe text"},
    };
    for (const Known &known : kKnown) {
        if (known.code == err) {
            return std::string(known.name) + " (" + known.meaning + "; code " +
                   std::to_string(err) + ")";
        }
    }
    return "error code " + std::to_string(err) + " (not an SDK error code)";
}

} // namespace framemeld::runner
