// The smart-render callbacks: frame requests at pre-render, pixels and output at render.
#include <algorithm>

#include "runner/detail/HostState.h"

namespace framemeld::runner::detail {

namespace {

PF_LRect intersect(const PF_LRect &a, const PF_LRect &b) noexcept
{
    PF_LRect r;
    r.left = std::max(a.left, b.left);
    r.top = std::max(a.top, b.top);
    r.right = std::max(r.left, std::min(a.right, b.right));
    r.bottom = std::max(r.top, std::min(a.bottom, b.bottom));
    return r;
}

PF_LRect clipRect(const FrameSource &source) noexcept
{
    PF_LRect r;
    r.left = 0;
    r.top = 0;
    r.right = source.width();
    r.bottom = source.height();
    return r;
}

PF_Err checkoutLayer(PF_ProgPtr ref, PF_ParamIndex index, A_long checkoutId,
                     const PF_RenderRequest *req, A_long whatTime, A_long timeStep,
                     A_u_long timeScale, PF_CheckoutResult *result)
{
    return shielded([&]() -> PF_Err {
        Session *session = Session::fromRef(ref);
        if (!session) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        const PF_Err fault = session->enter(HostFunction::CheckoutLayer);
        std::lock_guard<std::mutex> lock(session->mutex);
        RenderContext *render = session->render;
        LayerRequest request;
        request.checkoutId = checkoutId;
        request.layer = index;
        request.whatTime = whatTime;
        request.timeStep = timeStep;
        request.timeScale = timeScale;
        request.result = fault;
        if (request.result == PF_Err_NONE) {
            if (!render || session->command != PF_Cmd_SMART_PRE_RENDER || !result || index != 0 ||
                checkoutId < 0 || timeScale == 0 || render->requested.count(checkoutId) != 0) {
                request.result = PF_Err_BAD_CALLBACK_PARAM;
            }
        }
        if (request.result == PF_Err_NONE) {
            request.frame = clipFrameAt(*render, whatTime, timeScale);

            // A time outside the clip still answers with the clip's rectangles: the host renders
            // the layer there as transparent pixels of the same size.
            const PF_LRect clip = clipRect(*render->source);
            LayerCheckout &checkout = render->requested[checkoutId];
            checkout.frame = request.frame;
            checkout.area = req ? intersect(req->rect, clip) : clip;
            *result = PF_CheckoutResult{};
            result->result_rect = checkout.area;
            result->max_result_rect = clip;
            result->par.num = 1;
            result->par.den = 1;
            result->ref_width = clip.right;
            result->ref_height = clip.bottom;
        }
        session->record.layerRequests.push_back(request);
        return request.result;
    });
}

PF_Err guidMixIn(PF_ProgPtr ref, A_u_long size, const void *buffer)
{
    return shielded([&]() -> PF_Err {
        Session *session = Session::fromRef(ref);
        if (!session) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (PF_Err fault = session->enter(HostFunction::GuidMixIn)) {
            return fault;
        }
        return size != 0 && !buffer ? PF_Err_BAD_CALLBACK_PARAM : PF_Err_NONE;
    });
}

bool sameArea(const PF_LRect &a, const PF_LRect &b) noexcept
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

bool isWholeFrame(const PF_LRect &area, const FrameSource &source) noexcept
{
    return area.left == 0 && area.top == 0 && area.right == source.width() &&
           area.bottom == source.height();
}

// The pixels behind a checkout id, covering the area answered at pre-render, or null after
// recording why there are none. A whole frame is the source's own; part of one is filled into a
// world of the area's size, as a host renders the layer only where it was asked to. Holds the
// mutex.
const World *frameFor(Session &session, RenderContext &render, A_long checkoutId, PF_Err &err)
{
    const LayerCheckout &checkout = render.requested.at(checkoutId);
    FrameSource &source = *render.source;
    const PF_LRect &area = checkout.area;
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (!checkout.frame) {
        if (!render.transparent || !sameArea(render.transparentArea, area)) {
            render.extraWorlds.emplace_back(width, height, source.depth());
            render.transparent = &render.extraWorlds.back();
            render.transparentArea = area;
        }
        return render.transparent;
    }
    const std::string name = "frame " + std::to_string(*checkout.frame);
    try {
        if (isWholeFrame(area, source)) {
            const World &world = source.frame(*checkout.frame);
            if (!world.valid() || world.width() != width || world.height() != height ||
                world.depth() != source.depth()) {
                session.record.hostErrors.push_back(name +
                                                    " does not match the clip's size and depth");
                err = PF_Err_INTERNAL_STRUCT_DAMAGED;
                return nullptr;
            }
            return &world;
        }
        World taken = width > 0 && height > 0 ? source.takeArea(*checkout.frame, area) : World();
        if (taken.valid()) {
            render.extraWorlds.push_back(std::move(taken));
        } else {
            render.extraWorlds.emplace_back(width, height, source.depth());
            if (width > 0 && height > 0) {
                source.fillArea(*checkout.frame, area, render.extraWorlds.back());
            }
        }
        World &part = render.extraWorlds.back();
        // The source gets the world by reference and could have put another one in its place.
        if (!part.valid() || part.width() != width || part.height() != height ||
            part.depth() != source.depth()) {
            session.record.hostErrors.push_back("rows " + std::to_string(area.top) + ".." +
                                                std::to_string(area.bottom) + " of " + name +
                                                " came back in another size or depth");
            err = PF_Err_INTERNAL_STRUCT_DAMAGED;
            return nullptr;
        }
        return &part;
    } catch (const std::bad_alloc &) {
        session.record.hostErrors.push_back("out of memory loading " + name);
        err = PF_Err_OUT_OF_MEMORY;
    } catch (const std::exception &error) {
        session.record.hostErrors.push_back(name + ": " + error.what());
        err = PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    return nullptr;
}

PF_Err checkoutLayerPixels(PF_ProgPtr ref, A_long checkoutId, PF_EffectWorld **pixels)
{
    return shielded([&]() -> PF_Err {
        Session *session = Session::fromRef(ref);
        if (!session) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (pixels) {
            *pixels = nullptr;
        }
        const PF_Err fault = session->enter(HostFunction::CheckoutLayerPixels);
        std::lock_guard<std::mutex> lock(session->mutex);
        PixelCheckout checkout;
        checkout.checkoutId = checkoutId;
        checkout.result = fault;
        RenderContext *render = session->render;
        if (checkout.result == PF_Err_NONE &&
            (!render || session->command != PF_Cmd_SMART_RENDER || !pixels)) {
            checkout.result = PF_Err_BAD_CALLBACK_PARAM;
        }
        if (checkout.result == PF_Err_NONE && render->requested.count(checkoutId) == 0) {
            session->accounting.unrequestedCheckouts.push_back(checkoutId);
            checkout.result = PF_Err_BAD_CALLBACK_PARAM;
        }
        if (checkout.result == PF_Err_NONE) {
            if (render->checkedOut[checkoutId]++ == 1) {
                session->accounting.repeatedCheckouts.push_back(checkoutId);
            }
            const FaultPlan &plan = session->host.faults;
            if (plan.nullWorldCheckouts.count(checkoutId) == 0) {
                const World *world = frameFor(*session, *render, checkoutId, checkout.result);
                if (world) {
                    const auto smaller = plan.smallerWorldCheckouts.find(checkoutId);
                    if (smaller != plan.smallerWorldCheckouts.end()) {
                        const int w = std::clamp(smaller->second.width, 0, world->width());
                        const int h = std::clamp(smaller->second.height, 0, world->height());
                        render->extraWorlds.push_back(world->cropped(w, h));
                        world = &render->extraWorlds.back();
                    }
                    // Each checkout gets its own record, so whatever the plug-in does to it cannot
                    // reach the source's frame or another checkout.
                    render->handedOut.push_back(*world->effectWorld());
                    // Where the world's first pixel sits in the layer, as the host marks every
                    // smart-render checkout.
                    const PF_LRect &area = render->requested.at(checkoutId).area;
                    render->handedOut.back().origin_x = area.left;
                    render->handedOut.back().origin_y = area.top;
                    *pixels = &render->handedOut.back();
                    checkout.gotWorld = true;
                }
            }
        }
        session->record.pixelCheckouts.push_back(checkout);
        return checkout.result;
    });
}

PF_Err checkinLayerPixels(PF_ProgPtr ref, A_long checkoutId)
{
    return shielded([&]() -> PF_Err {
        Session *session = Session::fromRef(ref);
        if (!session) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        const PF_Err fault = session->enter(HostFunction::CheckinLayerPixels);
        std::lock_guard<std::mutex> lock(session->mutex);
        session->record.pixelCheckins.push_back(checkoutId);
        RenderContext *render = session->render;
        if (!render || render->checkedOut.count(checkoutId) == 0) {
            return fault != PF_Err_NONE ? fault : PF_Err_BAD_CALLBACK_PARAM;
        }
        return fault;
    });
}

PF_Err checkoutOutput(PF_ProgPtr ref, PF_EffectWorld **output)
{
    return shielded([&]() -> PF_Err {
        Session *session = Session::fromRef(ref);
        if (!session) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (output) {
            *output = nullptr;
        }
        if (PF_Err fault = session->enter(HostFunction::CheckoutOutput)) {
            return fault;
        }
        std::lock_guard<std::mutex> lock(session->mutex);
        ++session->record.outputCheckouts;
        RenderContext *render = session->render;
        if (!render || session->command != PF_Cmd_SMART_RENDER || !output) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (session->host.faults.failOutputCheckout) {
            return *session->host.faults.failOutputCheckout;
        }
        if (!render->output.valid()) {
            try {
                const PF_LRect &r = render->outputRect;
                render->output = World(r.right - r.left, r.bottom - r.top, render->source->depth(),
                                       session->host.options.outputPadding);
            } catch (const std::bad_alloc &) {
                return PF_Err_OUT_OF_MEMORY;
            }
            render->output.fillBytes(session->host.options.outputFill);
            render->output.effectWorld()->origin_x = render->outputRect.left;
            render->output.effectWorld()->origin_y = render->outputRect.top;
        }
        *output = render->output.effectWorld();
        return PF_Err_NONE;
    });
}

} // namespace

void fillPreRenderCallbacks(PF_PreRenderCallbacks &cb)
{
    cb.checkout_layer = &checkoutLayer;
    cb.GuidMixInPtr = &guidMixIn;
}

void fillSmartRenderCallbacks(PF_SmartRenderCallbacks &cb)
{
    cb.checkout_layer_pixels = &checkoutLayerPixels;
    cb.checkin_layer_pixels = &checkinLayerPixels;
    cb.checkout_output = &checkoutOutput;
}

} // namespace framemeld::runner::detail
