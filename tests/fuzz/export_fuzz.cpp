// korrinctl export's path on damaged message files: the input is written as a message file
// and exported to Opus and to wave. Whatever the bytes, the export ends, and afterwards the
// folder holds the message file and, only for an export that succeeded, its output.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "korrin/app/Defaults.h"
#include "korrin/app/Utils.h"
#include "korrin/audio/PlayableCopy.h"
#include "platform/registry/Registry.h"

namespace {

std::string setUp() {
    char dir[] = "/tmp/korrin-export-fuzz-XXXXXX";
    if (!::mkdtemp(dir))
        std::abort();
    const std::string base = dir;
    static const std::string removeAtExit = base;
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(removeAtExit, ec);
    });
    ::setenv("KORRIN_REGISTRY", (base + "/registry.db").c_str(), 1);
    ::setenv("KORRIN_MESSAGE_ANSWERS", "", 1);
    ::setenv("KORRIN_WINDIR", (base + "/no-tools").c_str(), 1);  // a zip is refused at once
    ::setenv("TMPDIR", base.c_str(), 1);
    korrin::platform::RegKeyGuard key;
    korrin::platform::RegCreateKeyEx(korrin::platform::HKEY_LOCAL_MACHINE, korrin::kKorrinKey,
                                     key.out());
    korrin::CUtils().SetRegistryDword(korrin::kKorrinKey, korrin::setting::kRevision, 500);
    ::mkdir((base + "/m").c_str(), 0700);
    return base + "/m";
}

std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.insert(e->d_name);
        ::closedir(d);
    }
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = setUp();
    const std::string message = folder + "/in.kx0";
    {
        std::ofstream f(message, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    for (const char* name : {"out.opus", "out.wav"}) {
        const std::string out = folder + "/" + name;
        std::string why;
        const int rc = korrin::ExportMessageAudio(message, out, why);
        const std::set<std::string> expected =
            rc == 0 ? std::set<std::string>{"in.kx0", name} : std::set<std::string>{"in.kx0"};
        if ((rc != 0 && why.empty()) || Names(folder) != expected)
            std::abort();
        ::unlink(out.c_str());
    }
    return 0;
}
