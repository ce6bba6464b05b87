#include "platform/lazy/LazyLibrary.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace korrin::platform {

LazyLibrary::LazyLibrary(const char* const* names, std::size_t count)
    : names_(names), count_(count) {}

bool LazyLibrary::Available() {
    std::call_once(once_, [this] {
        for (std::size_t i = 0; i < count_ && !handle_; ++i)
            handle_ = ::dlopen(names_[i], RTLD_NOW | RTLD_LOCAL);
    });
    return handle_ != nullptr;
}

void* LazyLibrary::Symbol(const char* name) {
    void* address = Available() ? ::dlsym(handle_, name) : nullptr;
    if (!address) {
        std::fprintf(stderr, "korrin: %s cannot be loaded from %s\n", name, names_[0]);
        std::abort();
    }
    return address;
}

LazyLibrary& PortAudioLibrary() {
    static const char* const names[] = {"libportaudio.so.2", "libportaudio.so"};
    static LazyLibrary library(names, 2);
    return library;
}

LazyLibrary& AlsaLibrary() {
    static const char* const names[] = {"libasound.so.2", "libasound.so"};
    static LazyLibrary library(names, 2);
    return library;
}

LazyLibrary& SoxrLibrary() {
    static const char* const names[] = {"libsoxr.so.0", "libsoxr.so"};
    static LazyLibrary library(names, 2);
    return library;
}

}  // namespace korrin::platform
