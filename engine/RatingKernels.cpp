#include "engine/RatingKernels.h"

#include <initializer_list>

#include "engine/CpuFeatures.h"

namespace framemeld::rating {

const RatingKernels *kernelsFor(Isa isa)
{
    switch (isa) {
    case Isa::Portable: return kPortableKernels;
    case Isa::Sse2: return kSse2Kernels;
    case Isa::Avx2: return framemeld::cpu::hasAvx2() ? kAvx2Kernels : nullptr;
    }
    return nullptr;
}

namespace {

const RatingKernels &chooseKernels()
{
    for (Isa isa : {Isa::Avx2, Isa::Sse2}) {
        if (const RatingKernels *kernels = kernelsFor(isa)) {
            return *kernels;
        }
    }
    return *kPortableKernels;
}

} // namespace

const RatingKernels &bestKernels()
{
    static const RatingKernels &chosen = chooseKernels();
    return chosen;
}

} // namespace framemeld::rating
