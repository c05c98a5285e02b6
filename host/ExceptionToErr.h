#pragma once
// No exception may cross a host callback: one that reaches the host ends it (on Apple silicon at
// least). Every place that calls code which may throw, and returns to the host, turns what it
// caught into the host's error code here.

#include <new>

#include "AE_Effect.h"

// Call inside a catch block: the error code for the exception being handled. Running out of
// memory is PF_Err_OUT_OF_MEMORY; anything else is a fault of ours, PF_Err_INTERNAL_STRUCT_DAMAGED.
// (A thrown int, a missing suite, is caught by the entry point before this is asked.)
inline PF_Err ErrFromCurrentException() noexcept
{
    try {
        throw;
    } catch (const std::bad_alloc &) {
        return PF_Err_OUT_OF_MEMORY;
    } catch (...) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
}
