// A minimal stand-in for the host, just enough for the setup commands and the suite helpers:
// records that count every callback, suites that can be withheld, and faults that make a
// callback return an error or throw on its n-th call. One FakeHost exists at a time; the
// basic suite's functions reach it through FakeHost::Current() because they carry no context.
#pragma once

#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "AE_EffectCBSuites.h"
#include "SPBasic.h"

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace framemeld::fakehost {

enum class FaultKind { None, ReturnError, ThrowInt, ThrowBadAlloc, ThrowOther };

struct Fault {
    FaultKind kind = FaultKind::None;
    int onCall = 1; // 1-based call number that fails
    int code = 0;   // returned (ReturnError) or thrown (ThrowInt)
};

using SuiteKey = std::pair<std::string, int>;

class FakeHost {
public:
    FakeHost();
    ~FakeHost();
    FakeHost(const FakeHost &) = delete;
    FakeHost &operator=(const FakeHost &) = delete;

    static FakeHost &Current();

    PF_InData in_data;
    PF_OutData out_data;

    // Suites the host refuses to hand out.
    std::set<SuiteKey> withheld;
    // Acquire calls that report an error yet still fill in a pointer.
    bool acquireErrorWithPointer = false;

    Fault addParamFault;
    Fault acquireFault;
    Fault ansiSprintfFault; // the ANSI suite's sprintf, not the utils block's

    // What the plug-in did.
    std::vector<PF_ParamDef> addedParams;
    std::vector<PF_ParamIndex> addParamIndices;
    std::vector<PF_ProgPtr> addParamRefs;
    std::map<SuiteKey, int> acquires; // successful acquisitions
    std::map<SuiteKey, int> releases;
    int addParamCalls = 0;
    int acquireCalls = 0;
    int releaseCalls = 0;
    int utilSprintfCalls = 0;
    int utilStrcpyCalls = 0;
    int ansiSprintfCalls = 0;

    // Every host call of any kind, to show that a command touched nothing.
    int TotalCalls() const;
    // Acquisitions not (yet) released, over all suites; negative means too many releases.
    int Outstanding() const;

    // The tables handed out for the three suites the plug-in uses.
    PF_ANSICallbacksSuite1 ansiSuite;
    PF_Iterate8Suite1 iterate8Suite;
    PF_IterateFloatSuite1 iterateFloatSuite;
    SPBasicSuite basic;
    PF_UtilCallbacks utils;

private:
    static FakeHost *current_;
};

// Applies a fault when its call comes; returns the code to return, or PF_Err_NONE.
int Trigger(const Fault &fault, int callNumber);

} // namespace framemeld::fakehost
