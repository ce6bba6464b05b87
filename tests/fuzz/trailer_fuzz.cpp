// The message trailer reader. The input is taken two ways: as the fields area alone, decoded
// with every selection, and as a whole message file read (and stripped) from disk. Whatever
// the bytes, the result is one of the four codes, a good read survives writing it back, and
// a strip removes exactly the trailer.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "korrin/app/Defaults.h"
#include "korrin/app/Utils.h"
#include "korrin/store/Trailer.h"
#include "platform/registry/Registry.h"

namespace {

std::string setUp() {
    char dir[] = "/tmp/korrin-trailer-fuzz-XXXXXX";
    if (!::mkdtemp(dir))
        std::abort();
    const std::string base = dir;
    ::setenv("KORRIN_REGISTRY", (base + "/registry.db").c_str(), 1);
    ::setenv("KORRIN_MESSAGE_ANSWERS", "", 1);
    ::setenv("TZ", "UTC", 1);
    korrin::platform::RegKeyGuard key;
    korrin::platform::RegCreateKeyEx(korrin::platform::HKEY_LOCAL_MACHINE, korrin::kKorrinKey,
                                     key.out());
    // Newer layouts up to the highest are read without asking.
    korrin::CUtils().SetRegistryDword(korrin::kKorrinKey, korrin::setting::kRevision, 500);
    return base + "/m.kx0";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korrin;
    static const std::string path = setUp();

    // The fields area alone.
    CMessageTrailer all;
    all.selection = trailer::kAllText | trailer::kNoteWithBanner;
    const int decoded = all.DecodeFields(data, size);
    if (decoded != trailer::kRead && decoded != trailer::kDamaged)
        std::abort();
    if (decoded == trailer::kRead) {
        std::vector<std::uint8_t> again = all.Serialize();
        CMessageTrailer back;
        back.selection = all.selection;
        if (back.DecodeFields(again.data(), again.size() - 8) != trailer::kRead ||
            back.subject != all.subject || back.note != all.note ||
            back.bannerLength != all.bannerLength || back.ccAddresses != all.ccAddresses)
            std::abort();
    }
    CMessageTrailer plain;
    plain.selection = trailer::kAllText | trailer::kNoteText;
    plain.DecodeFields(data, size);

    // The whole file, read with strip.
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    CMessageTrailer file;
    const int result = file.ReadAllAndStrip(path);
    if (result < 0 || result > 3)
        std::abort();
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        std::abort();
    const std::uint64_t expected = result == trailer::kRead ? size - 8 - file.length : size;
    if (static_cast<std::uint64_t>(st.st_size) != expected)
        std::abort();
    return 0;
}
