// wioFileOpen over arbitrary bytes, then whatever a caller does with a file it accepts:
// describe its format and convert a short one to PCM.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "korrin/audio/Acm.h"

namespace {

std::string Path(const char* name) {
    static const std::string dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        return std::string(tmp && *tmp ? tmp : "/tmp");
    }();
    return dir + "/korrin-wio-fuzz-" + std::to_string(getpid()) + "-" + name;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The corrupt-chunk question is answered Yes, so the rest of the file is read too.
    setenv("KORRIN_MESSAGE_ANSWERS", "Yes", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 16)
        return 0;
    const std::string in = Path("in.wav");
    if (FILE* f = std::fopen(in.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    korrin::WioFile wio;
    if (korrin::wioFileOpen(&wio, in, 0) == 0) {
        std::string tag, text;
        korrin::GetFormatDescription(wio.format.data(), wio.format.size(), &tag, &text);
        korrin::wioFileClose(&wio);
        korrin::FormatChooser pcm(nullptr);
        const std::uint8_t format[] = {1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0, 2, 0, 16, 0};
        std::copy(format, format + sizeof format, pcm.format());
        korrin::WaveFileInfo info;
        korrin::ConvertWaveFile(pcm, in, Path("out.wav"), info);
        std::remove(Path("out.wav").c_str());
    }
    std::remove(in.c_str());
    return 0;
}
