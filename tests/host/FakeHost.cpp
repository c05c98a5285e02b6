#include "FakeHost.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

namespace framemeld::fakehost {

FakeHost *FakeHost::current_ = nullptr;

namespace {

// SP's 'Parm' error, which the stand-in headers do not declare.
constexpr SPErr kRefused = 0x5061726D;

int VFormat(A_char *dst, const A_char *fmt, va_list args)
{
    return std::vsprintf(dst, fmt, args);
}

int UtilSprintf(A_char *dst, const A_char *fmt, ...)
{
    ++FakeHost::Current().utilSprintfCalls;
    va_list args;
    va_start(args, fmt);
    const int n = VFormat(dst, fmt, args);
    va_end(args);
    return n;
}

A_char *UtilStrcpy(A_char *dst, const A_char *src)
{
    ++FakeHost::Current().utilStrcpyCalls;
    return std::strcpy(dst, src);
}

int AnsiSuiteSprintf(A_char *dst, const A_char *fmt, ...)
{
    FakeHost &host = FakeHost::Current();
    ++host.ansiSprintfCalls;
    Trigger(host.ansiSprintfFault, host.ansiSprintfCalls);
    va_list args;
    va_start(args, fmt);
    const int n = VFormat(dst, fmt, args);
    va_end(args);
    return n;
}

PF_Err AddParam(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def)
{
    FakeHost &host = FakeHost::Current();
    ++host.addParamCalls;
    const int err = Trigger(host.addParamFault, host.addParamCalls);
    if (err != PF_Err_NONE) {
        return err;
    }
    // Byte copy, so the test can compare whole records including padding.
    host.addedParams.emplace_back();
    std::memcpy(&host.addedParams.back(), def, sizeof *def);
    host.addParamIndices.push_back(index);
    host.addParamRefs.push_back(effect_ref);
    return PF_Err_NONE;
}

SPErr AcquireSuite(const char *name, int32_t version, const void **suite)
{
    FakeHost &host = FakeHost::Current();
    ++host.acquireCalls;
    *suite = nullptr;
    const int err = Trigger(host.acquireFault, host.acquireCalls);
    if (err != 0) {
        return err;
    }
    const SuiteKey key{name, version};
    const void *table = nullptr;
    if (key == SuiteKey{kPFANSISuite, kPFANSISuiteVersion1}) {
        table = &host.ansiSuite;
    } else if (key == SuiteKey{kPFIterate8Suite, kPFIterate8SuiteVersion1}) {
        table = &host.iterate8Suite;
    } else if (key == SuiteKey{kPFIterateFloatSuite, kPFIterateFloatSuiteVersion1}) {
        table = &host.iterateFloatSuite;
    }
    if (table == nullptr || host.withheld.count(key) != 0) {
        return kRefused;
    }
    if (host.acquireErrorWithPointer) {
        *suite = table;
        return kRefused;
    }
    *suite = table;
    ++host.acquires[key];
    return kSPNoError;
}

SPErr ReleaseSuite(const char *name, int32_t version)
{
    FakeHost &host = FakeHost::Current();
    ++host.releaseCalls;
    ++host.releases[SuiteKey{name, version}];
    return kSPNoError;
}

} // namespace

int Trigger(const Fault &fault, int callNumber)
{
    if (fault.kind == FaultKind::None || callNumber != fault.onCall) {
        return 0;
    }
    switch (fault.kind) {
    case FaultKind::ReturnError: return fault.code;
    case FaultKind::ThrowInt: throw fault.code;
    case FaultKind::ThrowBadAlloc: throw std::bad_alloc();
    case FaultKind::ThrowOther: throw std::runtime_error("host callback failed");
    case FaultKind::None: break;
    }
    return 0;
}

FakeHost::FakeHost()
{
    std::memset(&in_data, 0, sizeof in_data);
    std::memset(&out_data, 0, sizeof out_data);
    std::memset(&ansiSuite, 0, sizeof ansiSuite);
    std::memset(&iterate8Suite, 0, sizeof iterate8Suite);
    std::memset(&iterateFloatSuite, 0, sizeof iterateFloatSuite);
    std::memset(&basic, 0, sizeof basic);
    std::memset(&utils, 0, sizeof utils);

    ansiSuite.sprintf = &AnsiSuiteSprintf;
    utils.ansi.sprintf = &UtilSprintf;
    utils.ansi.strcpy = &UtilStrcpy;
    basic.AcquireSuite = &AcquireSuite;
    basic.ReleaseSuite = &ReleaseSuite;

    in_data.inter.add_param = &AddParam;
    in_data.utils = &utils;
    in_data.pica_basicP = &basic;
    in_data.effect_ref = reinterpret_cast<PF_ProgPtr>(this);

    current_ = this;
}

FakeHost::~FakeHost()
{
    current_ = nullptr;
}

FakeHost &FakeHost::Current()
{
    if (current_ == nullptr) {
        throw std::logic_error("host callback called with no FakeHost alive");
    }
    return *current_;
}

int FakeHost::TotalCalls() const
{
    return addParamCalls + acquireCalls + releaseCalls + utilSprintfCalls + utilStrcpyCalls +
           ansiSprintfCalls;
}

int FakeHost::Outstanding() const
{
    int total = 0;
    for (const auto &entry : acquires) {
        total += entry.second;
    }
    for (const auto &entry : releases) {
        total -= entry.second;
    }
    return total;
}

} // namespace framemeld::fakehost
