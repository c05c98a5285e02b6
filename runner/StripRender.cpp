#include "runner/StripRender.h"

#include <cstring>
#include <stdexcept>

namespace framemeld::runner {

namespace {

std::string rowsText(const PF_LRect &area)
{
    return "rows " + std::to_string(area.top) + ".." + std::to_string(area.bottom);
}

} // namespace

std::vector<PF_LRect> stripAreas(int width, int height, int rowsPerStrip)
{
    if (rowsPerStrip < 1) {
        throw std::invalid_argument("a strip needs at least one row");
    }
    if (width < 0 || height < 0) {
        throw std::invalid_argument("a layer cannot have a negative side");
    }
    if (height == 0) {
        return {PF_LRect{0, 0, width, 0}};
    }
    std::vector<PF_LRect> areas;
    areas.reserve(static_cast<std::size_t>(height / rowsPerStrip + 1));
    for (int top = 0; top < height;) {
        // Compared before adding, so a strip height near the int limit cannot overflow.
        const int bottom = height - top <= rowsPerStrip ? height : top + rowsPerStrip;
        areas.push_back(PF_LRect{0, top, width, bottom});
        top = bottom;
    }
    return areas;
}

StripsOutcome renderInStrips(Host &host, FrameSource &source, int rowsPerStrip,
                             const StripSink &sink, const RenderRequest &request)
{
    if (request.area) {
        throw std::invalid_argument("a render in strips covers the whole layer; the strips are "
                                    "its areas, so the request must not name one");
    }
    const std::vector<PF_LRect> areas = stripAreas(source.width(), source.height(), rowsPerStrip);
    StripsOutcome outcome;
    outcome.strips.reserve(areas.size());
    for (const PF_LRect &area : areas) {
        RenderRequest stripRequest = request;
        stripRequest.area = area;
        RenderResult result = host.render(source, stripRequest);

        StripReport report;
        report.area = area;
        report.preRender = result.preRender;
        report.smartRender = result.smartRender;
        report.accounting = std::move(result.accounting);
        report.record = std::move(result.record);
        outcome.strips.push_back(std::move(report));

        if (result.err() != PF_Err_NONE) {
            outcome.problem = "the strip of " + rowsText(area) + " failed with error " +
                              std::to_string(result.err());
            return outcome;
        }
        if (!result.output.valid()) {
            // Success without an output would stitch a plate with a hole in it.
            outcome.problem =
                "the strip of " + rowsText(area) + " finished without checking out its output";
            return outcome;
        }
        if (sink) {
            sink(area, result.output);
        }
    }
    outcome.complete = true;
    return outcome;
}

void stitchStrip(World &plate, const PF_LRect &area, World &output)
{
    const std::size_t rowBytes =
        static_cast<std::size_t>(plate.width()) * bytesPerPixel(plate.depth());
    for (A_long y = area.top; y < area.bottom; ++y) {
        if (rowBytes != 0) {
            std::memset(plate.row(y), 0, rowBytes);
        }
    }
    const PF_EffectWorld &placed = *output.effectWorld();
    copyPixels(output, PF_LRect{0, 0, output.width(), output.height()}, plate, placed.origin_x,
               placed.origin_y);
}

StripsOutcome renderPlateInStrips(Host &host, FrameSource &source, World &plate, int rowsPerStrip,
                                  const RenderRequest &request)
{
    if (!plate.valid() || plate.width() != source.width() || plate.height() != source.height() ||
        plate.depth() != source.depth()) {
        throw std::invalid_argument("the plate must have the layer's size and the source's depth");
    }
    const auto stitch = [&plate](const PF_LRect &area, World &output) {
        stitchStrip(plate, area, output);
    };
    return renderInStrips(host, source, rowsPerStrip, stitch, request);
}

} // namespace framemeld::runner
