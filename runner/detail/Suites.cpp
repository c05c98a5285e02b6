// The basic suite and the suites it hands out: "PF ANSI Suite" 1, "PF World Suite" 2,
// "PF Iterate8 Suite" 1 and "PF iterateFloat Suite" 1. Every other name or version is refused.
#include <cstdlib>
#include <cstring>

#include "AE_EffectCBSuites.h"
#include "runner/detail/AnsiCallbacks.h"
#include "runner/detail/Iterate.h"
#include "runner/detail/Refuse.h"

namespace framemeld::runner::detail {

namespace {

// SPErrorCodes: four-character codes.
constexpr SPErr kSuiteNotFound = 0x53214664; // 'S!Fd'
constexpr SPErr kBadParameter = 0x5061726D;  // 'Parm'
constexpr SPErr kOutOfMemory = -108;
constexpr SPErr kUnimplemented = 0x21494D50; // '!IMP'

PF_Err getPixelFormat(const PF_EffectWorld *world, PF_PixelFormat *format)
{
    return shielded([&]() -> PF_Err {
        Session *session = Session::active();
        if (!session) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (format) {
            *format = PF_PixelFormat_INVALID;
        }
        if (PF_Err fault = session->enter(HostFunction::GetPixelFormat)) {
            return fault;
        }
        if (format && session->host.faults.forcedPixelFormat) {
            *format = *session->host.faults.forcedPixelFormat;
            return PF_Err_NONE;
        }
        const std::optional<PixelDepth> depth = World::depthOf(world);
        if (!format || !depth) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        *format = pixelFormatOf(*depth);
        return PF_Err_NONE;
    });
}

// Plug-ins here make no worlds of their own; the calls are counted (so they can be faulted)
// and refused.
PF_Err newWorld(PF_ProgPtr, A_long, A_long, PF_Boolean, PF_PixelFormat, PF_EffectWorld *)
{
    return shielded([&]() -> PF_Err {
        Session *session = Session::active();
        if (!session) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (PF_Err fault = session->enter(HostFunction::NewWorld)) {
            return fault;
        }
        session->noteRefused("PF_NewWorld");
        return PF_Err_INVALID_CALLBACK;
    });
}

PF_Err disposeWorld(PF_ProgPtr, PF_EffectWorld *)
{
    return shielded([&]() -> PF_Err {
        Session *session = Session::active();
        if (!session) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (PF_Err fault = session->enter(HostFunction::DisposeWorld)) {
            return fault;
        }
        session->noteRefused("PF_DisposeWorld");
        return PF_Err_INVALID_CALLBACK;
    });
}

PF_WorldSuite2 makeWorldSuite()
{
    PF_WorldSuite2 suite{};
    suite.PF_NewWorld = &newWorld;
    suite.PF_DisposeWorld = &disposeWorld;
    suite.PF_GetPixelFormat = &getPixelFormat;
    return suite;
}

PF_Iterate8Suite1 makeIterate8Suite()
{
    PF_Iterate8Suite1 suite{};
    suite.iterate = &iterate8;
    suite.iterate_generic = &iterateGeneric;
    FRAMEMELD_REFUSE(suite, iterate_origin, "PF Iterate8 Suite iterate_origin");
    FRAMEMELD_REFUSE(suite, iterate_lut, "PF Iterate8 Suite iterate_lut");
    FRAMEMELD_REFUSE(suite, iterate_origin_non_clip_src,
                     "PF Iterate8 Suite iterate_origin_non_clip_src");
    return suite;
}

PF_IterateFloatSuite1 makeIterateFloatSuite()
{
    PF_IterateFloatSuite1 suite{};
    suite.iterate = &iterateFloat;
    FRAMEMELD_REFUSE(suite, iterate_origin, "PF iterateFloat Suite iterate_origin");
    FRAMEMELD_REFUSE(suite, iterate_origin_non_clip_src,
                     "PF iterateFloat Suite iterate_origin_non_clip_src");
    return suite;
}

const void *suiteTable(const char *name, int32_t version)
{
    static const PF_WorldSuite2 world = makeWorldSuite();
    static const PF_Iterate8Suite1 iterate8Suite = makeIterate8Suite();
    static const PF_IterateFloatSuite1 iterateFloatSuite = makeIterateFloatSuite();
    if (std::strcmp(name, kPFANSISuite) == 0 && version == kPFANSISuiteVersion1) {
        return ansiSuite();
    }
    if (std::strcmp(name, kPFWorldSuite) == 0 && version == kPFWorldSuiteVersion2) {
        return &world;
    }
    if (std::strcmp(name, kPFIterate8Suite) == 0 && version == kPFIterate8SuiteVersion1) {
        return &iterate8Suite;
    }
    if (std::strcmp(name, kPFIterateFloatSuite) == 0 && version == kPFIterateFloatSuiteVersion1) {
        return &iterateFloatSuite;
    }
    return nullptr;
}

SPErr acquireSuite(const char *name, int32_t version, const void **suite)
{
    return shielded([&]() -> SPErr {
        Session *session = Session::active();
        if (suite) {
            *suite = nullptr;
        }
        if (!session) {
            return kBadParameter;
        }
        const PF_Err fault = session->enter(HostFunction::AcquireSuite);
        if (!name || !suite) {
            return kBadParameter;
        }
        const void *table = nullptr;
        if (fault == PF_Err_NONE && session->host.faults.withheldSuites.count(name) == 0) {
            table = suiteTable(name, version);
        }
        std::lock_guard<std::mutex> lock(session->mutex);
        SuiteUse &use = session->suiteUse(name, version);
        if (!table) {
            ++use.refused;
            return fault != PF_Err_NONE ? fault : kSuiteNotFound;
        }
        ++use.acquired;
        *suite = table;
        return kSPNoError;
    });
}

SPErr releaseSuite(const char *name, int32_t version)
{
    return shielded([&]() -> SPErr {
        Session *session = Session::active();
        if (!session) {
            return kBadParameter;
        }
        const PF_Err fault = session->enter(HostFunction::ReleaseSuite);
        if (!name) {
            return kBadParameter;
        }
        std::lock_guard<std::mutex> lock(session->mutex);
        ++session->suiteUse(name, version)
              .released; // taken back even when the call reports a fault
        return fault;
    });
}

SPBoolean isEqual(const char *token1, const char *token2)
{
    return token1 && token2 && std::strcmp(token1, token2) == 0;
}

SPErr allocateBlock(size_t size, void **block)
{
    return shielded([&]() -> SPErr {
        Session *session = Session::active();
        if (block) {
            *block = nullptr;
        }
        if (!session) {
            return kBadParameter;
        }
        if (PF_Err fault = session->enter(HostFunction::AllocateBlock)) {
            return fault;
        }
        if (!block) {
            return kBadParameter;
        }
        *block = std::malloc(size == 0 ? 1 : size);
        return *block ? kSPNoError : kOutOfMemory;
    });
}

SPErr freeBlock(void *block)
{
    return shielded([&]() -> SPErr {
        Session *session = Session::active();
        const PF_Err fault = session ? session->enter(HostFunction::FreeBlock) : PF_Err_NONE;
        std::free(block);
        return fault;
    });
}

SPErr reallocateBlock(void *block, size_t newSize, void **newBlock)
{
    return shielded([&]() -> SPErr {
        Session *session = Session::active();
        if (!session) {
            return kBadParameter;
        }
        if (PF_Err fault = session->enter(HostFunction::ReallocateBlock)) {
            return fault;
        }
        if (!newBlock) {
            return kBadParameter;
        }
        void *moved = std::realloc(block, newSize == 0 ? 1 : newSize);
        if (!moved) {
            return kOutOfMemory; // the old block stays valid, as with realloc
        }
        *newBlock = moved;
        return kSPNoError;
    });
}

SPErr undefinedSlot()
{
    noteRefusedCall("SPBasicSuite Undefined");
    return kUnimplemented;
}

} // namespace

SPBasicSuite *basicSuite()
{
    // The plug-in receives a non-const pointer, as from the host; the table never changes.
    static SPBasicSuite suite = [] {
        SPBasicSuite table{};
        table.AcquireSuite = &acquireSuite;
        table.ReleaseSuite = &releaseSuite;
        table.IsEqual = &isEqual;
        table.AllocateBlock = &allocateBlock;
        table.FreeBlock = &freeBlock;
        table.ReallocateBlock = &reallocateBlock;
        table.Undefined = &undefinedSlot;
        return table;
    }();
    return &suite;
}

} // namespace framemeld::runner::detail
