// The settings routines as the program calls them: each opens the key afresh, so this is the
// price of "read at the moment of use", and of a File ID that no two processes share.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "korrin/app/Utils.h"
#include "platform/registry/Registry.h"

using namespace korrin;

namespace {

// A fresh registry under /tmp for the whole run.
struct Registry {
    Registry() {
        char tmpl[] = "/tmp/korrin-bench-XXXXXX";
        dir = mkdtemp(tmpl);
        setenv("KORRIN_REGISTRY", (dir + "/registry.db").c_str(), 1);
        setenv("KORRIN_MESSAGE_ANSWERS", "", 1);
        platform::RegKeyGuard key;
        platform::RegCreateKeyEx(platform::HKEY_LOCAL_MACHINE, kKorrinKey, key.out());
    }
    ~Registry() { std::filesystem::remove_all(dir); }
    std::string dir;
};

Registry& registry() {
    static Registry r;
    return r;
}

void BM_GetSettingDword(benchmark::State& state) {
    registry();
    CUtils utils;
    utils.SetRegistryDword(kKorrinKey, setting::kOutBoxMinutes, 5);
    for (auto _ : state)
        benchmark::DoNotOptimize(utils.GetSettingDword(setting::kOutBoxMinutes));
}
BENCHMARK(BM_GetSettingDword);

void BM_SetRegistryString(benchmark::State& state) {
    registry();
    CUtils utils;
    for (auto _ : state)
        utils.SetRegistryString(kKorrinKey, setting::kOpenPath, "/home/me/KX1S.kx1");
}
BENCHMARK(BM_SetRegistryString);

void BM_NextFileID(benchmark::State& state) {
    registry();
    CUtils utils;
    DWORD id = 0;
    for (auto _ : state) {
        utils.NextFileID(id);
        benchmark::DoNotOptimize(id);
    }
}
BENCHMARK(BM_NextFileID);
BENCHMARK(BM_NextFileID)->Threads(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
