// Sound libraries loaded on first use (dlopen) instead of at program start, so that commands
// which play, record, mix or resample nothing never load them (nor what they pull in: JACK,
// the ALSA plug-ins). The library's own header still gives the types and declarations; the
// loader files (PortAudio.cpp, Alsa.cpp, Soxr.cpp) define each function the program calls
// as a small forwarder to the loaded library.
//
// Callers ask Available() at their entry point (a back end's factory, a stream's open) and
// treat false as "this library is not installed". Calling a forwarder of a library that
// cannot load is a program fault: it says so on stderr and aborts.
#pragma once

#include <cstddef>
#include <mutex>

namespace korrin::platform {

class LazyLibrary {
  public:
    // The file names tried in order (the versioned run-time names, "libsoxr.so.0").
    LazyLibrary(const char* const* names, std::size_t count);
    LazyLibrary(const LazyLibrary&) = delete;
    LazyLibrary& operator=(const LazyLibrary&) = delete;

    // Loads the library once; true when it is there. Safe from any thread.
    bool Available();
    // The address of a function of the library; aborts when it cannot be had.
    void* Symbol(const char* name);

  private:
    const char* const* names_;
    std::size_t count_;
    std::once_flag once_;
    void* handle_ = nullptr;
};

// The three sound libraries.
LazyLibrary& PortAudioLibrary();
LazyLibrary& AlsaLibrary();
LazyLibrary& SoxrLibrary();

}  // namespace korrin::platform

// Defines the forwarder body of a function of lib: the address is looked up once.
#define KORRIN_LAZY_CALL(lib, name)                                                  \
    static const auto fn = reinterpret_cast<decltype(&::name)>((lib).Symbol(#name)); \
    return fn
