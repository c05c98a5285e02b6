// Scoped cache of host suites. Each accessor acquires its suite on first use and hands out the
// cached table afterwards; whatever was acquired is released when the handler goes out of
// scope, also when the missing-suite error is thrown through it. Live on one command's stack
// (or one pixel callback's); never share one between threads.
#pragma once

#include "AE_EffectCBSuites.h"
#include "SPBasic.h"

class AEGP_SuiteHandler {
public:
    // A NULL basic suite throws at once (see MissingSuiteError).
    explicit AEGP_SuiteHandler(const SPBasicSuite *pica_basicP);
    ~AEGP_SuiteHandler();

    AEGP_SuiteHandler(const AEGP_SuiteHandler &) = delete;
    AEGP_SuiteHandler &operator=(const AEGP_SuiteHandler &) = delete;

    // "PF ANSI Suite" 1.
    PF_ANSICallbacksSuite1 *ANSICallbacksSuite1() const;
    // "PF Iterate8 Suite" 1.
    PF_Iterate8Suite1 *Iterate8Suite1() const;
    // "PF iterateFloat Suite" 1.
    PF_IterateFloatSuite1 *IterateFloatSuite1() const;

    // Hands a suite back to the host, ignoring the host's answer. A cached suite of the same
    // name and version is forgotten, so the handler never releases one acquisition twice.
    void ReleaseSuite(const char *name, int version);

    // Releases every cached suite and forgets it; a later accessor call acquires it again.
    void ReleaseAllSuites();

    // Throws the int PF_Err_BAD_CALLBACK_PARAM, which EntryPointFunc returns to the host.
    [[noreturn]] void MissingSuiteError() const;

private:
    struct Slot {
        const char *name;
        int version;
        mutable const void *suite;
    };

    const void *Acquire(const Slot &slot) const;

    const SPBasicSuite *pica_basicP_;
    Slot ansi_;
    Slot iterate8_;
    Slot iterateFloat_;
};
