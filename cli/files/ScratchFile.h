#pragma once
// A file of working data that no exit leaves behind: made without a name where the system allows
// it (O_TMPFILE), else named and removed at once, so it is gone when its last descriptor closes,
// however the process ends (an error, Ctrl-C, SIGTERM, or SIGKILL).

#include <cstdint>
#include <string>

namespace framemeld::cli {

class ScratchFile {
public:
    // Opens a scratch file in `folder`; throws RunError naming the folder when it cannot.
    explicit ScratchFile(const std::string &folder);
    ~ScratchFile();

    ScratchFile(const ScratchFile &) = delete;
    ScratchFile &operator=(const ScratchFile &) = delete;

    // Claims `bytes` of disk up front, so a disk too small fails here, before any work, rather
    // than part way through. Throws RunError saying how much was needed.
    void reserve(std::uint64_t bytes);

    // Whole writes and reads at `offset`, retried over short transfers. Throw RunError (a full
    // disk says so; a read past the written end is an error too). Safe from several threads.
    void writeAt(std::uint64_t offset, const void *data, std::size_t size) const;
    void readAt(std::uint64_t offset, void *data, std::size_t size) const;

    const std::string &folder() const { return folder_; }

    // $TMPDIR when set and not empty, else /tmp, or /var/tmp when /tmp is in memory. Throws
    // RunError when the folder is a file system in memory (tmpfs, ramfs), whose pages count
    // against the same memory as the run's budget.
    static std::string defaultFolder();
    // Whether `folder` lies on a file system in memory.
    static bool inMemory(const std::string &folder);

private:
    std::string folder_;
    int fd_ = -1;
};

} // namespace framemeld::cli
