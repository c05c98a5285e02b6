#include "CliTestSupport.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "cli/app/ThirdPartyLeaks.h"

namespace fs = std::filesystem;

// The test programs open movies through OpenImageIO as the tool does.
extern "C" const char *__lsan_default_suppressions()
{
    return framemeld::cli::kThirdPartyLeakSuppressions;
}
extern "C" const char *__lsan_default_options()
{
    return framemeld::cli::kLeakSanitizerOptions;
}

namespace framemeld::cli::test {

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "framemeld-cli-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "cannot make a scratch folder";
    }
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::entries() const
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(path_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void writeImage(const std::string &path, int width, int height, int channels,
                OIIO::TypeDesc fileType, OIIO::TypeDesc dataType, const void *data)
{
    auto output = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(output) << OIIO::geterror();
    OIIO::ImageSpec spec(width, height, channels, fileType);
    spec.attribute("oiio:UnassociatedAlpha", 1);
    ASSERT_TRUE(output->open(path, spec)) << output->geterror();
    ASSERT_TRUE(output->write_image(dataType, data)) << output->geterror();
    ASSERT_TRUE(output->close()) << output->geterror();
}

template <typename T>
std::vector<T> readSamples(const std::string &path, int &width, int &height, int &channels,
                           OIIO::TypeDesc *storedType)
{
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto input = OIIO::ImageInput::open(path, &config);
    if (!input) {
        ADD_FAILURE() << path << ": " << OIIO::geterror();
        return {};
    }
    const OIIO::ImageSpec &spec = input->spec();
    width = spec.width;
    height = spec.height;
    channels = spec.nchannels;
    if (storedType) {
        *storedType = spec.format;
    }
    std::vector<T> samples(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                           static_cast<std::size_t>(channels));
    EXPECT_TRUE(input->read_image(0, 0, 0, channels, OIIO::BaseTypeFromC<T>::value, samples.data()))
        << input->geterror();
    return samples;
}

template std::vector<std::uint8_t> readSamples(const std::string &, int &, int &, int &,
                                               OIIO::TypeDesc *);
template std::vector<std::uint16_t> readSamples(const std::string &, int &, int &, int &,
                                                OIIO::TypeDesc *);
template std::vector<float> readSamples(const std::string &, int &, int &, int &, OIIO::TypeDesc *);

namespace {

CommandReport runOnce(const std::vector<std::string> &args, const RunConditions &how)
{
    CommandReport result;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        ADD_FAILURE() << "pipe failed";
        return result;
    }
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        dup2(pipeEnds[1], STDERR_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        if (how.fileSizeLimit > 0) {
            signal(SIGXFSZ, SIG_IGN);
            const auto limit = static_cast<rlim_t>(how.fileSizeLimit);
            const rlimit fileSize{limit, limit};
            if (setrlimit(RLIMIT_FSIZE, &fileSize) != 0) {
                _exit(126);
            }
        }
        if (how.asNobody &&
            (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(126);
        }
        std::vector<char *> argv;
        for (const std::string &arg : args) {
            argv.push_back(const_cast<char *>(arg.c_str()));
        }
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    char buffer[4096];
    for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
        result.output.append(buffer, static_cast<std::size_t>(got));
    }
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

// LeakSanitizer scans for leaks from a thread of its own after main returns; in sanitizer builds
// that thread now and then crashes on its own ("Tracer caught signal", then "LeakSanitizer has
// encountered a fatal error": the checker failed, which is not a leak found), which says nothing
// about the program under test, whose work was done. Such a run is run once more.
bool leakCheckerCrashed(const CommandReport &run)
{
    return run.output.find("LeakSanitizer has encountered a fatal error") != std::string::npos;
}

} // namespace

CommandReport runProgram(const std::vector<std::string> &args, const RunConditions &how)
{
    CommandReport result = runOnce(args, how);
    if (leakCheckerCrashed(result)) {
        result = runOnce(args, how);
    }
    if (leakCheckerCrashed(result)) {
        // Twice in a row: in some builds the checker cannot read this process's thread-local
        // storage at all. The run goes once more without it; AddressSanitizer's own checks stay.
        const char *const was = std::getenv("ASAN_OPTIONS");
        const std::string kept = was != nullptr ? was : "";
        setenv("ASAN_OPTIONS", (kept + (kept.empty() ? "" : ":") + "detect_leaks=0").c_str(), 1);
        result = runOnce(args, how);
        if (was != nullptr) {
            setenv("ASAN_OPTIONS", kept.c_str(), 1);
        } else {
            unsetenv("ASAN_OPTIONS");
        }
    }
    // A program that died of a signal (an abort is 134) goes into the test's log whole, whatever
    // the test prints of it: a run that fails once in hundreds is understood from that log alone.
    if (result.exitStatus > 128) {
        std::cerr << "runProgram: " << args.front() << " ended with status " << result.exitStatus
                  << "; it printed:\n"
                  << result.output << "\n";
    }
    return result;
}

CommandReport runFramemeld(const std::vector<std::string> &args, const RunConditions &how)
{
    std::vector<std::string> full{framemeldPath()};
    full.insert(full.end(), args.begin(), args.end());
    return runProgram(full, how);
}

std::string framemeldPath()
{
    return FRAMEMELD_CLI_PATH;
}
std::string modulePath()
{
    return FRAMEMELD_MODULE_PATH;
}

bool fileExists(const std::string &path)
{
    std::error_code ignored;
    return fs::exists(path, ignored);
}

bool haveProgram(const std::string &name)
{
    const char *pathVariable = std::getenv("PATH");
    if (pathVariable == nullptr) {
        return false;
    }
    const std::string paths = pathVariable;
    std::size_t start = 0;
    while (start <= paths.size()) {
        std::size_t end = paths.find(':', start);
        if (end == std::string::npos) {
            end = paths.size();
        }
        const fs::path candidate = fs::path(paths.substr(start, end - start)) / name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

} // namespace framemeld::cli::test
