// Internal: host functions the runner does not offer. Each slot still gets a function, never a
// null pointer, that records the attempt and fails as the host fails an unsupported callback
// (PF_Err_INVALID_CALLBACK; a null or zero result where the slot returns no error code).
#pragma once

#include <type_traits>

#include "runner/detail/HostState.h"

namespace framemeld::runner::detail {

template <class Result> Result refusedResult()
{
    if constexpr (std::is_void_v<Result>) {
        return;
    } else if constexpr (std::is_same_v<Result, PF_Err>) {
        return PF_Err_INVALID_CALLBACK;
    } else {
        return Result{};
    }
}

inline void noteRefusedCall(const char *name)
{
    if (Session *session = Session::active()) {
        session->noteRefused(name);
    }
}

template <class Fn, const char *Name> struct Refuse;

template <class Result, class... Args, const char *Name> struct Refuse<Result (*)(Args...), Name> {
    static Result call(Args...)
    {
        noteRefusedCall(Name);
        return refusedResult<Result>();
    }
};

template <class Result, class... Args, const char *Name>
struct Refuse<Result (*)(Args..., ...), Name> {
    static Result call(Args..., ...)
    {
        noteRefusedCall(Name);
        return refusedResult<Result>();
    }
};

} // namespace framemeld::runner::detail

// Installs the refusing function into TABLE.SLOT, recording NAME when it is called.
#define FRAMEMELD_REFUSE(TABLE, SLOT, NAME)                                                        \
    do {                                                                                           \
        static constexpr char refusedName[] = NAME;                                                \
        (TABLE).SLOT =                                                                             \
            &::framemeld::runner::detail::Refuse<decltype((TABLE).SLOT), refusedName>::call;       \
    } while (0)
