// Encoding speed of the message builder on one core: base64 for attachments (goal: 1 GB/s or
// more) and quoted-printable for the note (goal: 300 MB/s or more), and a whole message written
// out from a 7.5 MB message file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "korrin/mail/mailutil.h"

using namespace korrin;

static void BM_Base64(benchmark::State& state) {
    const std::size_t size = 57 * 1024 * 16;  // whole lines, as the writer reads them
    std::vector<std::uint8_t> in(size);
    std::mt19937 rng(1);
    for (auto& b : in)
        b = static_cast<std::uint8_t>(rng());
    std::vector<char> out(mail::Base64OutputSize(size));
    for (auto _ : state) {
        benchmark::DoNotOptimize(mail::Base64Lines(in.data(), in.size(), out.data()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}
BENCHMARK(BM_Base64);

// A note as people type it: words, line ends, now and then an '=' or an accented letter.
static std::string NoteText(std::size_t size) {
    std::mt19937 rng(2);
    const std::string words[] = {"hello",    "the", "message", "voice", "call",    "me",    "back",
                                 "tomorrow", "at",  "ten",     "a=b",   "caf\xE9", "please"};
    std::string t;
    while (t.size() < size) {
        t += words[rng() % std::size(words)];
        t += rng() % 12 == 0 ? "\r\n" : " ";
    }
    t.resize(size);
    return t;
}

static void BM_QuotedPrintable(benchmark::State& state) {
    std::string text = NoteText(1 << 20);
    for (auto _ : state)
        benchmark::DoNotOptimize(mail::QuotedPrintable(text));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_QuotedPrintable);

static void BM_WriteOutMessage(benchmark::State& state) {
    std::string path = "/tmp/korrin_mail_bench.kx0";
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::mt19937 rng(3);
        std::vector<char> block(1 << 16);
        for (std::size_t done = 0; done < 7'500'000; done += block.size()) {
            for (auto& c : block)
                c = static_cast<char>(rng());
            std::fwrite(block.data(), 1, block.size(), f);
        }
        std::fclose(f);
    }
    std::FILE* sink = std::fopen("/dev/null", "wb");
    for (auto _ : state) {
        CMailUtil m;
        m.SetSenderAddress("me@here");
        m.AddTo("a1", "a1");
        m.AddTextPart(NoteText(400));
        m.AddFilePart(path);
        if (m.WriteOutMessage(sink) != 0)
            state.SkipWithError("WriteOutMessage failed");
    }
    std::fclose(sink);
    std::remove(path.c_str());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 7'500'000));
}
BENCHMARK(BM_WriteOutMessage)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
