#include "cli/PluginSession.h"

#include <exception>

#include "cli/CliError.h"
#include "runner/SdkNames.h"

namespace framemeld::cli {
namespace {

// The labels the plug-in registers its sliders under: how the user knows them from the host.
constexpr const char *kStartLabel = "Start Frame";
constexpr const char *kEndLabel = "End Frame";
constexpr const char *kEveryLabel = "Every n-th Frame";
constexpr const char *kDivergenceLabel = "Divergence";
constexpr const char *kRatingRangeLabel = "Rating Range";

runner::PluginModule loadModule(const std::string &path)
{
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

} // namespace

PluginSession::PluginSession(const std::string &modulePath, int threads)
    : module_(loadModule(modulePath))
{
    runner::HostOptions options;
    options.threads = static_cast<unsigned>(threads > 0 ? threads : 0);
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
    ranges.start = range(kStartLabel);
    ranges.end = range(kEndLabel);
    ranges.every = range(kEveryLabel);
    ranges.divergence = range(kDivergenceLabel);
    ranges.ratingRange = range(kRatingRangeLabel);
    return ranges;
}

void PluginSession::apply(const SamplingPlan &plan)
{
    host_->setParameter(kStartLabel, plan.start);
    host_->setParameter(kEndLabel, plan.end);
    host_->setParameter(kEveryLabel, plan.every);
    host_->setParameter(kDivergenceLabel, plan.divergence);
    host_->setParameter(kRatingRangeLabel, plan.ratingRange);
}

runner::World PluginSession::render(runner::FrameSource &source,
                                    const std::function<void(long done, long total)> &progress)
{
    host_->setProgressHook([&progress](A_long done, A_long total) {
        if (progress) {
            progress(done, total);
        }
    });
    runner::RenderResult result = host_->render(source);
    host_->setProgressHook({});

    if (host_->cancelFlag().load()) {
        throw CancelledError();
    }
    if (result.err() != PF_Err_NONE) {
        const runner::CommandReply &failed =
            result.preRender.err != PF_Err_NONE ? result.preRender : result.smartRender;
        std::string detail = runner::describeCommand(failed.command) + " returned " +
                             runner::describeError(failed.err);
        const std::string message = failed.message();
        if (!message.empty()) {
            detail += ": " + message;
        }
        if (!result.record.hostErrors.empty()) {
            detail += "; " + joined(result.record.hostErrors);
        }
        throw RunError("the plug-in failed to render the plate (" + detail + ")");
    }
    if (!result.output.valid()) {
        throw RunError("the plug-in finished without checking out its output; no plate to write");
    }
    return std::move(result.output);
}

} // namespace framemeld::cli
