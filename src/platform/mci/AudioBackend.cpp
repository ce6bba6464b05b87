#include "platform/mci/AudioBackend.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/Text.h"

// Each back end file XxxBackend.cpp defines RegisterXxxBackend(); the list of them is made
// from the folder's files at configure time, so a new back end is one new file.
#define KORRIN_AUDIO_BACKEND(name) void Register##name##Backend();
namespace korrin::platform {
#include "platform/mci/AudioBackendList.inc"
}
#undef KORRIN_AUDIO_BACKEND

namespace korrin::platform {

namespace {

std::mutex gMutex;
std::vector<AudioBackendEntry> gEntries;                     // guarded by gMutex
std::map<std::string, std::unique_ptr<AudioBackend>> gMade;  // guarded by gMutex
std::map<std::string, bool> gTried;                          // guarded by gMutex
AudioBackend* gAutomatic = nullptr;                          // guarded by gMutex
std::atomic<bool> gFallbackSaid{false};

void registerAll() {
    static std::once_flag once;
    std::call_once(once, [] {
#define KORRIN_AUDIO_BACKEND(name) Register##name##Backend();
#include "platform/mci/AudioBackendList.inc"
#undef KORRIN_AUDIO_BACKEND
    });
}

// The back end made from entry, made once; null when it cannot run here. gMutex held.
AudioBackend* makeLocked(const AudioBackendEntry& entry) {
    const std::string key = entry.name;
    if (!gTried[key]) {
        gTried[key] = true;
        if (auto made = entry.make())
            gMade[key] = std::move(made);
    }
    auto it = gMade.find(key);
    return it == gMade.end() ? nullptr : it->second.get();
}

AudioBackend* virtualLocked() {
    for (const auto& e : gEntries)
        if (EqualsNoCase(e.name, "virtual"))
            return makeLocked(e);
    return nullptr;
}

void sayFallback(const std::string& why) {
    if (!gFallbackSaid.exchange(true))
        std::fprintf(stderr,
                     "korrin: %s; using the virtual sound device (playback is not heard, "
                     "recording takes KORRIN_AUDIO_CAPTURE or silence)\n",
                     why.c_str());
}

}  // namespace

void RegisterAudioBackend(const AudioBackendEntry& entry) {
    std::lock_guard lock(gMutex);
    gEntries.push_back(entry);
    std::stable_sort(gEntries.begin(), gEntries.end(),
                     [](const auto& a, const auto& b) { return a.priority > b.priority; });
}

std::vector<AudioBackendEntry> AudioBackends() {
    registerAll();
    std::lock_guard lock(gMutex);
    return gEntries;
}

AudioBackend& ChosenAudioBackend() {
    registerAll();
    const char* env = std::getenv("KORRIN_AUDIO");
    const std::string wanted = env ? env : "";
    std::string why;
    AudioBackend* chosen = nullptr;
    {
        std::lock_guard lock(gMutex);
        if (!wanted.empty()) {
            for (const auto& e : gEntries)
                if (EqualsNoCase(e.name, wanted))
                    chosen = makeLocked(e);
            if (!chosen)
                why = "the sound back end '" + wanted + "' is not available";
        } else if (gAutomatic) {
            chosen = gAutomatic;
        } else {
            for (const auto& e : gEntries) {
                if (EqualsNoCase(e.name, "virtual"))
                    continue;
                if ((chosen = makeLocked(e)))
                    break;
            }
            if (!chosen)
                why = "no sound device was found";
            gAutomatic = chosen ? chosen : virtualLocked();
        }
        if (!chosen)
            chosen = virtualLocked();
    }
    if (!why.empty())
        sayFallback(why);
    if (!chosen) {
        // The virtual back end is part of every build; reaching this is a build fault.
        std::fprintf(stderr, "korrin: no virtual sound back end is built in\n");
        std::abort();
    }
    return *chosen;
}

}  // namespace korrin::platform
