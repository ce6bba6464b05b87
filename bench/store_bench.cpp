// Reading a folder: the file system's floor (list the folder, then open each message, read
// the closing words and the trailer's bytes, close) against Korrin's folder load (count, fill
// and sort) on the same files in the same run; 10,000 and 100,000 files so the growth shows.
// And one trailer read on a 10 KB and a 100 MB file: the read works from the end, so the two
// cost the same.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "korrin/app/Defaults.h"
#include "korrin/app/Utils.h"
#include "korrin/store/FolderList.h"
#include "korrin/store/Folders.h"
#include "korrin/store/Trailer.h"
#include "platform/Endian.h"
#include "platform/registry/Registry.h"

using namespace korrin;

namespace {

// A registry and an install folder under /tmp for the whole run; SENT holds `files` messages.
struct Store {
    Store() {
        char tmpl[] = "/tmp/korrin-store-bench-XXXXXX";
        dir = ::mkdtemp(tmpl);
        ::setenv("KORRIN_REGISTRY", (dir + "/registry.db").c_str(), 1);
        ::setenv("KORRIN_MESSAGE_ANSWERS", "", 1);
        ::setenv("TZ", "UTC", 1);
        for (const char* key : {kKorrinKey, kInstallKey}) {
            platform::RegKeyGuard k;
            platform::RegCreateKeyEx(platform::HKEY_LOCAL_MACHINE, key, k.out());
        }
        CUtils().SetRegistryString(kInstallKey, kInstallDirValue, dir);
        std::filesystem::create_directory(dir + "/SENT");
    }
    ~Store() { std::filesystem::remove_all(dir); }

    // Makes the folder hold exactly n messages (written without syncing: the set-up is not
    // what is measured).
    void fill(int n) {
        if (files == n)
            return;
        std::filesystem::remove_all(dir + "/SENT");
        std::filesystem::create_directory(dir + "/SENT");
        const std::string payload(1500, 'w');
        for (int i = 0; i < n; ++i) {
            CMessageTrailer t;
            t.subject = "Message number " + std::to_string(i);
            t.toNames = "Recipient " + std::to_string(i % 97);
            t.note = NoteBanner() + "A short note.";
            t.bannerLength = static_cast<WORD>(NoteBanner().size());
            platform::SecondsToSystemTime(900000000 + (i * 7919) % 5000000, &t.date);
            auto bytes = t.Serialize();
            std::ofstream out(dir + "/SENT/KX" + std::to_string(i) + (i % 2 ? "S.kx0" : "S.kx1"),
                              std::ios::binary);
            out << payload;
            out.write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<std::streamsize>(bytes.size()));
        }
        files = n;
        ::sync();
    }

    std::string dir;
    int files = -1;
};

Store& store() {
    static Store s;
    return s;
}

// The floor: what any program must do to read every trailer of the folder.
std::size_t floorRead(const std::string& folder) {
    std::size_t bytes = 0;
    DIR* d = ::opendir(folder.c_str());
    std::vector<char> buffer;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        int fd = ::open((folder + "/" + e->d_name).c_str(), O_RDONLY | O_CLOEXEC);
        off_t size = ::lseek(fd, 0, SEEK_END);
        std::uint8_t words[8];
        ::pread(fd, words, 8, size - 8);
        const std::uint32_t length = platform::LoadLE32(words);
        buffer.resize(length);
        bytes += static_cast<std::size_t>(::pread(fd, buffer.data(), length, size - 8 - length));
        ::close(fd);
    }
    ::closedir(d);
    return bytes;
}

void BM_Floor(benchmark::State& state) {
    store().fill(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(floorRead(store().dir + "/SENT"));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Korrin's load; the floor is timed beside it in every iteration (outside the measured time)
// so "x_floor" compares the two on the same files under the same cache.
void BM_KorrinFolderLoad(benchmark::State& state) {
    store().fill(static_cast<int>(state.range(0)));
    double floorSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(floorRead(store().dir + "/SENT"));
        floorSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.ResumeTiming();
        DWORD count = 0;
        CountMessages(kSentItems, &count);
        CFolderLists lists;
        lists.LoadFolder(kSentItems);
        if (lists.Count(kSentItems) != count)
            state.SkipWithError("the load lost messages");
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.counters["floor_s"] = benchmark::Counter(floorSeconds / state.iterations());
}

void BM_SortNewestFirst(benchmark::State& state) {
    std::vector<MessageEntry> entries(static_cast<std::size_t>(state.range(0)));
    for (std::size_t i = 0; i < entries.size(); ++i)
        platform::SecondsToSystemTime(900000000 + static_cast<std::int64_t>(i * 7919 % 5000),
                                      &entries[i].date);
    for (auto _ : state) {
        state.PauseTiming();
        auto copy = entries;
        state.ResumeTiming();
        SortNewestFirst(copy);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// One trailer read on a file of the given size (sparse: only its end is ever touched).
void BM_TrailerRead(benchmark::State& state) {
    const std::string path = store().dir + "/big-" + std::to_string(state.range(0)) + ".kx0";
    {
        CMessageTrailer t;
        t.subject = "Size test";
        auto bytes = t.Serialize();
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        ::ftruncate(fd, state.range(0));
        ::pwrite(fd, bytes.data(), bytes.size(), state.range(0));
        ::close(fd);
    }
    for (auto _ : state) {
        CMessageTrailer t;
        if (t.ReadForList(path) != trailer::kRead)
            state.SkipWithError("read failed");
    }
    std::filesystem::remove(path);
}

}  // namespace

BENCHMARK(BM_Floor)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KorrinFolderLoad)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Floor)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_KorrinFolderLoad)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SortNewestFirst)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TrailerRead)->Arg(10 * 1000)->Arg(100 * 1000 * 1000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
