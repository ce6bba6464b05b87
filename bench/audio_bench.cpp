// The cost of the conversion pipeline around the GSM 6.10 coder: libgsm alone against a
// compression manager stream (8-bit PCM in, wave-file GSM blocks out), on one minute of noise
// in memory. The "x_realtime" counter is seconds of audio coded per second.
#include <benchmark/benchmark.h>
#include <gsm/gsm.h>

#include <cstring>
#include <random>
#include <vector>

#include "platform/acm/Acm.h"

using namespace korrin::platform;

namespace {

constexpr std::size_t kRate = 8000;
constexpr std::size_t kSeconds = 60;

const std::vector<std::uint8_t>& Pcm8() {
    static const std::vector<std::uint8_t> samples = [] {
        std::vector<std::uint8_t> s(kRate * kSeconds);
        std::mt19937 rng(7);
        double level = 0;
        for (auto& b : s) {
            level = 0.9 * level + 0.1 * std::normal_distribution<double>(0, 60)(rng);
            b = static_cast<std::uint8_t>(128 + std::max(-127.0, std::min(127.0, level)));
        }
        return s;
    }();
    return samples;
}

void LibgsmAlone(benchmark::State& state) {
    const auto& in = Pcm8();
    std::vector<gsm_signal> pcm(in.size());
    for (std::size_t i = 0; i < in.size(); ++i)
        pcm[i] = static_cast<gsm_signal>((in[i] - 128) * 256);
    std::vector<std::uint8_t> out(pcm.size() / 320 * 65);
    for (auto _ : state) {
        gsm g = gsm_create();
        int one = 1;
        gsm_option(g, GSM_OPT_WAV49, &one);
        for (std::size_t b = 0; b < pcm.size() / 320; ++b) {
            gsm_encode(g, pcm.data() + b * 320, out.data() + b * 65);
            gsm_encode(g, pcm.data() + b * 320 + 160, out.data() + b * 65 + 32);
        }
        gsm_destroy(g);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["x_realtime"] =
        benchmark::Counter(double(kSeconds) * state.iterations(), benchmark::Counter::kIsRate);
}

void StreamPcm8ToGsm(benchmark::State& state) {
    const auto& in = Pcm8();
    WAVEFORMATEX pcm;
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    pcm.nChannels = 1;
    pcm.nSamplesPerSec = kRate;
    pcm.nAvgBytesPerSec = kRate;
    pcm.nBlockAlign = 1;
    pcm.wBitsPerSample = 8;
    WAVEFORMATEX gsm610;
    gsm610.wFormatTag = WAVE_FORMAT_GSM610;
    gsm610.nChannels = 1;
    gsm610.nSamplesPerSec = kRate;
    gsm610.nAvgBytesPerSec = 1625;
    gsm610.nBlockAlign = 65;
    gsm610.cbSize = 2;
    gsm610.extra = {0x40, 0x01};
    for (auto _ : state) {
        HACMSTREAM s = nullptr;
        acmStreamOpen(&s, nullptr, pcm, gsm610, nullptr, 0, 0, 0);
        DWORD outBytes = 0;
        acmStreamSize(s, kRate, &outBytes, ACM_STREAMSIZEF_SOURCE);
        std::vector<std::uint8_t> src(kRate), dst(outBytes);
        ACMSTREAMHEADER h;
        h.cbStruct = kAcmStreamHeaderSize;
        h.pbSrc = src.data();
        h.cbSrcLength = kRate;
        h.pbDst = dst.data();
        h.cbDstLength = outBytes;
        acmStreamPrepareHeader(s, &h, 0);
        for (std::size_t second = 0; second < kSeconds; ++second) {
            std::memcpy(src.data(), in.data() + second * kRate, kRate);
            acmStreamConvert(s, &h, ACM_STREAMCONVERTF_BLOCKALIGN);
            benchmark::DoNotOptimize(dst.data());
        }
        acmStreamConvert(s, &h, ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_END);
        acmStreamUnprepareHeader(s, &h, 0);
        acmStreamClose(s, 0);
    }
    state.counters["x_realtime"] =
        benchmark::Counter(double(kSeconds) * state.iterations(), benchmark::Counter::kIsRate);
}

BENCHMARK(LibgsmAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(StreamPcm8ToGsm)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
