#include "runner/detail/Iterate.h"

#include <algorithm>

namespace framemeld::runner::detail {

namespace {

// The first error wins; later ones from other threads are dropped.
class FirstError {
public:
    void offer(PF_Err err) noexcept
    {
        PF_Err expected = PF_Err_NONE;
        if (err != PF_Err_NONE) {
            error_.compare_exchange_strong(expected, err);
        }
    }
    bool set() const noexcept { return error_.load() != PF_Err_NONE; }
    PF_Err get() const noexcept { return error_.load(); }

private:
    std::atomic<PF_Err> error_{PF_Err_NONE};
};

template <class Pixel> Pixel *pixelRow(PF_EffectWorld *world, A_long y) noexcept
{
    return reinterpret_cast<Pixel *>(reinterpret_cast<unsigned char *>(world->data) +
                                     static_cast<std::ptrdiff_t>(y) * world->rowbytes);
}

template <class Pixel, class PixelFunc>
PF_Err iteratePixels(HostFunction function, PF_InData *inData, A_long progressBase,
                     A_long progressFinal, PF_EffectWorld *src, const PF_Rect *area, void *refcon,
                     PixelFunc pixFn, PF_EffectWorld *dst)
{
    return shielded([&]() -> PF_Err {
        Session *session = inData ? Session::fromRef(inData->effect_ref) : nullptr;
        if (!session) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (PF_Err fault = session->enter(function)) {
            return fault;
        }
        constexpr PixelDepth depth = depthOfPixel<Pixel>();
        if (!pixFn || !src || !dst || World::depthOf(src) != depth ||
            World::depthOf(dst) != depth) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }

        PF_Rect r;
        if (area) {
            r = *area;
        } else {
            r.left = 0;
            r.top = 0;
            r.right = dst->width;
            r.bottom = dst->height;
        }
        r.left = std::max<A_long>(r.left, 0);
        r.top = std::max<A_long>(r.top, 0);
        r.right = std::min({r.right, dst->width, src->width});
        r.bottom = std::min({r.bottom, dst->height, src->height});
        if (r.right <= r.left || r.bottom <= r.top) {
            return PF_Err_NONE;
        }
        const A_long rows = r.bottom - r.top;

        std::atomic<A_long> nextRow{0};
        A_long rowsDone = 0; // guarded by session->mutex
        FirstError error;
        const auto work = [&](unsigned) {
            while (!error.set()) {
                const A_long row = nextRow.fetch_add(1);
                if (row >= rows) {
                    return;
                }
                if (PF_Err cancelled = session->poll(true)) {
                    error.offer(cancelled);
                    return;
                }
                const A_long y = r.top + row;
                Pixel *in = pixelRow<Pixel>(src, y);
                Pixel *out = pixelRow<Pixel>(dst, y);
                for (A_long x = r.left; x < r.right; ++x) {
                    const PF_Err err = guardedCall(
                        *session, [&] { return pixFn(refcon, x, y, in + x, out + x); },
                        PF_Err_INTERNAL_STRUCT_DAMAGED);
                    if (err != PF_Err_NONE) {
                        error.offer(err);
                        return;
                    }
                }
                std::lock_guard<std::mutex> lock(session->mutex);
                ++rowsDone;
                const std::int64_t span = static_cast<std::int64_t>(progressFinal) - progressBase;
                const auto done = static_cast<A_long>(progressBase + span * rowsDone / rows);
                session->record.iterateProgress.push_back(ProgressReport{done, progressFinal});
            }
        };
        session->host.pool.runOnEveryWorker(work);
        return error.get();
    });
}

template <class Pixel>
PF_Err getPixelData(HostFunction function, PF_EffectWorld *world, PF_PixelPtr pixels0,
                    Pixel **pixels)
{
    return shielded([&]() -> PF_Err {
        Session *session = Session::active();
        if (!session) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (pixels) {
            *pixels = nullptr;
        }
        if (PF_Err fault = session->enter(function)) {
            return fault;
        }
        if (!pixels || World::depthOf(world) != depthOfPixel<Pixel>()) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        *pixels =
            pixels0 ? reinterpret_cast<Pixel *>(pixels0) : reinterpret_cast<Pixel *>(world->data);
        return PF_Err_NONE;
    });
}

} // namespace

PF_Err iterateGeneric(A_long iterations, void *refcon, GenericIterateFunc fn)
{
    return shielded([&]() -> PF_Err {
        Session *session = Session::active();
        if (!session) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (PF_Err fault = session->enter(HostFunction::IterateGeneric)) {
            return fault;
        }
        WorkerPool &pool = session->host.pool;
        const bool oncePerWorker = iterations == PF_Iterations_ONCE_PER_PROCESSOR;
        if (oncePerWorker) {
            iterations = static_cast<A_long>(pool.size());
        }
        if (!fn || iterations < 0) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }

        std::atomic<A_long> next{0};
        FirstError error;
        const auto call = [&](unsigned worker, A_long i) {
            error.offer(guardedCall(
                *session, [&] { return fn(refcon, static_cast<A_long>(worker), i, iterations); },
                PF_Err_INTERNAL_STRUCT_DAMAGED));
        };
        // Once per worker means worker w makes call w; otherwise calls go to whichever worker is
        // free. A nested dispatch runs inline on one worker, so it takes every call itself.
        const bool nested = pool.currentWorkerIndex().has_value();
        pool.runOnEveryWorker([&](unsigned worker) {
            if (oncePerWorker && !nested) {
                if (!error.set()) {
                    call(worker, static_cast<A_long>(worker));
                }
                return;
            }
            while (!error.set()) {
                const A_long i = next.fetch_add(1);
                if (i >= iterations) {
                    return;
                }
                call(worker, i);
            }
        });
        return error.get();
    });
}

PF_Err iterate8(PF_InData *in_data, A_long progress_base, A_long progress_final,
                PF_EffectWorld *src, const PF_Rect *area, void *refcon, PF_IteratePixel8Func pix_fn,
                PF_EffectWorld *dst)
{
    return iteratePixels<PF_Pixel8>(HostFunction::Iterate8, in_data, progress_base, progress_final,
                                    src, area, refcon, pix_fn, dst);
}

PF_Err iterate16(PF_InData *in_data, A_long progress_base, A_long progress_final,
                 PF_EffectWorld *src, const PF_Rect *area, void *refcon,
                 PF_IteratePixel16Func pix_fn, PF_EffectWorld *dst)
{
    return iteratePixels<PF_Pixel16>(HostFunction::Iterate16, in_data, progress_base,
                                     progress_final, src, area, refcon, pix_fn, dst);
}

PF_Err iterateFloat(PF_InData *in_data, A_long progress_base, A_long progress_final,
                    PF_EffectWorld *src, const PF_Rect *area, void *refcon,
                    PF_IteratePixelFloatFunc pix_fn, PF_EffectWorld *dst)
{
    return iteratePixels<PF_PixelFloat>(HostFunction::IterateFloat, in_data, progress_base,
                                        progress_final, src, area, refcon, pix_fn, dst);
}

PF_Err getPixelData8(PF_EffectWorld *world, PF_PixelPtr pixels0, PF_Pixel8 **pixels)
{
    return getPixelData(HostFunction::GetPixelData8, world, pixels0, pixels);
}

PF_Err getPixelData16(PF_EffectWorld *world, PF_PixelPtr pixels0, PF_Pixel16 **pixels)
{
    return getPixelData(HostFunction::GetPixelData16, world, pixels0, pixels);
}

} // namespace framemeld::runner::detail
