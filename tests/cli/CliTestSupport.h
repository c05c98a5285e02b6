#pragma once
// Helpers for the command-line tool's tests: scratch folders, image files written and read with
// OpenImageIO, and running the framemeld program as a user would.

#include <OpenImageIO/imageio.h>

#include <string>
#include <vector>

namespace framemeld::cli::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    // Names in the folder (hidden ones included), sorted.
    std::vector<std::string> entries() const;

private:
    std::string path_;
};

// Writes `data` (width x height x channels samples of `dataType`) stored as `fileType`, with
// alpha left unassociated so that the samples land in the file unchanged. Fails the test on error.
void writeImage(const std::string &path, int width, int height, int channels,
                OIIO::TypeDesc fileType, OIIO::TypeDesc dataType, const void *data);

// Reads every channel of subimage 0 in `type` (raw values for integer types). Fails on error.
template <typename T>
std::vector<T> readSamples(const std::string &path, int &width, int &height, int &channels,
                           OIIO::TypeDesc *storedType = nullptr);

struct CommandReport {
    int exitStatus = -1; // the process's exit status; 128 + n when killed by signal n
    std::string output;  // stdout and stderr together
};

// How the program runs, for the tests of what it does when the system says no.
struct RunConditions {
    long long fileSizeLimit = 0; // > 0: RLIMIT_FSIZE, SIGXFSZ ignored, so writes fail with EFBIG
    bool asNobody = false;       // run as the user nobody (a test run as root cannot be refused)
};

// Runs the framemeld program built with this tree.
CommandReport runFramemeld(const std::vector<std::string> &args, const RunConditions &how = {});
// Runs any program; args[0] is the program.
CommandReport runProgram(const std::vector<std::string> &args, const RunConditions &how = {});

std::string framemeldPath();
std::string modulePath();
bool fileExists(const std::string &path);
bool haveProgram(const std::string &name);

} // namespace framemeld::cli::test
