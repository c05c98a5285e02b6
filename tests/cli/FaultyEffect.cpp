// An effect module that fails the way a broken module does: it passes for a Framemeld module (the
// five sliders the tool looks for), then crashes, ends the process or fails during one command.
// Built several times with FAULTY_COMMAND (the PF_Cmd that fails) and FAULTY_KIND (how).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "AE_EffectCBSuites.h"
#include "SPBasic.h"

#define FAULTY_SEGFAULT 1        // a stray write on the thread that runs the command
#define FAULTY_WORKER_SEGFAULT 2 // a stray write in an iterate callback on a host worker thread
#define FAULTY_EXIT 3            // exit(0), as a module that "cleans up" might
#define FAULTY_ABORT 4           // abort(), as a failed assertion does
#define FAULTY_OUT_OF_MEMORY 5   // no crash: an honest error code for the tool to explain

#if !defined(FAULTY_COMMAND) || !defined(FAULTY_KIND)
#error "FAULTY_COMMAND and FAULTY_KIND must be defined"
#endif

namespace {

// The address comes through a volatile, so the compiler must emit the store as written instead
// of turning a visible null store into a trap instruction.
volatile std::uintptr_t g_strayAddress = 16;

PF_Err strayWrite()
{
    *reinterpret_cast<volatile int *>(g_strayAddress) = 1;
    return PF_Err_NONE;
}

PF_Err strayWriteOnWorker(void *, A_long, A_long, A_long)
{
    return strayWrite();
}

PF_Err failNow(PF_InData *in)
{
    switch (FAULTY_KIND) {
    case FAULTY_SEGFAULT: return strayWrite();
    case FAULTY_EXIT: std::exit(0);
    case FAULTY_ABORT: std::abort();
    case FAULTY_OUT_OF_MEMORY: return PF_Err_OUT_OF_MEMORY;
    default: break;
    }
    const void *table = nullptr;
    if (in->pica_basicP->AcquireSuite(kPFIterate8Suite, kPFIterate8SuiteVersion1, &table) != 0) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    const auto *iterate = static_cast<const PF_Iterate8Suite1 *>(table);
    const PF_Err err = iterate->iterate_generic(8, nullptr, &strayWriteOnWorker);
    in->pica_basicP->ReleaseSuite(kPFIterate8Suite, kPFIterate8SuiteVersion1);
    return err;
}

PF_Err addSlider(PF_InData *in, const char *name, float low, float high, float dephault)
{
    PF_ParamDef def;
    std::memset(&def, 0, sizeof def);
    def.param_type = PF_Param_FLOAT_SLIDER;
    std::strncpy(def.name, name, sizeof def.name - 1);
    def.u.fs_d.valid_min = def.u.fs_d.slider_min = low;
    def.u.fs_d.valid_max = def.u.fs_d.slider_max = high;
    def.u.fs_d.dephault = dephault;
    def.u.fs_d.value = dephault;
    return PF_ADD_PARAM(in, -1, &def);
}

PF_Err paramsSetup(PF_InData *in, PF_OutData *out)
{
    PF_Err err = addSlider(in, "Start Frame", 0, 30000, 0);
    if (!err) {
        err = addSlider(in, "End Frame", 0, 30000, 0);
    }
    if (!err) {
        err = addSlider(in, "Every n-th Frame", 1, 100, 1);
    }
    if (!err) {
        err = addSlider(in, "Divergence", 0, 100, 2);
    }
    if (!err) {
        err = addSlider(in, "Rating Range", 0.1f, 9999, 1);
    }
    out->num_params = 6;
    return err;
}

} // namespace

extern "C" __attribute__((visibility("default"))) PF_Err
EntryPointFunc(PF_Cmd cmd, PF_InData *in_data, PF_OutData *out_data, PF_ParamDef *[], PF_LayerDef *,
               void *)
{
    if (cmd == FAULTY_COMMAND) {
        return failNow(in_data);
    }
    switch (cmd) {
    case PF_Cmd_GLOBAL_SETUP:
        out_data->my_version = PF_VERSION(1, 0, 0, PF_Stage_DEVELOP, 0);
        out_data->out_flags2 = PF_OutFlag2_SUPPORTS_SMART_RENDER;
        return PF_Err_NONE;
    case PF_Cmd_PARAMS_SETUP: return paramsSetup(in_data, out_data);
    default: return PF_Err_NONE;
    }
}
