// Allocation failures inside the plug-in module: the work record, the parameter record, the
// frames array, the engine, the pixel strings and the engine's working memory. Each allocation
// the module makes during a render fails in turn; the render must answer PF_Err_OUT_OF_MEMORY,
// let no exception reach the host, and keep the books balanced (leaks show at exit).
//
// The global allocation functions are replaced in this executable. Only allocations whose
// immediate caller lies in the module are counted and failed, so the runner and the test itself
// are never starved.
#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include <gtest/gtest.h>

#include "RenderHarness.h"

namespace {

std::atomic<const void *> g_moduleBase{nullptr};
std::atomic<long> g_moduleAllocations{0};
std::atomic<long> g_failAllocation{0}; // 1 = the module's first allocation; 0 = none
std::atomic<std::size_t> g_failFromSize{
    0}; // module allocations of this many bytes or more fail; 0 = none

bool FromModule(const void *caller)
{
    const void *base = g_moduleBase.load(std::memory_order_relaxed);
    Dl_info info;
    return base != nullptr && dladdr(caller, &info) != 0 && info.dli_fbase == base;
}

void *Allocate(std::size_t size, const void *caller) noexcept
{
    if (FromModule(caller)) {
        const long nth = ++g_moduleAllocations;
        if (nth == g_failAllocation.load()) {
            return nullptr;
        }
        const std::size_t limit = g_failFromSize.load();
        if (limit != 0 && size >= limit) {
            return nullptr;
        }
    }
    return std::malloc(size == 0 ? 1 : size);
}

} // namespace

void *operator new(std::size_t size)
{
    void *p = Allocate(size, __builtin_return_address(0));
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}
void *operator new[](std::size_t size)
{
    void *p = Allocate(size, __builtin_return_address(0));
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
    return Allocate(size, __builtin_return_address(0));
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept
{
    return Allocate(size, __builtin_return_address(0));
}
// Out of line, so that gcc at -O1 does not pair an inlined free with the operator new above
// and call it a mismatch: these operators are the allocator, malloc and free underneath.
static __attribute__((noinline)) void Release(void *p) noexcept
{
    std::free(p);
}
void operator delete(void *p) noexcept
{
    Release(p);
}
void operator delete[](void *p) noexcept
{
    Release(p);
}
void operator delete(void *p, std::size_t) noexcept
{
    Release(p);
}
void operator delete[](void *p, std::size_t) noexcept
{
    Release(p);
}
void operator delete(void *p, const std::nothrow_t &) noexcept
{
    Release(p);
}
void operator delete[](void *p, const std::nothrow_t &) noexcept
{
    Release(p);
}

namespace framemeld::rendertest {
namespace {

TEST(RenderAllocation, EveryAllocationFailingInTurnIsReportedAsOutOfMemory)
{
    Dl_info info;
    const rn::EntryPoint entry = ModuleEntryPoint();
    ASSERT_NE(dladdr(reinterpret_cast<void *>(entry), &info), 0);
    g_moduleBase = info.dli_fbase;

    Sliders sliders;
    sliders.end = 2;
    for (rn::PixelDepth depth :
         {rn::PixelDepth::Bits8, rn::PixelDepth::Bits16, rn::PixelDepth::Float32}) {
        SCOPED_TRACE(rn::bitsPerChannel(depth));
        auto clip = MakeClip(3, 12, depth, 3);
        auto host = MakeHost(sliders, HostSetup{2, 0});

        g_moduleAllocations = 0;
        const rn::RenderResult clean = host->render(*clip);
        ASSERT_EQ(clean.err(), PF_Err_NONE);
        const long allocations = g_moduleAllocations.load();
        ASSERT_GT(allocations, 10);

        for (long k = 1; k <= allocations; ++k) {
            SCOPED_TRACE("allocation " + std::to_string(k));
            g_moduleAllocations = 0;
            g_failAllocation = k;
            const rn::RenderResult result = host->render(*clip);
            g_failAllocation = 0;
            EXPECT_EQ(result.err(), PF_Err_OUT_OF_MEMORY);
            EXPECT_TRUE(Balanced(result.accounting));
            EXPECT_TRUE(result.accounting.escapedExceptions.empty());
            if (k <= 2) {
                // The work record or its parameter record: nothing is handed to the host.
                EXPECT_FALSE(result.accounting.preRenderDataAttached);
                EXPECT_TRUE(result.record.layerRequests.empty());
            }
        }
    }
    g_moduleBase = nullptr;
}

// A float render with no output rows draws nothing, so it needs no sample store; were one
// allocated anyway, a failure to get it would replace the render's own result with an
// out-of-memory error.
TEST(RenderAllocation, AFloatRenderWithoutRowsAsksForNoSampleStore)
{
    Dl_info info;
    const rn::EntryPoint entry = ModuleEntryPoint();
    ASSERT_NE(dladdr(reinterpret_cast<void *>(entry), &info), 0);
    g_moduleBase = info.dli_fbase;

    Sliders sliders;
    sliders.end = 39; // 40 frames: a store for one band of 300 pixels takes 40 × 3000 × 16 bytes
    auto clip = MakeClip(300, 12, rn::PixelDepth::Float32, 40);
    auto host = MakeHost(sliders, HostSetup{2, 0});
    rn::RenderRequest request;
    request.area = PF_LRect{0, 5, 300, 5}; // no rows

    g_failFromSize = 40 * 3000 * 16;
    const rn::RenderResult empty = host->render(*clip, request);
    const rn::RenderResult whole = host->render(*clip); // the limit does bite a render with rows
    g_failFromSize = 0;
    g_moduleBase = nullptr;

    EXPECT_EQ(empty.record.outputCheckouts, 1);
    EXPECT_EQ(empty.record.calls.of(rn::HostFunction::GetPixelFormat), 1);
    EXPECT_EQ(empty.err(), PF_Err_NONE);
    EXPECT_TRUE(Balanced(empty.accounting));
    EXPECT_EQ(whole.err(), PF_Err_OUT_OF_MEMORY);
    EXPECT_TRUE(Balanced(whole.accounting));
}

} // namespace
} // namespace framemeld::rendertest
