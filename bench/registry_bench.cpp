// The registry calls the settings routines make, each the way they make it: open the key
// afresh, one read or write, close. The database lives in a fresh temporary folder.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/registry/Registry.h"

using namespace korrin::platform;

namespace {

constexpr const char* kKey = "SOFTWARE\\Quillion\\Korrin";

// Points $KORRIN_REGISTRY at a new database for one benchmark and removes it afterwards.
class ScratchRegistry {
  public:
    ScratchRegistry() {
        char tmpl[] = "/tmp/korrin-bench-XXXXXX";
        dir_ = mkdtemp(tmpl) ? tmpl : "/tmp";
        setenv("KORRIN_REGISTRY", (dir_ + "/registry.db").c_str(), 1);
        HKEY key = nullptr;
        RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKey, &key);
        const DWORD minutes = 3;
        RegSetValueEx(key, "OutBox Minutes", REG_DWORD,
                      reinterpret_cast<const std::uint8_t*>(&minutes), 4);
        RegCloseKey(key);
    }
    ~ScratchRegistry() {
        std::error_code ec;
        if (dir_ != "/tmp")
            std::filesystem::remove_all(dir_, ec);
    }

  private:
    std::string dir_;
};

void BM_OpenQueryCloseDword(benchmark::State& state) {
    ScratchRegistry registry;
    for (auto _ : state) {
        RegKeyGuard key;
        DWORD value = 0, size = sizeof value;
        if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKey, key.out()) != ERROR_SUCCESS ||
            RegQueryValueEx(key.get(), "OutBox Minutes", nullptr,
                            reinterpret_cast<std::uint8_t*>(&value), &size) != ERROR_SUCCESS)
            state.SkipWithError("query failed");
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_OpenQueryCloseDword);

void BM_OpenSetCloseString(benchmark::State& state) {
    ScratchRegistry registry;
    // Alternating texts: SQLite skips the write of a value rewritten unchanged.
    const std::string hosts[2] = {"mail.example", "smtp.example"};
    int turn = 0;
    for (auto _ : state) {
        const std::string& host = hosts[turn ^= 1];
        RegKeyGuard key;
        if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKey, key.out()) != ERROR_SUCCESS ||
            RegSetValueEx(key.get(), "SMTP Host", REG_SZ,
                          reinterpret_cast<const std::uint8_t*>(host.data()),
                          static_cast<DWORD>(host.size())) != ERROR_SUCCESS)
            state.SkipWithError("set failed");
    }
}
BENCHMARK(BM_OpenSetCloseString);

// The counter's update on a key held open; utils_bench times the whole NextFileID, so the
// difference is what opening the key costs.
void BM_UpdateDwordOnOpenKey(benchmark::State& state) {
    ScratchRegistry registry;
    RegKeyGuard key;
    RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKey, key.out());
    for (auto _ : state) {
        DWORD number = 0;
        if (RegUpdateDword(
                key.get(), "File ID", [](std::optional<DWORD> v) { return v.value_or(0) + 1; },
                &number) != ERROR_SUCCESS)
            state.SkipWithError("update failed");
        benchmark::DoNotOptimize(number);
    }
}
BENCHMARK(BM_UpdateDwordOnOpenKey);

}  // namespace

BENCHMARK_MAIN();
