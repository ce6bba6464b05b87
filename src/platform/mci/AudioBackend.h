// Sound back ends of the MCI wave device. Each back end lives in its own file and registers
// itself under a name with a priority; the device never knows which one runs.
//
// Choice: KORRIN_AUDIO names the back end ("portaudio", "virtual"). Without it the back ends
// are tried from the highest priority down and the first that finds a sound device is used;
// when none does, the virtual one is used and a single line on standard error says so. A
// named back end that cannot open falls back the same way.
//
// Threads: playback pulls and capture pushes run on a thread of the back end; they must be
// short and must not call back into the MCI layer's commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/mci/WaveData.h"

namespace korrin::platform {

// A running playback or capture. Destroying it stops it and waits until the back end's
// thread no longer calls its pull or push function.
class AudioStream {
  public:
    virtual ~AudioStream() = default;
};

// Fills up to `frames` frames of the stream's format into out and returns how many it gave;
// fewer than asked means the end: the back end plays what it got and calls no more.
using AudioPull = std::function<std::size_t(std::uint8_t* out, std::size_t frames)>;
// Called once on the back end's thread when a playback has played out: after a pull gave
// fewer frames than asked, every frame it gave has been heard. Not called for a stream that
// is destroyed before that.
using AudioDone = std::function<void()>;
// Takes captured frames in the stream's format.
using AudioPush = std::function<void(const std::uint8_t* in, std::size_t frames)>;

enum class AudioStartResult { kOk, kBusy, kNoDevice, kBadFormat, kFailed };

class AudioBackend {
  public:
    virtual ~AudioBackend() = default;
    virtual std::string name() const = 0;
    // Playback and capture in the given format, whatever the device itself runs at.
    virtual std::unique_ptr<AudioStream> StartPlayback(const PcmFormat& format, AudioPull pull,
                                                       AudioDone done,
                                                       AudioStartResult& result) = 0;
    virtual std::unique_ptr<AudioStream> StartCapture(const PcmFormat& format, AudioPush push,
                                                      AudioStartResult& result) = 0;
};

// Makes the back end when it can run on this machine, null when not (no device, no server).
using AudioBackendFactory = std::unique_ptr<AudioBackend> (*)();

struct AudioBackendEntry {
    const char* name;
    int priority;  // higher is tried first; the virtual back end has 0
    AudioBackendFactory make;
};

// Called from each back end's registration function (see the generated list).
void RegisterAudioBackend(const AudioBackendEntry& entry);

// Every registered back end, highest priority first.
std::vector<AudioBackendEntry> AudioBackends();

// The back end for the next open, chosen as above. Never null. The back end object lives
// until the end of the process.
AudioBackend& ChosenAudioBackend();

}  // namespace korrin::platform
