// The process-wide allocation functions behind AllocationLedger.h. Every block carries a small
// header in front of it that says whose it is and how large, so that a free can be booked
// without any table (and without allocating while allocating).
#include "AllocationLedger.h"

#include <link.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace framemeld::ledger {
namespace {

constexpr std::uint32_t kOtherTag = 0x4F544852;  // "OTHR"
constexpr std::uint32_t kModuleTag = 0x4D4F444C; // "MODL"
constexpr std::size_t kHeaderBytes = 16;

struct Header {
    std::uint64_t size;
    std::uint32_t offset; // from the start of the underlying allocation to the block
    std::uint32_t tag;
};
static_assert(sizeof(Header) == kHeaderBytes, "the header keeps blocks aligned as malloc does");

std::atomic<std::uintptr_t> g_codeBegin{0};
std::atomic<std::uintptr_t> g_codeEnd{0};
std::atomic<std::int64_t> g_liveBlocks{0};
std::atomic<std::int64_t> g_liveBytes{0};
std::atomic<std::int64_t> g_peakBytes{0};
std::atomic<std::int64_t> g_totalBlocks{0};
std::atomic<std::int64_t> g_refused{0};
std::atomic<std::int64_t> g_budget{0};

bool FromModule(const void *caller)
{
    const auto address = reinterpret_cast<std::uintptr_t>(caller);
    return address >= g_codeBegin.load(std::memory_order_relaxed) &&
           address < g_codeEnd.load(std::memory_order_relaxed);
}

void RaisePeak(std::int64_t live)
{
    std::int64_t peak = g_peakBytes.load(std::memory_order_relaxed);
    while (live > peak &&
           !g_peakBytes.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
    }
}

// Books a module block, or refuses it under the budget.
bool Admit(std::size_t size)
{
    const auto bytes = static_cast<std::int64_t>(size);
    const std::int64_t budget = g_budget.load(std::memory_order_relaxed);
    const std::int64_t live = g_liveBytes.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    if (budget > 0 && live > budget) {
        g_liveBytes.fetch_sub(bytes, std::memory_order_relaxed);
        g_refused.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    g_liveBlocks.fetch_add(1, std::memory_order_relaxed);
    g_totalBlocks.fetch_add(1, std::memory_order_relaxed);
    RaisePeak(live);
    return true;
}

void *Allocate(std::size_t size, std::size_t alignment, const void *caller) noexcept
{
    const bool module = FromModule(caller);
    if (module && !Admit(size)) {
        return nullptr;
    }
    const std::size_t lead = alignment > kHeaderBytes ? alignment : kHeaderBytes;
    void *raw = nullptr;
    if (size > static_cast<std::size_t>(-1) - lead ||
        posix_memalign(&raw, lead > alignof(std::max_align_t) ? lead : alignof(std::max_align_t),
                       lead + size) != 0) {
        if (module) {
            g_liveBytes.fetch_sub(static_cast<std::int64_t>(size), std::memory_order_relaxed);
            g_liveBlocks.fetch_sub(1, std::memory_order_relaxed);
        }
        return nullptr;
    }
    unsigned char *block = static_cast<unsigned char *>(raw) + lead;
    Header *header = reinterpret_cast<Header *>(block - kHeaderBytes);
    header->size = size;
    header->offset = static_cast<std::uint32_t>(lead);
    header->tag = module ? kModuleTag : kOtherTag;
    return block;
}

void Free(void *pointer) noexcept
{
    if (pointer == nullptr) {
        return;
    }
    unsigned char *block = static_cast<unsigned char *>(pointer);
    Header *header = reinterpret_cast<Header *>(block - kHeaderBytes);
    if (header->tag == kModuleTag) {
        g_liveBytes.fetch_sub(static_cast<std::int64_t>(header->size), std::memory_order_relaxed);
        g_liveBlocks.fetch_sub(1, std::memory_order_relaxed);
    } else if (header->tag != kOtherTag) {
        std::fputs("allocation ledger: a block freed that operator new never handed out\n", stderr);
        std::abort();
    }
    header->tag = 0; // a second free of the same block is caught above
    std::free(block - header->offset);
}

void *AllocateOrThrow(std::size_t size, std::size_t alignment, const void *caller)
{
    void *block = Allocate(size == 0 ? 1 : size, alignment, caller);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

struct ImageSearch {
    std::uintptr_t address;
    std::uintptr_t begin;
    std::uintptr_t end;
    bool found;
};

int VisitImage(dl_phdr_info *info, std::size_t, void *context)
{
    ImageSearch *search = static_cast<ImageSearch *>(context);
    std::uintptr_t begin = static_cast<std::uintptr_t>(-1);
    std::uintptr_t end = 0;
    bool contains = false;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr) &segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD || (segment.p_flags & PF_X) == 0) {
            continue;
        }
        const std::uintptr_t first = info->dlpi_addr + segment.p_vaddr;
        const std::uintptr_t last = first + segment.p_memsz;
        begin = first < begin ? first : begin;
        end = last > end ? last : end;
        contains = contains || (search->address >= first && search->address < last);
    }
    if (!contains) {
        return 0;
    }
    search->begin = begin;
    search->end = end;
    search->found = true;
    return 1;
}

} // namespace

bool WatchModuleContaining(const void *address)
{
    ImageSearch search{reinterpret_cast<std::uintptr_t>(address), 0, 0, false};
    dl_iterate_phdr(VisitImage, &search);
    if (!search.found) {
        return false;
    }
    g_codeBegin.store(search.begin);
    g_codeEnd.store(search.end);
    return true;
}

Books Read()
{
    Books books;
    books.liveBlocks = g_liveBlocks.load();
    books.liveBytes = g_liveBytes.load();
    books.peakBytes = g_peakBytes.load();
    books.totalBlocks = g_totalBlocks.load();
    books.refused = g_refused.load();
    return books;
}

void ResetPeak()
{
    g_peakBytes.store(g_liveBytes.load());
}

void SetModuleBudget(std::int64_t bytes)
{
    g_budget.store(bytes > 0 ? bytes : 0);
}

} // namespace framemeld::ledger

using framemeld::ledger::AllocateOrThrow;

namespace {
constexpr std::size_t kPlain = alignof(std::max_align_t);
std::size_t Alignment(std::align_val_t alignment)
{
    return static_cast<std::size_t>(alignment);
}
void *AllocateNoThrow(std::size_t size, std::size_t alignment, const void *caller) noexcept
{
    try {
        return AllocateOrThrow(size, alignment, caller);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}
void Release(void *pointer) noexcept;
} // namespace

void *operator new(std::size_t size)
{
    return AllocateOrThrow(size, kPlain, __builtin_return_address(0));
}
void *operator new[](std::size_t size)
{
    return AllocateOrThrow(size, kPlain, __builtin_return_address(0));
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
    return AllocateNoThrow(size, kPlain, __builtin_return_address(0));
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept
{
    return AllocateNoThrow(size, kPlain, __builtin_return_address(0));
}
void *operator new(std::size_t size, std::align_val_t alignment)
{
    return AllocateOrThrow(size, Alignment(alignment), __builtin_return_address(0));
}
void *operator new[](std::size_t size, std::align_val_t alignment)
{
    return AllocateOrThrow(size, Alignment(alignment), __builtin_return_address(0));
}
void *operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t &) noexcept
{
    return AllocateNoThrow(size, Alignment(alignment), __builtin_return_address(0));
}
void *operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t &) noexcept
{
    return AllocateNoThrow(size, Alignment(alignment), __builtin_return_address(0));
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
void operator delete(void *p, std::align_val_t) noexcept
{
    Release(p);
}
void operator delete[](void *p, std::align_val_t) noexcept
{
    Release(p);
}
void operator delete(void *p, std::size_t, std::align_val_t) noexcept
{
    Release(p);
}
void operator delete[](void *p, std::size_t, std::align_val_t) noexcept
{
    Release(p);
}
void operator delete(void *p, std::align_val_t, const std::nothrow_t &) noexcept
{
    Release(p);
}
void operator delete[](void *p, std::align_val_t, const std::nothrow_t &) noexcept
{
    Release(p);
}

namespace {
void Release(void *pointer) noexcept
{
    framemeld::ledger::Free(pointer);
}
} // namespace
