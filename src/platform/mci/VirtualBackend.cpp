// The sound device of a machine without one: time runs as on a real device, playback goes
// nowhere, and recording takes the wave file named by KORRIN_AUDIO_CAPTURE (decoded and
// changed to the recording's format), then silence.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/mci/AudioBackend.h"
#include "platform/mci/PcmConvert.h"
#include "platform/mci/WaveDecode.h"

namespace korrin::platform {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTick = std::chrono::milliseconds(10);

// One thread that hands over the frames that are due every tick, until stopped (or, for
// playback, until the pull gives less than asked).
class VirtualStream : public AudioStream {
  public:
    VirtualStream(const PcmFormat& format, std::function<bool(std::size_t frames)> tick)
        : format_(format), tick_(std::move(tick)) {
        thread_ = std::thread([this] { run(); });
    }
    ~VirtualStream() override {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

  private:
    void run() {
        const auto start = Clock::now();
        std::uint64_t done = 0;
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait_for(lock, kTick, [this] { return stop_; });
            if (stop_)
                return;
            const auto elapsed =
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
            const std::uint64_t due =
                std::uint64_t(elapsed.count()) * format_.samplesPerSec / 1000000u;
            if (due <= done)
                continue;
            const std::size_t frames = static_cast<std::size_t>(due - done);
            done = due;
            lock.unlock();
            const bool more = tick_(frames);
            lock.lock();
            if (!more)
                return;
        }
    }

    PcmFormat format_;
    std::function<bool(std::size_t)> tick_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;  // guarded by mutex_
    std::thread thread_;
};

// The capture file in the recording's format, or nothing.
std::vector<std::uint8_t> captureAudio(const PcmFormat& format) {
    const char* path = std::getenv("KORRIN_AUDIO_CAPTURE");
    std::vector<std::uint8_t> out;
    std::vector<std::uint8_t> bytes;
    if (!path || !*path || !ReadWholeFile(path, bytes))
        return out;
    WaveImage image;
    if (ParseWave(bytes.data(), bytes.size(), image) != WaveReadResult::kOk)
        return out;
    PcmFormat from;
    std::vector<std::uint8_t> pcm;
    if (IsPlayablePcm(image.format)) {
        from = ToPcmFormat(image.format);
        pcm = std::move(image.data);
    } else if (!DecodeWaveToPcm(image, from, pcm)) {
        return out;
    }
    PcmConverter converter(from, format);
    converter.Convert(pcm.data(), pcm.size(), out);
    converter.Finish(out);
    return out;
}

class VirtualBackend : public AudioBackend {
  public:
    std::string name() const override { return "virtual"; }

    std::unique_ptr<AudioStream> StartPlayback(const PcmFormat& format, AudioPull pull,
                                               AudioDone done, AudioStartResult& result) override {
        result = AudioStartResult::kOk;
        auto buffer = std::make_shared<std::vector<std::uint8_t>>();
        // Nothing is queued: the last frames pulled are heard at once.
        return std::make_unique<VirtualStream>(format, [=](std::size_t frames) {
            buffer->resize(frames * format.blockAlign());
            if (pull(buffer->data(), frames) == frames)
                return true;
            if (done)
                done();
            return false;
        });
    }

    std::unique_ptr<AudioStream> StartCapture(const PcmFormat& format, AudioPush push,
                                              AudioStartResult& result) override {
        result = AudioStartResult::kOk;
        auto source = std::make_shared<std::vector<std::uint8_t>>(captureAudio(format));
        auto used = std::make_shared<std::size_t>(0);
        auto silence = std::make_shared<std::vector<std::uint8_t>>();
        const std::size_t block = format.blockAlign();
        const std::uint8_t zero = format.bitsPerSample == 8 ? 0x80 : 0x00;
        return std::make_unique<VirtualStream>(format, [=](std::size_t frames) {
            const std::size_t fromFile = std::min(frames, (source->size() - *used) / block);
            if (fromFile) {
                push(source->data() + *used, fromFile);
                *used += fromFile * block;
            }
            if (frames > fromFile) {
                silence->assign((frames - fromFile) * block, zero);
                push(silence->data(), frames - fromFile);
            }
            return true;
        });
    }
};

}  // namespace

void RegisterVirtualBackend() {
    RegisterAudioBackend(
        {"virtual", 0,
         [] { return std::unique_ptr<AudioBackend>(std::make_unique<VirtualBackend>()); }});
}

}  // namespace korrin::platform
