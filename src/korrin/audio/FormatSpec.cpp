#include "korrin/audio/FormatSpec.h"

#include <vector>

namespace korrin {

using namespace platform;

bool ParseFormatSpec(std::string_view text, WAVEFORMATEX& out) {
    std::vector<unsigned long> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = text.find(':', start);
        const std::string_view item =
            text.substr(start, colon == std::string_view::npos ? text.npos : colon - start);
        // Nine digits at most: every field fits its type's range check below.
        if (item.empty() || item.size() > 9 || parts.size() == 4)
            return false;
        unsigned long v = 0;
        for (char c : item) {
            if (c < '0' || c > '9')
                return false;
            v = v * 10 + unsigned(c - '0');
        }
        parts.push_back(v);
        if (colon == std::string_view::npos)
            break;
        start = colon + 1;
    }
    if (parts.size() != 4)
        return false;
    for (const AcmFormatTagEntry& tag : AcmStandardFormats())
        for (const AcmFormatEntry& f : tag.formats)
            if (f.format.wFormatTag == parts[0] && f.format.nSamplesPerSec == parts[1] &&
                f.format.wBitsPerSample == parts[2] && f.format.nChannels == parts[3]) {
                out = f.format;
                return true;
            }
    if ((parts[0] != WAVE_FORMAT_PCM && parts[0] != WAVE_FORMAT_ALAW &&
         parts[0] != WAVE_FORMAT_MULAW) ||
        parts[2] > 32 || parts[3] > 8)
        return false;
    WAVEFORMATEX f;
    f.wFormatTag = WORD(parts[0]);
    f.nSamplesPerSec = DWORD(parts[1]);
    f.wBitsPerSample = WORD(parts[2]);
    f.nChannels = WORD(parts[3]);
    f.nBlockAlign = WORD(f.nChannels * f.wBitsPerSample / 8);
    f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
    if (!acmFormatSupported(f))
        return false;
    out = f;
    return true;
}

}  // namespace korrin
