#include "cli/plugin/PluginSession.h"

#include <exception>

#include "cli/core/CliError.h"
#include "cli/plugin/FootageFailureLatch.h"
#include "cli/plugin/ModuleFaultGuard.h"
#include "runner/SdkNames.h"
#include "runner/StripRender.h"

namespace framemeld::cli {
namespace {

runner::PluginModule loadGuarded(const std::string &path, const char *faultConsequence)
{
    guardModuleFaults(path, faultConsequence);
    try {
        return runner::PluginModule(path);
    } catch (const runner::ModuleLoadError &error) {
        throw RunError(error.what()); // names the module and the loader's reason
    } catch (const std::exception &error) {
        throw RunError("cannot load the plug-in module: " + std::string(error.what()));
    }
}

std::string joined(const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines) {
        text += (text.empty() ? "" : "; ") + line;
    }
    return text;
}

std::string failureDetail(const runner::CommandReply &preRender,
                          const runner::CommandReply &smartRender,
                          const runner::RenderRecord &record)
{
    const runner::CommandReply &failed = preRender.err != PF_Err_NONE ? preRender : smartRender;
    std::string detail =
        runner::describeCommand(failed.command) + " returned " + runner::describeError(failed.err);
    const std::string message = failed.message();
    if (!message.empty()) {
        detail += ": " + message;
    }
    if (!record.hostErrors.empty()) {
        detail += "; " + joined(record.hostErrors);
    }
    return detail;
}

} // namespace

PluginSession::PluginSession(const std::string &modulePath, int threads, std::atomic<bool> *cancel,
                             const char *faultConsequence)
    : module_(loadGuarded(modulePath, faultConsequence))
{
    runner::HostOptions options;
    options.threads = static_cast<unsigned>(threads > 0 ? threads : 0);
    options.cancel = cancel;
    host_ = std::make_unique<runner::Host>(module_.entryPoint(), options);
    const runner::SetupResult setup = host_->setup();
    if (!setup.ok()) {
        throw RunError(modulePath +
                       ": the plug-in module failed its setup: " + joined(setup.problems));
    }
    moduleVersion_ = setup.version;
}

SliderRanges PluginSession::sliderRanges() const
{
    auto range = [this](const char *label) {
        const auto index = host_->findParameter(label);
        if (!index) {
            throw RunError(module_.path() + ": the plug-in registers no slider \"" +
                           std::string(label) + "\"; is it a Framemeld module?");
        }
        const runner::Parameter &parameter = host_->parameter(*index);
        SliderRange result;
        result.label = label;
        result.validMin = parameter.validMin();
        result.validMax = parameter.validMax();
        result.defaultValue = parameter.defaultValue();
        return result;
    };
    SliderRanges ranges;
    ranges.start = range(kStartFrameLabel);
    ranges.end = range(kEndFrameLabel);
    ranges.every = range(kEveryFrameLabel);
    ranges.divergence = range(kDivergenceLabel);
    ranges.ratingRange = range(kRatingRangeLabel);
    return ranges;
}

void PluginSession::apply(const SliderValues &values)
{
    host_->setParameter(kStartFrameLabel, values.start);
    host_->setParameter(kEndFrameLabel, values.end);
    host_->setParameter(kEveryFrameLabel, values.every);
    host_->setParameter(kDivergenceLabel, values.divergence);
    host_->setParameter(kRatingRangeLabel, values.ratingRange);
}

runner::World PluginSession::render(runner::FrameSource &source,
                                    const std::function<void(long done, long total)> &progress)
{
    return renderRequest(source, {}, progress);
}

runner::World PluginSession::renderRows(runner::FrameSource &source, int top, int bottom,
                                        const std::function<void(long done, long total)> &progress)
{
    runner::RenderRequest request;
    request.area = PF_LRect{0, top, source.width(), bottom};
    runner::World output = renderRequest(source, request, progress);
    // The plug-in's output lies within the area; anything it does not cover stays transparent
    // black, as a host composites it.
    const PF_EffectWorld &placed = *output.effectWorld();
    if (placed.origin_x < 0 || placed.origin_y < top ||
        placed.origin_x + output.width() > source.width() ||
        placed.origin_y + output.height() > bottom) {
        throw RunError("the plug-in drew outside the rows it was asked for");
    }
    runner::World rows(source.width(), bottom - top, source.depth());
    runner::copyPixels(output, PF_LRect{0, 0, output.width(), output.height()}, rows,
                       placed.origin_x, placed.origin_y - top);
    return rows;
}

runner::World
PluginSession::renderRequest(runner::FrameSource &source, const runner::RenderRequest &request,
                             const std::function<void(long done, long total)> &progress)
{
    host_->setProgressHook([&progress](A_long done, A_long total) {
        if (progress) {
            progress(done, total);
        }
    });
    FootageFailureLatch latch(source);
    runner::RenderResult result = host_->render(latch, request);
    host_->setProgressHook({});

    if (host_->cancelFlag().load()) {
        throw CancelledError();
    }
    if (result.err() != PF_Err_NONE) {
        latch.rethrowFailure(); // the footage's failure, when that is what stopped the plug-in
        throw RunError("the plug-in failed to render the plate (" +
                       failureDetail(result.preRender, result.smartRender, result.record) + ")");
    }
    if (!result.output.valid()) {
        throw RunError("the plug-in finished without checking out its output; no plate to write");
    }
    return std::move(result.output);
}

runner::World PluginSession::renderInBands(runner::FrameSource &source, int bandRows,
                                           const std::function<void(double done)> &progress)
{
    const auto bands =
        static_cast<double>(runner::stripAreas(source.width(), source.height(), bandRows).size());
    runner::World plate(source.width(), source.height(), source.depth());
    std::atomic<int> finished{0};
    const auto report = [&progress](double done) {
        if (progress) {
            progress(done);
        }
    };
    host_->setProgressHook([&](A_long done, A_long total) {
        const double within =
            total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 0;
        report((finished.load() + within) / bands);
    });
    FootageFailureLatch latch(source);
    runner::StripsOutcome outcome;
    try {
        outcome = runner::renderInStrips(*host_, latch, bandRows,
                                         [&](const PF_LRect &area, runner::World &output) {
                                             runner::stitchStrip(plate, area, output);
                                             report((finished.fetch_add(1) + 1) / bands);
                                         });
    } catch (...) {
        host_->setProgressHook({});
        throw;
    }
    host_->setProgressHook({});

    if (host_->cancelFlag().load()) {
        throw CancelledError();
    }
    if (!outcome.complete) {
        latch.rethrowFailure();
        std::string detail = outcome.problem;
        if (!outcome.strips.empty() && outcome.err() != PF_Err_NONE) {
            const runner::StripReport &failed = outcome.strips.back();
            detail += ": " + failureDetail(failed.preRender, failed.smartRender, failed.record);
        }
        throw RunError("the plug-in failed to render the plate (" + detail + ")");
    }
    return plate;
}

} // namespace framemeld::cli
