#include "platform/mixer/MixerBackend.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "platform/Text.h"

// Each XxxMixerBackend.cpp defines RegisterXxxMixerBackend(); the list is made from the
// folder's files at configure time.
#define KORRIN_MIXER_BACKEND(name) void Register##name##MixerBackend();
namespace korrin::platform {
#include "platform/mixer/MixerBackendList.inc"
}
#undef KORRIN_MIXER_BACKEND

namespace korrin::platform {

int MixerNotifier::Subscribe(Listener listener) {
    std::lock_guard lock(listMutex_);
    listeners_.emplace_back(next_, std::make_shared<Listener>(std::move(listener)));
    return next_++;
}

void MixerNotifier::Unsubscribe(int token) {
    {
        std::lock_guard lock(listMutex_);
        std::erase_if(listeners_, [token](const auto& l) { return l.first == token; });
    }
    // A notification that took the listener before it was removed ends before this returns.
    std::lock_guard wait(notifyMutex_);
}

void MixerNotifier::Notify(unsigned destination, unsigned control) {
    std::lock_guard running(notifyMutex_);
    std::vector<std::shared_ptr<Listener>> now;
    {
        std::lock_guard lock(listMutex_);
        for (const auto& l : listeners_)
            now.push_back(l.second);
    }
    for (const auto& l : now)
        (*l)(destination, control);
}

namespace {

std::mutex gMutex;
std::vector<MixerBackendEntry> gEntries;                     // guarded by gMutex
std::map<std::string, std::unique_ptr<MixerBackend>> gMade;  // guarded by gMutex

void registerAll() {
    static std::once_flag once;
    std::call_once(once, [] {
#define KORRIN_MIXER_BACKEND(name) Register##name##MixerBackend();
#include "platform/mixer/MixerBackendList.inc"
#undef KORRIN_MIXER_BACKEND
    });
}

MixerBackend* makeLocked(const MixerBackendEntry& e) {
    auto& slot = gMade[e.name];
    if (!slot)
        slot = e.make();
    return slot.get();
}

}  // namespace

void RegisterMixerBackend(const MixerBackendEntry& entry) {
    std::lock_guard lock(gMutex);
    gEntries.push_back(entry);
    std::stable_sort(gEntries.begin(), gEntries.end(),
                     [](const auto& a, const auto& b) { return a.priority > b.priority; });
}

MixerBackend& ChosenMixerBackend() {
    registerAll();
    const char* mixer = std::getenv("KORRIN_MIXER");
    const char* audio = std::getenv("KORRIN_AUDIO");
    std::string wanted = mixer && *mixer ? mixer : "";
    if (wanted.empty() && audio && EqualsNoCase(audio, "virtual"))
        wanted = "virtual";
    std::lock_guard lock(gMutex);
    for (const auto& e : gEntries)
        if (!wanted.empty() && EqualsNoCase(e.name, wanted))
            return *makeLocked(e);
    if (!wanted.empty())
        std::fprintf(stderr, "korrin: the mixer back end '%s' is not available\n", wanted.c_str());
    // The highest priority that is not the virtual one; the virtual one when it is alone.
    for (const auto& e : gEntries)
        if (!EqualsNoCase(e.name, "virtual"))
            return *makeLocked(e);
    return *makeLocked(gEntries.front());
}

}  // namespace korrin::platform
