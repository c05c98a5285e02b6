// The operating system's loader, behind one small file: dlopen here, LoadLibraryW on Windows.
#include "runner/PluginModule.h"

#include <cstdint>
#include <cstring>
#include <utility>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#if defined(__linux__)
#include <elf.h>
#include <link.h>
#endif

#include "runner/ModuleCalls.h"

namespace framemeld::runner {

namespace {

#if defined(_WIN32)

std::wstring widen(const std::string &utf8)
{
    if (utf8.empty()) {
        return {};
    }
    const int size = static_cast<int>(utf8.size());
    const int wide =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (wide <= 0) {
        throw ModuleLoadError(utf8, "the path is not valid UTF-8");
    }
    std::wstring out(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, out.data(), wide);
    return out;
}

std::string lastErrorText()
{
    const DWORD code = GetLastError();
    char *text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string message = length ? std::string(text, length) : std::string();
    if (text) {
        LocalFree(text);
    }
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
        message.pop_back();
    }
    return message + " (error " + std::to_string(code) + ")";
}

void *openLibrary(const std::string &path)
{
    HMODULE module = LoadLibraryW(widen(path).c_str());
    if (!module) {
        throw ModuleLoadError(path, lastErrorText());
    }
    return reinterpret_cast<void *>(module);
}

void *findSymbol(void *handle, const std::string &path, const std::string &name)
{
    FARPROC symbol = GetProcAddress(reinterpret_cast<HMODULE>(handle), name.c_str());
    if (!symbol) {
        throw ModuleLoadError(path, "no exported " + name + ": " + lastErrorText());
    }
    return reinterpret_cast<void *>(symbol);
}

void closeLibrary(void *handle) noexcept
{
    FreeLibrary(reinterpret_cast<HMODULE>(handle));
}

#else

#if defined(__linux__)

// Reads exactly `size` bytes at `offset`; false when the file is shorter.
bool readAt(int fd, void *into, std::size_t size, std::uint64_t offset)
{
    auto *bytes = static_cast<unsigned char *>(into);
    while (size > 0) {
        const ssize_t got = pread(fd, bytes, size, static_cast<off_t>(offset));
        if (got <= 0) {
            return false;
        }
        bytes += got;
        size -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

// The loader maps a module's segments as its program headers describe them, whether or not the
// file holds that many bytes; the first touch of a page past the end of a truncated file then
// raises SIGBUS inside dlopen. So the headers are checked against the file's size before it is
// mapped. Files that are no ELF object of this machine's class are left to dlopen, whose own
// message says what is wrong with them without mapping anything.
void refuseTruncatedImage(const std::string &path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return; // dlopen reports why it cannot be opened
    }
    struct stat status {};
    ElfW(Ehdr) header{};
    const bool isElf = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                       readAt(fd, &header, sizeof header, 0) &&
                       std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
                       header.e_ident[EI_CLASS] == (sizeof(void *) == 8 ? ELFCLASS64 : ELFCLASS32);
    if (!isElf) {
        close(fd);
        return;
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    bool beyond = false;
    const auto cover = [&](std::uint64_t offset, std::uint64_t length) {
        beyond = beyond || offset > size || length > size - offset;
    };
    cover(header.e_phoff, std::uint64_t{header.e_phnum} * header.e_phentsize);
    cover(header.e_shoff, std::uint64_t{header.e_shnum} * header.e_shentsize);
    if (!beyond && header.e_phentsize == sizeof(ElfW(Phdr))) {
        for (unsigned i = 0; i < header.e_phnum && !beyond; ++i) {
            ElfW(Phdr) segment{};
            if (!readAt(fd, &segment, sizeof segment,
                        header.e_phoff + std::uint64_t{i} * sizeof segment)) {
                beyond = true;
            } else if (segment.p_type == PT_LOAD || segment.p_type == PT_DYNAMIC) {
                cover(segment.p_offset, segment.p_filesz);
            }
        }
    }
    close(fd);
    if (beyond) {
        throw ModuleLoadError(path,
                              "the file is truncated or damaged: its headers point past its " +
                                  std::to_string(size) + " bytes; it was not loaded");
    }
}

#endif

std::string loaderText()
{
    const char *text = dlerror();
    return text ? std::string(text) : std::string("unknown loader error");
}

void *openLibrary(const std::string &path)
{
#if defined(__linux__)
    refuseTruncatedImage(path);
#endif
    // RTLD_LOCAL: two modules loaded side by side must not resolve each other's symbols.
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        throw ModuleLoadError(path, loaderText());
    }
    return handle;
}

void *findSymbol(void *handle, const std::string &path, const std::string &name)
{
    dlerror();
    void *symbol = dlsym(handle, name.c_str());
    if (!symbol) {
        throw ModuleLoadError(path, "no exported " + name + ": " + loaderText());
    }
    return symbol;
}

void closeLibrary(void *handle) noexcept
{
    dlclose(handle);
}

#endif

} // namespace

ModuleLoadError::ModuleLoadError(std::string path, std::string loaderMessage)
    : std::runtime_error("cannot load the plug-in module '" + path + "': " + loaderMessage),
      path_(std::move(path)), loaderMessage_(std::move(loaderMessage))
{}

PluginModule::PluginModule(const std::string &path, const std::string &entryName) : path_(path)
{
    {
        // Loading runs the module's own initialisers.
        const ModuleCallScope inFlight("loading the module");
        handle_ = openLibrary(path);
    }
    try {
        void *symbol = findSymbol(handle_, path, entryName);
        // Function and object pointers share one representation on every platform we load on.
        entry_ = reinterpret_cast<EntryPoint>(reinterpret_cast<std::uintptr_t>(symbol));
    } catch (...) {
        unload();
        throw;
    }
}

PluginModule::~PluginModule()
{
    unload();
}

PluginModule::PluginModule(PluginModule &&other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), entry_(std::exchange(other.entry_, nullptr)),
      path_(std::move(other.path_))
{}

PluginModule &PluginModule::operator=(PluginModule &&other) noexcept
{
    if (this != &other) {
        unload();
        handle_ = std::exchange(other.handle_, nullptr);
        entry_ = std::exchange(other.entry_, nullptr);
        path_ = std::move(other.path_);
    }
    return *this;
}

void PluginModule::unload() noexcept
{
    if (handle_) {
        // Unloading runs the module's own finalisers.
        const ModuleCallScope inFlight("unloading the module");
        closeLibrary(handle_);
        handle_ = nullptr;
        entry_ = nullptr;
    }
}

} // namespace framemeld::runner
