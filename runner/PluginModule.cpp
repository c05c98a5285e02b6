// The operating system's loader, behind one small file: dlopen here, LoadLibraryW on Windows.
#include "runner/PluginModule.h"

#include <cstdint>
#include <utility>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

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

std::string loaderText()
{
    const char *text = dlerror();
    return text ? std::string(text) : std::string("unknown loader error");
}

void *openLibrary(const std::string &path)
{
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
    : std::runtime_error("cannot load plug-in module '" + path + "': " + loaderMessage),
      path_(std::move(path)), loaderMessage_(std::move(loaderMessage))
{}

PluginModule::PluginModule(const std::string &path, const std::string &entryName) : path_(path)
{
    handle_ = openLibrary(path);
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
        closeLibrary(handle_);
        handle_ = nullptr;
        entry_ = nullptr;
    }
}

} // namespace framemeld::runner
