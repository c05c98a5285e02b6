#include "cli/plugin/FootageFailureLatch.h"

#include <new>

#include "cli/core/CliError.h"

namespace framemeld::cli {

// The runner calls a source only on the thread that sends commands, so no lock is needed.

const runner::World &FootageFailureLatch::frame(int index)
{
    try {
        return source_.frame(index);
    } catch (...) {
        if (!failure_) {
            failure_ = std::current_exception();
        }
        throw;
    }
}

void FootageFailureLatch::fillArea(int index, const PF_LRect &area, runner::World &into)
{
    try {
        source_.fillArea(index, area, into);
    } catch (...) {
        if (!failure_) {
            failure_ = std::current_exception();
        }
        throw;
    }
}

runner::World FootageFailureLatch::takeArea(int index, const PF_LRect &area)
{
    try {
        return source_.takeArea(index, area);
    } catch (...) {
        if (!failure_) {
            failure_ = std::current_exception();
        }
        throw;
    }
}

void FootageFailureLatch::rethrowFailure() const
{
    if (!failure_) {
        return;
    }
    try {
        std::rethrow_exception(failure_);
    } catch (const CliError &) {
        throw;
    } catch (const std::bad_alloc &) {
        throw;
    } catch (...) {
        return;
    }
}

} // namespace framemeld::cli
