#include "platform/dynlib/DynLib.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <vector>

namespace korrin::platform {

namespace {

thread_local std::string lastError;

std::string programFolder() {
    std::vector<char> buf(4096);
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0)
        return {};
    std::string path(buf.data(), static_cast<std::size_t>(n));
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

HMODULE openFile(const std::string& path) {
    // RTLD_NODELETE: never unloaded, even by a stray dlclose.
    void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!h) {
        const char* e = ::dlerror();
        lastError = e ? e : "cannot be loaded";
    }
    return h;
}

bool readable(const std::string& path) {
    return ::access(path.c_str(), R_OK) == 0;
}

}  // namespace

std::string LibraryFileName(const std::string& name) {
    std::string base = name;
    auto slash = base.rfind('/');
    if (slash != std::string::npos)
        base = base.substr(slash + 1);
    auto dot = base.rfind('.');
    if (dot != std::string::npos) {
        std::string ext = base.substr(dot + 1);
        for (char& c : ext)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == "dll")
            base.resize(dot);
    }
    for (char& c : base)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return "lib" + base + ".so";
}

HMODULE LoadLibrary(const std::string& name) {
    lastError.clear();
    if (name.empty()) {
        lastError = "no library name";
        return nullptr;
    }
    if (name.find('/') != std::string::npos)
        return openFile(name);
    const std::string file = LibraryFileName(name);
    if (const char* dir = std::getenv("KORRIN_LIBDIR"); dir && *dir) {
        std::string path = std::string(dir) + "/" + file;
        if (readable(path))
            return openFile(path);
    }
    if (std::string dir = programFolder(); !dir.empty()) {
        std::string path = dir + "/" + file;
        if (readable(path))
            return openFile(path);
    }
    return openFile(file);
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    lastError.clear();
    if (!module || !name) {
        lastError = "no library";
        return nullptr;
    }
    ::dlerror();
    void* p = ::dlsym(module, name);
    if (!p) {
        const char* e = ::dlerror();
        lastError = e ? e : std::string(name) + ": not found";
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(p);
}

std::string DynLibLastError() {
    return lastError;
}

}  // namespace korrin::platform
