// ParseWave takes any file the user opens or receives. Besides not crashing: a question about a
// chunk past the RIFF end is asked exactly when a no declines the file; what it accepts
// holds whole frames from inside the input, and writing it out and reading it again gives
// the same format and audio. A playable result also converts to the local format.
#include <cstdint>
#include <cstdlib>

#include "platform/mci/PcmConvert.h"
#include "platform/mci/WaveData.h"

using namespace korrin::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    WaveImage image;
    bool asked = false;
    const auto no = [&asked](const RiffOverrun&) { return !(asked = true); };
    WaveImage declined;
    const WaveReadResult answeredNo = ParseWave(data, size, declined, no);
    const WaveReadResult result = ParseWave(data, size, image);
    // A no changes the outcome only where the question was asked.
    if ((answeredNo == WaveReadResult::kDeclined) != asked ||
        (!asked && (answeredNo != result || declined.data != image.data)))
        std::abort();
    if (result != WaveReadResult::kOk)
        return 0;
    if (image.format.blockAlign == 0 || image.data.size() % image.format.blockAlign != 0 ||
        image.data.size() > size)
        std::abort();
    const auto bytes = SerializeWave(image.format, image.data.data(), image.data.size());
    WaveImage again;
    if (ParseWave(bytes.data(), bytes.size(), again) != WaveReadResult::kOk)
        std::abort();
    // PCM keeps no extra bytes; other formats keep theirs.
    if (again.format != image.format || again.data != image.data)
        std::abort();
    if (IsPlayablePcm(image.format) && image.format.samplesPerSec >= 100) {
        std::vector<std::uint8_t> out;
        const std::size_t frames = image.data.size() / image.format.blockAlign;
        PcmConverter(ToPcmFormat(image.format), PcmFormat{1, 8000, 8})
            .Convert(image.data.data(), image.data.size(), out);
        // One output frame per source frame's time, give or take one.
        const double expected = double(frames) * 8000 / image.format.samplesPerSec;
        if (double(out.size()) > expected + 2)
            std::abort();
    }
    return 0;
}
