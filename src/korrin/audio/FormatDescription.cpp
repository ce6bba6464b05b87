#include "korrin/audio/FormatDescription.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "korrin/app/Defaults.h"
#include "korrin/app/EventReport.h"
#include "korrin/app/Vendor.h"
#include "platform/Endian.h"
#include "platform/registry/Registry.h"

namespace korrin {

using namespace platform;
using namespace detail;

// ---- describing a format ----

std::string BuiltInTagName(unsigned tag) {
    static const struct {
        unsigned tag;
        const char* name;
    } table[] = {{0, "** RESERVED INVALID TAG **"},
                 {1, "PCM"},
                 {2, "Microsoft ADPCM"},
                 {3, "MV's *UNREGISTERED* ADPCM"},
                 {5, "IBM CVSD"},
                 {6, "A-Law"},
                 {7, "u-Law"},
                 {16, "OKI ADPCM"},
                 {17, "IMA/DVI ADPCM"},
                 {18, "Media Space ADPCM"},
                 {19, "Sierra ADPCM"},
                 {20, "CCITT G.723 ADPCM"},
                 {21, "DIGI STD"},
                 {22, "DIGI FIX"},
                 {32, "Yamaha ADPCM"},
                 {33, "Sonarc"},
                 {34, "DSP Group TrueSpeech"},
                 {35, "Echo SC1"},
                 {36, "Audiofile AF36"},
                 {37, "APTX"},
                 {38, "Audiofile AF10"},
                 {48, "Dolby AC2"},
                 {49, "GSM 6.10"},
                 {64, "CCITT G.721 ADPCM"},
                 {512, "Creative Labs ADPCM"},
                 {65535, "** RESERVED DEVELOPMENT ONLY TAG **"}};
    for (const auto& e : table)
        if (e.tag == tag)
            return e.name;
    return Printf("[%u] (unknown)", tag);
}

bool GetFormatDescription(const std::uint8_t* format, std::size_t size, std::string* tagText,
                          std::string* formatText) {
    bool result = true;
    const WAVEFORMATEX f = ReadWaveFormat(format, size);
    if (tagText) {
        ACMFORMATTAGDETAILS details;
        details.dwFormatTag = f.wFormatTag;
        if (acmFormatTagDetails(nullptr, &details, ACM_FORMATTAGDETAILSF_FORMATTAG) == 0) {
            *tagText = details.szFormatTag;
        } else {
            result = false;
            *tagText = BuiltInTagName(f.wFormatTag);
        }
    }
    if (formatText) {
        std::vector<std::uint8_t> bytes = WaveFormatBytes(f);
        ACMFORMATDETAILS details;
        details.dwFormatTag = f.wFormatTag;
        details.pwfx = bytes.data();
        details.cbwfx = static_cast<DWORD>(bytes.size());
        if (acmFormatDetails(nullptr, &details, ACM_FORMATDETAILSF_FORMAT) == 0) {
            *formatText = details.szFormat;
        } else {
            result = false;
            // The user's list separator and decimal sign, read at each call (no state shared
            // between threads); the locale has no list separator of its own, so it is ','.
            const char listSeparator = ',';
            char decimalSign = '.';
            if (const lconv* lc = std::localeconv();
                lc && lc->decimal_point && lc->decimal_point[0])
                decimalSign = lc->decimal_point[0];
            // A rate or channel count of 0 (a damaged header) gives 0 bits, never a division
            // by zero.
            const unsigned bits = f.nSamplesPerSec && f.nChannels
                                      ? unsigned(std::uint64_t(f.nAvgBytesPerSec) * 8 /
                                                 f.nSamplesPerSec / f.nChannels)
                                      : 0;
            const unsigned long kHz = f.nSamplesPerSec / 1000;
            const unsigned rest = f.nSamplesPerSec % 1000;
            if (f.nChannels == 1 || f.nChannels == 2)
                *formatText =
                    Printf("%lu%c%.03u kHz%c %u Bit%c %s", kHz, decimalSign, rest, listSeparator,
                           bits, listSeparator, f.nChannels == 1 ? "Mono" : "Stereo");
            else
                *formatText =
                    Printf("%lu%c%.03u kHz%c %u Bit%c %u Channels", kHz, decimalSign, rest,
                           listSeparator, bits, listSeparator, unsigned(f.nChannels));
        }
    }
    return result;
}

}  // namespace korrin
