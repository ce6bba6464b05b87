#include "korrin/audio/Zip.h"

#include <algorithm>
#include <new>

#include "korrin/app/Defaults.h"
#include "korrin/app/EventReport.h"
#include "korrin/app/Utils.h"
#include "korrin/audio/Acm.h"
#include "platform/Endian.h"
#include "platform/registry/Registry.h"

namespace korrin {

using namespace platform;

namespace {

std::vector<std::uint8_t> Pcm8Mono(DWORD rate) {
    std::vector<std::uint8_t> f;
    AppendLE16(f, WAVE_FORMAT_PCM);
    AppendLE16(f, 1);
    AppendLE32(f, rate);
    AppendLE32(f, rate);
    AppendLE16(f, 1);
    AppendLE16(f, 8);
    AppendLE16(f, 0);
    return f;
}

}  // namespace

const QualityPreset* FindQualityPreset(DWORD quality) {
    static const QualityPreset presets[] = {
        {kQualityNetPhone, Pcm8Mono(8000), "PCM 8,000 Hz, 8 Bit, Mono", DefaultTransportFormat(),
         "GSM 6.10 8,000 Hz, Mono"},
        {kQualityTelephone, Pcm8Mono(8000), "PCM 8,000 Hz, 8 Bit, Mono", Pcm8Mono(8000),
         "PCM 8,000 Hz, 8 Bit, Mono"},
        {kQualityRadio, Pcm8Mono(22050), "PCM 22,050 Hz, 8 Bit, Mono", Pcm8Mono(22050),
         "PCM 22,050 Hz, 8 Bit, Mono"},
    };
    for (const QualityPreset& p : presets)
        if (p.quality == quality)
            return &p;
    return nullptr;
}

bool StoreQualityFormats(DWORD quality) {
    DWORD largest = 0;
    if (acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &largest) != MMSYSERR_NOERROR) {
        KORRIN_REPORT("acmMetrics failed");
        return false;
    }
    std::vector<std::uint8_t> local, transport;
    try {
        local.assign(largest, 0);
        transport.assign(largest, 0);
    } catch (const std::bad_alloc&) {
        KORRIN_REPORT("malloc failed");
        return false;
    }
    if (quality == kQualityAdvanced)
        return true;
    const QualityPreset* preset = FindQualityPreset(quality);
    if (!preset) {
        KORRIN_REPORT("Unknown Quality Found");
        return false;
    }
    std::copy_n(preset->local.begin(), std::min(preset->local.size(), local.size()), local.begin());
    std::copy_n(preset->transport.begin(), std::min(preset->transport.size(), transport.size()),
                transport.begin());
    SetFormat(kKorrinKey, local.data(), largest, preset->localText);
    SetFormatTransport(kKorrinKey, transport.data(), largest, preset->transportText);
    return true;
}

DWORD ReadQuality() {
    DWORD quality = kQualityNetPhone;
    if (!CUtils().GetRegistryDword(kKorrinKey, setting::kQuality, quality))
        return kQualityNetPhone;
    return quality;
}

DWORD ReadCompression() {
    // The default (no compression) is stored only when the value is missing; one that cannot
    // be read this time (a busy or damaged database) is left as it is.
    return CUtils().GetSettingDword(setting::kCompression);
}

void WriteCompression(DWORD value) {
    RegKeyGuard key;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, key.out()) != ERROR_SUCCESS)
        return;
    std::uint8_t bytes[4];
    StoreLE32(bytes, value);
    RegSetValueEx(key.get(), setting::kCompression, REG_DWORD, bytes, 4);
}

}  // namespace korrin
