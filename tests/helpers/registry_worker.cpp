// A child process for the registry's cross-process tests, on the database $KORRIN_REGISTRY:
//   registry_worker increment N  takes N numbers from the "File ID" counter the way the
//                                program does (open, update, close) and prints each one;
//   registry_worker churn SIZE   prints "ready", then rewrites the REG_BINARY "Blob" for ever,
//                                SIZE bytes all equal to a counter that goes up each time.
// Both use HKLM\SOFTWARE\Quillion\Korrin.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/registry/Registry.h"

using namespace korrin::platform;

namespace {

constexpr const char* kKey = "SOFTWARE\\Quillion\\Korrin";

int increment(long count) {
    for (long i = 0; i < count; ++i) {
        RegKeyGuard key;
        DWORD number = 0;
        LONG r = RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKey, key.out());
        if (r == ERROR_SUCCESS)
            r = RegUpdateDword(
                key.get(), "File ID", [](std::optional<DWORD> v) { return v.value_or(0) + 1; },
                &number);
        if (r != ERROR_SUCCESS) {
            std::fprintf(stderr, "registry_worker: error %ld\n", r);
            return 1;
        }
        std::printf("%u\n", number);
    }
    return 0;
}

int churn(DWORD size) {
    RegKeyGuard key;
    if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKey, key.out()) != ERROR_SUCCESS)
        return 1;
    std::vector<std::uint8_t> data(size);
    DWORD got = size;
    std::uint8_t counter = 0;
    if (RegQueryValueEx(key.get(), "Blob", nullptr, data.data(), &got) == ERROR_SUCCESS && got)
        counter = data[0];
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) {
        ++counter;
        std::memset(data.data(), counter, data.size());
        if (RegSetValueEx(key.get(), "Blob", REG_BINARY, data.data(), size) != ERROR_SUCCESS)
            return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "increment") == 0)
        return increment(std::atol(argv[2]));
    if (argc == 3 && std::strcmp(argv[1], "churn") == 0)
        return churn(static_cast<DWORD>(std::atol(argv[2])));
    std::fprintf(stderr, "usage: registry_worker increment N | churn SIZE\n");
    return 2;
}
