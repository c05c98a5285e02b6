#pragma once
// The plate is written to a temporary file beside its final name and renamed into place when
// complete, so a failed or cancelled run never leaves a partial plate. Where the file system
// allows, the file has no name at all while it is written (O_TMPFILE), so even a SIGKILL leaves
// nothing behind; it is linked under a hidden name only for the instant before the rename.
// Elsewhere it is created exclusively under a name nobody can guess (O_CREAT | O_EXCL |
// O_NOFOLLOW). Every writer goes through the descriptor made here: a link planted in the folder
// is never followed, so the run cannot be turned into overwriting some other file.

#include <string>

namespace framemeld::cli {

class TemporaryPlateFile {
public:
    // Creates the file in the folder of `target` (the resolved final name); when it needs a name
    // it is named after the target: ".<stem>.framemeld-<random>.<ext>", the stem shortened to
    // keep within NAME_MAX. Mode 0666 less the umask, as for any new file. Throws RunError
    // naming `shownAs`.
    TemporaryPlateFile(const std::string &target, const std::string &shownAs);
    // Removes the file unless it was put in place.
    ~TemporaryPlateFile();
    TemporaryPlateFile(const TemporaryPlateFile &) = delete;
    TemporaryPlateFile &operator=(const TemporaryPlateFile &) = delete;

    int fd() const { return fd_; }

    // Writes all of `bytes` at the file's position (a small text file: a record, a motion file).
    // Throws RunError naming `shownAs`: "cannot write the <what>".
    void writeText(const std::string &bytes, const std::string &what);
    const std::string &target() const { return target_; }

    // Checks that something was written and syncs it to the disk; the file stays open, for a
    // checksum of what was written. Throws RunError naming `shownAs`.
    void finish();
    // finish(), then closes the file and renames it over the target. Throws RunError naming
    // `shownAs` (the temporary name is never shown).
    void putInPlace();

private:
    void linkUnnamedFile();

    std::string target_;
    std::string shownAs_;
    std::string path_;
    int fd_ = -1;
    bool unnamed_ = false; // O_TMPFILE: path_ is empty until the file is linked
    bool finished_ = false;
};

// The temporary file's name (no folder part) for the final name `fileName`, within NAME_MAX
// bytes whatever the length of `fileName`; exposed for the tests.
std::string temporaryPlateName(const std::string &fileName, const std::string &randomPart);

// Removes the temporary plate file being written, if any. Async-signal-safe: for a second
// interrupt, which ends the process at once, and for libraries that call exit() on errors.
void removeTemporaryPlateFileNow() noexcept;

} // namespace framemeld::cli
