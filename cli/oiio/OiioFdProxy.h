#pragma once
// OpenImageIO reading and writing through a descriptor the tool opened itself, so that no
// library ever opens the plate's temporary file by a name someone could have planted a link at.
// Failed system calls are recorded here: some of OpenImageIO's writers (JPEG, GIF) drop the
// result of a failed write, and libjpeg writing to a file of its own ends the process on one.

#include <OpenImageIO/filesystem.h>

#include <string>

namespace framemeld::cli::oiio {

class FdProxy final : public OIIO::Filesystem::IOProxy {
public:
    // `fd` stays owned by the caller; `name` is only what messages show.
    FdProxy(int fd, const std::string &name, Mode mode);

    const char *proxytype() const override { return "framemeld-fd"; }
    size_t read(void *buffer, size_t size) override;
    size_t write(const void *buffer, size_t size) override;
    size_t pread(void *buffer, size_t size, int64_t offset) override;
    size_t pwrite(const void *buffer, size_t size, int64_t offset) override;
    size_t size() const override;

    // The errno of the first failed read or write, 0 when none failed.
    int failure() const { return failure_; }

private:
    int fd_;
    int failure_ = 0;
};

// A name that opens `fd` again (Linux /proc/self/fd/N, /dev/fd/N elsewhere), for the writers
// and readers that take no proxy: it names the open file itself, not a place in a folder.
std::string descriptorPath(int fd);

} // namespace framemeld::cli::oiio
