#include "host/AEGP_SuiteHandler.h"

#include "AE_Effect.h"

#include <cstring>
#include <initializer_list>

AEGP_SuiteHandler::AEGP_SuiteHandler(const SPBasicSuite *pica_basicP)
    : pica_basicP_(pica_basicP), ansi_{kPFANSISuite, kPFANSISuiteVersion1, nullptr},
      iterate8_{kPFIterate8Suite, kPFIterate8SuiteVersion1, nullptr},
      iterateFloat_{kPFIterateFloatSuite, kPFIterateFloatSuiteVersion1, nullptr}
{
    if (pica_basicP_ == nullptr) {
        MissingSuiteError();
    }
}

AEGP_SuiteHandler::~AEGP_SuiteHandler()
{
    ReleaseAllSuites();
}

const void *AEGP_SuiteHandler::Acquire(const Slot &slot) const
{
    if (slot.suite == nullptr) {
        const void *suite = nullptr;
        const SPErr err = pica_basicP_->AcquireSuite(slot.name, slot.version, &suite);
        if (err != kSPNoError || suite == nullptr) {
            // A host may count the acquisition even while reporting an error; whatever it handed
            // out goes back before the throw, or it would stay held for good.
            if (suite != nullptr) {
                (void)pica_basicP_->ReleaseSuite(slot.name, slot.version);
            }
            MissingSuiteError();
        }
        slot.suite = suite;
    }
    return slot.suite;
}

// The host hands suites out as const void *; the SDK's own handler returns them writable, and
// callers written against it expect that.
PF_ANSICallbacksSuite1 *AEGP_SuiteHandler::ANSICallbacksSuite1() const
{
    return static_cast<PF_ANSICallbacksSuite1 *>(const_cast<void *>(Acquire(ansi_)));
}

PF_Iterate8Suite1 *AEGP_SuiteHandler::Iterate8Suite1() const
{
    return static_cast<PF_Iterate8Suite1 *>(const_cast<void *>(Acquire(iterate8_)));
}

PF_IterateFloatSuite1 *AEGP_SuiteHandler::IterateFloatSuite1() const
{
    return static_cast<PF_IterateFloatSuite1 *>(const_cast<void *>(Acquire(iterateFloat_)));
}

void AEGP_SuiteHandler::ReleaseSuite(const char *name, int version)
{
    for (Slot *slot : {&ansi_, &iterate8_, &iterateFloat_}) {
        if (slot->suite != nullptr && slot->version == version && name != nullptr &&
            std::strcmp(slot->name, name) == 0) {
            slot->suite = nullptr;
        }
    }
    (void)pica_basicP_->ReleaseSuite(name, version);
}

void AEGP_SuiteHandler::ReleaseAllSuites()
{
    for (Slot *slot : {&ansi_, &iterate8_, &iterateFloat_}) {
        if (slot->suite != nullptr) {
            slot->suite = nullptr;
            (void)pica_basicP_->ReleaseSuite(slot->name, slot->version);
        }
    }
}

void AEGP_SuiteHandler::MissingSuiteError() const
{
    throw static_cast<int>(PF_Err_BAD_CALLBACK_PARAM);
}
