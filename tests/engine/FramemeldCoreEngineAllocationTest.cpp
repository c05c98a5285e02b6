// When the engine cannot get its working memory, the failure must reach the caller as
// std::bad_alloc with the result pixel untouched, so a worker never writes a half-made pixel.
// Its own executable, because it replaces the global allocator to make the allocation fail.
#include <atomic>
#include <cstdlib>
#include <new>

#include <gtest/gtest.h>

#include "EngineHarness.h"

namespace {
std::atomic<bool> failNextAllocation{false};
} // namespace

// The replacement pairs malloc with free; gcc cannot see that the two replace each other.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void *operator new(std::size_t size)
{
    if (failNextAllocation.exchange(false)) {
        throw std::bad_alloc();
    }
    if (void *memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

// Array forms too: a sanitizer's own array allocation would otherwise bypass the one above.
void *operator new[](std::size_t size)
{
    return ::operator new(size);
}
void *operator new[](std::size_t size, const std::nothrow_t &tag) noexcept
{
    return ::operator new(size, tag);
}
void operator delete[](void *memory) noexcept
{
    std::free(memory);
}
void operator delete[](void *memory, std::size_t) noexcept
{
    std::free(memory);
}
void operator delete[](void *memory, const std::nothrow_t &) noexcept
{
    std::free(memory);
}

void operator delete(void *memory) noexcept
{
    std::free(memory);
}
void operator delete(void *memory, std::size_t) noexcept
{
    std::free(memory);
}
void operator delete(void *memory, const std::nothrow_t &) noexcept
{
    std::free(memory);
}

namespace {

// Short strings are worked on the stack; only a long one needs working memory from the heap.
constexpr int kLongString = 1000;

template <typename T> void expectFailureLeavesResultUntouched(int bitDepth)
{
    auto engine = framemeld::enginetest::makeEngine<T>();
    FramemeldParameter parameter =
        framemeld::enginetest::parameterFor(bitDepth, 2.0f, 1.0f, kLongString);
    PixelString<Pixel<T>> samples(0, 0, kLongString);
    Pixel<T> out{T(7), T(7), T(7), T(7)};

    // Armed inside the checked statement: the test framework allocates for its own bookkeeping
    // before it runs the statement, and that allocation must not be the one that fails.
    const auto processWithoutMemory = [&] {
        failNextAllocation = true;
        engine->process(&parameter, &samples, &out);
    };
    EXPECT_THROW(processWithoutMemory(), std::bad_alloc);
    EXPECT_FALSE(failNextAllocation.exchange(false)) << "the engine allocated nothing";
    EXPECT_TRUE(framemeld::enginetest::sameBits(out, Pixel<T>{T(7), T(7), T(7), T(7)}));

    // The engine holds nothing after the failure: the next call works as usual.
    engine->process(&parameter, &samples, &out);
    EXPECT_TRUE(framemeld::enginetest::sameBits(out, Pixel<T>{}));
}

TEST(FramemeldCoreEngineAllocation, FailureEscapesBeforeTheResultIsWritten)
{
    expectFailureLeavesResultUntouched<unsigned char>(0);
    expectFailureLeavesResultUntouched<float>(2);
}

} // namespace
