// The machine's default input and output devices through PortAudio. The device runs in the
// file's own rate and channels when it takes them, otherwise in its default rate, and the
// audio is changed on the way (16-bit samples on the device side always).
#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>

#include "platform/lazy/LazyLibrary.h"
#include "platform/mci/AudioBackend.h"
#include "platform/mci/PcmConvert.h"

namespace korrin::platform {

namespace {

// ALSA prints its configuration complaints (no card, no plugin) straight to stderr while
// PortAudio probes it; the probe's own result says enough.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

// The sound servers PortAudio probes at start-up (JACK among them) print their own
// complaints on stderr when they are not running; the probe's result says what matters.
// stderr is closed for the probe only, which runs once per process.
PaError quietly(PaError (*probe)()) {
    std::fflush(stderr);
    const int saved = dup(2);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved >= 0 && null >= 0)
        dup2(null, 2);
    const PaError e = probe();
    if (saved >= 0 && null >= 0)
        dup2(saved, 2);
    if (null >= 0)
        close(null);
    if (saved >= 0)
        close(saved);
    return e;
}

struct DeviceChoice {
    PaStreamParameters params{};
    double rate = 0;
};

// The stream parameters for format on device, or false when the device cannot be used.
bool chooseParameters(PaDeviceIndex device, bool input, const PcmFormat& format,
                      DeviceChoice& out) {
    if (device == paNoDevice)
        return false;
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    if (!info)
        return false;
    const int maxChannels = input ? info->maxInputChannels : info->maxOutputChannels;
    if (maxChannels < 1)
        return false;
    out.params.device = device;
    out.params.sampleFormat = paInt16;
    out.params.suggestedLatency =
        input ? info->defaultLowInputLatency : info->defaultLowOutputLatency;
    out.params.channelCount = std::min<int>(format.channels, maxChannels);
    out.rate = format.samplesPerSec;
    const PaStreamParameters* in = input ? &out.params : nullptr;
    const PaStreamParameters* outp = input ? nullptr : &out.params;
    if (Pa_IsFormatSupported(in, outp, out.rate) == paFormatIsSupported)
        return true;
    out.rate = info->defaultSampleRate;
    return Pa_IsFormatSupported(in, outp, out.rate) == paFormatIsSupported;
}

AudioStartResult startResult(PaError e) {
    switch (e) {
        case paDeviceUnavailable:
            return AudioStartResult::kBusy;
        case paInvalidDevice:
            return AudioStartResult::kNoDevice;
        case paInvalidSampleRate:
        case paInvalidChannelCount:
        case paSampleFormatNotSupported:
            return AudioStartResult::kBadFormat;
        default:
            return AudioStartResult::kFailed;
    }
}

class PortAudioStream : public AudioStream {
  public:
    ~PortAudioStream() override {
        if (stream_) {
            // Destroyed before its end (a stop): what is queued is dropped, and the end is no
            // longer told.
            closing_ = true;
            Pa_AbortStream(stream_);
            Pa_CloseStream(stream_);
        }
    }

    // Opens and starts the stream; kOk or why not.
    AudioStartResult start(const DeviceChoice& choice, bool input) {
        const PaStreamParameters* in = input ? &choice.params : nullptr;
        const PaStreamParameters* out = input ? nullptr : &choice.params;
        PaError e = Pa_OpenStream(
            &stream_, in, out, choice.rate, paFramesPerBufferUnspecified, paNoFlag,
            input ? &PortAudioStream::captureThunk : &PortAudioStream::playbackThunk, this);
        if (e != paNoError) {
            stream_ = nullptr;
            return startResult(e);
        }
        // A playback that returned paComplete plays what the device still holds, then ends:
        // only then has the last frame been heard.
        if (!input)
            Pa_SetStreamFinishedCallback(stream_, &PortAudioStream::finishedThunk);
        e = Pa_StartStream(stream_);
        if (e != paNoError)
            return startResult(e);
        return AudioStartResult::kOk;
    }

    PcmFormat file;    // what the MCI device deals in
    PcmFormat device;  // what the sound card runs at
    std::unique_ptr<PcmConverter> convert;
    AudioPull pull;
    AudioDone done;
    AudioPush push;

  private:
    static void finishedThunk(void* self) {
        auto* s = static_cast<PortAudioStream*>(self);
        if (s->ended_ && !s->closing_ && s->done)
            s->done();
    }
    static int playbackThunk(const void*, void* output, unsigned long frames,
                             const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* self) {
        return static_cast<PortAudioStream*>(self)->play(static_cast<std::uint8_t*>(output),
                                                         frames);
    }
    static int captureThunk(const void* input, void*, unsigned long frames,
                            const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* self) {
        return static_cast<PortAudioStream*>(self)->capture(static_cast<const std::uint8_t*>(input),
                                                            frames);
    }

    int play(std::uint8_t* output, unsigned long frames) {
        const std::size_t want = frames * device.blockAlign();
        while (pending_.size() < want && !ended_) {
            // Enough source frames for what is missing, and one more for the rate change.
            const std::size_t missing = (want - pending_.size()) / device.blockAlign();
            const std::size_t ask =
                std::size_t(double(missing) * file.samplesPerSec / device.samplesPerSec) + 1;
            source_.resize(ask * file.blockAlign());
            const std::size_t got = pull(source_.data(), ask);
            convert->Convert(source_.data(), got * file.blockAlign(), pending_);
            if (got < ask) {
                convert->Finish(pending_);  // the resampler's last milliseconds
                ended_ = true;
            }
        }
        const std::size_t n = std::min(want, pending_.size());
        std::copy_n(pending_.begin(), n, output);
        std::fill(output + n, output + want, 0);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
        return ended_ && pending_.empty() ? paComplete : paContinue;
    }

    int capture(const std::uint8_t* input, unsigned long frames) {
        if (!input)
            return paContinue;
        pending_.clear();
        convert->Convert(input, frames * device.blockAlign(), pending_);
        if (const std::size_t n = pending_.size() / file.blockAlign())
            push(pending_.data(), n);
        return paContinue;
    }

    PaStream* stream_ = nullptr;
    std::vector<std::uint8_t> pending_, source_;  // back end thread only
    std::atomic<bool> ended_{false};              // set on the back end's thread
    std::atomic<bool> closing_{false};
};

class PortAudioBackend : public AudioBackend {
  public:
    ~PortAudioBackend() override { Pa_Terminate(); }
    std::string name() const override { return "portaudio"; }

    std::unique_ptr<AudioStream> StartPlayback(const PcmFormat& format, AudioPull pull,
                                               AudioDone done, AudioStartResult& result) override {
        return start(format, false, std::move(pull), std::move(done), {}, result);
    }
    std::unique_ptr<AudioStream> StartCapture(const PcmFormat& format, AudioPush push,
                                              AudioStartResult& result) override {
        return start(format, true, {}, {}, std::move(push), result);
    }

  private:
    std::unique_ptr<AudioStream> start(const PcmFormat& format, bool input, AudioPull pull,
                                       AudioDone done, AudioPush push, AudioStartResult& result) {
        std::lock_guard lock(mutex_);  // PortAudio's open is not thread-safe
        DeviceChoice choice;
        const PaDeviceIndex device =
            input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
        if (!chooseParameters(device, input, format, choice)) {
            result =
                device == paNoDevice ? AudioStartResult::kNoDevice : AudioStartResult::kBadFormat;
            return nullptr;
        }
        auto s = std::make_unique<PortAudioStream>();
        s->file = format;
        s->device = PcmFormat{static_cast<std::uint16_t>(choice.params.channelCount),
                              static_cast<std::uint32_t>(choice.rate), 16};
        s->convert = input ? std::make_unique<PcmConverter>(s->device, format)
                           : std::make_unique<PcmConverter>(format, s->device);
        if (!s->convert->ok()) {
            result = AudioStartResult::kBadFormat;
            return nullptr;
        }
        s->pull = std::move(pull);
        s->done = std::move(done);
        s->push = std::move(push);
        result = s->start(choice, input);
        if (result != AudioStartResult::kOk)
            return nullptr;
        return s;
    }
    std::mutex mutex_;
};

}  // namespace

void RegisterPortAudioBackend() {
    RegisterAudioBackend({"portaudio", 10, []() -> std::unique_ptr<AudioBackend> {
                              // Loaded only now: a program that plays nothing never loads
                              // PortAudio, the sound servers it probes, or ALSA.
                              if (!PortAudioLibrary().Available())
                                  return nullptr;
                              if (AlsaLibrary().Available())
                                  snd_lib_error_set_handler(&quietAlsa);
                              if (quietly(Pa_Initialize) != paNoError)
                                  return nullptr;
                              if (Pa_GetDefaultOutputDevice() == paNoDevice &&
                                  Pa_GetDefaultInputDevice() == paNoDevice) {
                                  Pa_Terminate();
                                  return nullptr;
                              }
                              return std::make_unique<PortAudioBackend>();
                          }});
}

}  // namespace korrin::platform
