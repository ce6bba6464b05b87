// Format bytes, the driver table, metrics, names and texts, and the format chooser.
#include "platform/acm/Acm.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/Endian.h"
#include "platform/acm/Codec.h"
#include "platform/seam/MessageSeam.h"

namespace korrin::platform {

WAVEFORMATEX ReadWaveFormat(const std::uint8_t* bytes, std::size_t size) {
    std::uint8_t head[18] = {};
    std::memcpy(head, bytes, std::min<std::size_t>(size, sizeof head));
    WAVEFORMATEX f;
    f.wFormatTag = LoadLE16(head);
    f.nChannels = LoadLE16(head + 2);
    f.nSamplesPerSec = LoadLE32(head + 4);
    f.nAvgBytesPerSec = LoadLE32(head + 8);
    f.nBlockAlign = LoadLE16(head + 12);
    f.wBitsPerSample = LoadLE16(head + 14);
    f.cbSize = LoadLE16(head + 16);
    if (size > sizeof head) {
        const std::size_t n = std::min<std::size_t>(f.cbSize, size - sizeof head);
        f.extra.assign(bytes + sizeof head, bytes + sizeof head + n);
    }
    return f;
}

std::size_t WriteWaveFormat(const WAVEFORMATEX& f, std::uint8_t* bytes, std::size_t size) {
    std::vector<std::uint8_t> all = WaveFormatBytes(f);
    std::memcpy(bytes, all.data(), std::min(size, all.size()));
    return all.size();
}

std::vector<std::uint8_t> WaveFormatBytes(const WAVEFORMATEX& f) {
    std::vector<std::uint8_t> out;
    out.reserve(18u + f.cbSize);
    AppendLE16(out, f.wFormatTag);
    AppendLE16(out, f.nChannels);
    AppendLE32(out, f.nSamplesPerSec);
    AppendLE32(out, f.nAvgBytesPerSec);
    AppendLE16(out, f.nBlockAlign);
    AppendLE16(out, f.wBitsPerSample);
    AppendLE16(out, f.cbSize);
    for (std::size_t i = 0; i < f.cbSize; ++i)
        out.push_back(i < f.extra.size() ? f.extra[i] : 0);
    return out;
}

namespace acm {

const std::vector<const Driver*>& Drivers() {
    static const std::vector<const Driver*> list = {&PcmDriver(), &AlawDriver(), &MulawDriver(),
                                                    &ImaDriver(), &GsmDriver()};
    return list;
}

const Driver* FindDriver(WORD tag) {
    for (const Driver* d : Drivers())
        if (d->tag() == tag)
            return d;
    return nullptr;
}

const Driver* DriverFor(const WAVEFORMATEX& format) {
    const Driver* d = FindDriver(format.wFormatTag);
    return d && d->accepts(format) ? d : nullptr;
}

std::string RateText(DWORD rate) {
    std::string digits = std::to_string(rate);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out + " Hz";
}

const char* ChannelText(WORD channels) {
    return channels == 1 ? "Mono" : "Stereo";
}

}  // namespace acm

namespace {

template <std::size_t N>
void CopyText(char (&to)[N], const std::string& from) {
    std::size_t n = std::min(from.size(), N - 1);
    std::memcpy(to, from.data(), n);
    to[n] = '\0';
}

DWORD LargestFormatSize() {
    DWORD largest = 0;
    for (const acm::Driver* d : acm::Drivers())
        largest = std::max(largest, d->largestFormatSize());
    return largest;
}

void FillTagDetails(ACMFORMATTAGDETAILS* details, const acm::Driver& d, DWORD index) {
    details->dwFormatTagIndex = index;
    details->dwFormatTag = d.tag();
    details->cbFormatSize = d.largestFormatSize();
    details->fdwSupport = d.tag() == WAVE_FORMAT_PCM ? ACMDRIVERDETAILS_SUPPORTF_CONVERTER
                                                     : ACMDRIVERDETAILS_SUPPORTF_CODEC;
    details->cStandardFormats = static_cast<DWORD>(d.standardFormats().size());
    CopyText(details->szFormatTag, d.name());
}

std::mutex& DialogMutex() {
    static std::mutex m;
    return m;
}

FormatChooseDialog& InstalledDialog() {
    static FormatChooseDialog dialog;
    return dialog;
}

bool SameFormat(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
    return WaveFormatBytes(a) == WaveFormatBytes(b);
}

}  // namespace

MMRESULT acmMetrics(HACMOBJ obj, UINT metric, DWORD* out) {
    if (obj)
        return MMSYSERR_INVALHANDLE;
    if (!out)
        return MMSYSERR_INVALPARAM;
    switch (metric) {
        case ACM_METRIC_MAX_SIZE_FORMAT:
            *out = LargestFormatSize();
            return MMSYSERR_NOERROR;
        case ACM_METRIC_COUNT_FORMATTAGS:
            *out = static_cast<DWORD>(acm::Drivers().size());
            return MMSYSERR_NOERROR;
        default:
            return MMSYSERR_NOTSUPPORTED;
    }
}

MMRESULT acmFormatTagDetails(HACMDRIVER had, ACMFORMATTAGDETAILS* details, DWORD flags) {
    if (had)
        return MMSYSERR_INVALHANDLE;
    if (!details || details->cbStruct < kAcmFormatTagDetailsSize)
        return MMSYSERR_INVALPARAM;
    const auto& drivers = acm::Drivers();
    switch (flags) {
        case ACM_FORMATTAGDETAILSF_INDEX:
            if (details->dwFormatTagIndex >= drivers.size())
                return MMSYSERR_INVALPARAM;
            FillTagDetails(details, *drivers[details->dwFormatTagIndex], details->dwFormatTagIndex);
            return MMSYSERR_NOERROR;
        case ACM_FORMATTAGDETAILSF_FORMATTAG:
        case ACM_FORMATTAGDETAILSF_LARGESTSIZE: {
            const acm::Driver* best = nullptr;
            DWORD index = 0;
            for (DWORD i = 0; i < drivers.size(); ++i) {
                const acm::Driver* d = drivers[i];
                const bool wanted =
                    flags == ACM_FORMATTAGDETAILSF_FORMATTAG
                        ? d->tag() == details->dwFormatTag
                        : details->dwFormatTag == 0 || d->tag() == details->dwFormatTag;
                if (wanted && (!best || d->largestFormatSize() > best->largestFormatSize())) {
                    best = d;
                    index = i;
                }
            }
            if (!best)
                return ACMERR_NOTPOSSIBLE;
            FillTagDetails(details, *best, index);
            return MMSYSERR_NOERROR;
        }
        default:
            return MMSYSERR_INVALFLAG;
    }
}

MMRESULT acmFormatDetails(HACMDRIVER had, ACMFORMATDETAILS* details, DWORD flags) {
    if (had)
        return MMSYSERR_INVALHANDLE;
    if (!details || details->cbStruct < kAcmFormatDetailsSize || !details->pwfx)
        return MMSYSERR_INVALPARAM;
    if (flags == ACM_FORMATDETAILSF_FORMAT) {
        const WAVEFORMATEX f = ReadWaveFormat(details->pwfx, details->cbwfx);
        const acm::Driver* d = acm::DriverFor(f);
        if (!d || (details->dwFormatTag && details->dwFormatTag != f.wFormatTag))
            return ACMERR_NOTPOSSIBLE;
        details->dwFormatTag = f.wFormatTag;
        details->fdwSupport = 0;
        CopyText(details->szFormat, d->describe(f));
        return MMSYSERR_NOERROR;
    }
    if (flags == ACM_FORMATDETAILSF_INDEX) {
        const acm::Driver* d = acm::FindDriver(static_cast<WORD>(details->dwFormatTag));
        if (!d)
            return ACMERR_NOTPOSSIBLE;
        const auto formats = d->standardFormats();
        if (details->dwFormatIndex >= formats.size())
            return MMSYSERR_INVALPARAM;
        const WAVEFORMATEX& f = formats[details->dwFormatIndex];
        if (WriteWaveFormat(f, details->pwfx, details->cbwfx) > details->cbwfx)
            return MMSYSERR_INVALPARAM;
        CopyText(details->szFormat, d->describe(f));
        return MMSYSERR_NOERROR;
    }
    return MMSYSERR_INVALFLAG;
}

bool acmFormatSupported(const WAVEFORMATEX& format) {
    return acm::DriverFor(format) != nullptr;
}

std::vector<AcmFormatTagEntry> AcmStandardFormats() {
    std::vector<AcmFormatTagEntry> list;
    for (const acm::Driver* d : acm::Drivers()) {
        AcmFormatTagEntry tag{d->tag(), d->name(), {}};
        for (const WAVEFORMATEX& f : d->standardFormats())
            tag.formats.push_back({f, d->describe(f)});
        list.push_back(std::move(tag));
    }
    return list;
}

void SetFormatChooseDialog(FormatChooseDialog dialog) {
    std::lock_guard lock(DialogMutex());
    InstalledDialog() = std::move(dialog);
}

MMRESULT acmFormatChoose(ACMFORMATCHOOSE* choose) {
    if (!choose || choose->cbStruct != kAcmFormatChooseSize || !choose->pwfx)
        return MMSYSERR_INVALPARAM;
    constexpr DWORD kEnumFlags = ACM_FORMATENUMF_WFORMATTAG | ACM_FORMATENUMF_NCHANNELS |
                                 ACM_FORMATENUMF_NSAMPLESPERSEC | ACM_FORMATENUMF_WBITSPERSAMPLE;
    if (choose->fdwEnum & ~kEnumFlags)
        return MMSYSERR_INVALFLAG;
    if (choose->fdwEnum && !choose->pwfxEnum)
        return MMSYSERR_INVALPARAM;
    // Only cbwfxEnum bytes are the caller's (a 16-byte PCM restriction is common); the
    // fields past them read as zero.
    const WAVEFORMATEX restrict =
        choose->pwfxEnum ? ReadWaveFormat(choose->pwfxEnum, choose->cbwfxEnum) : WAVEFORMATEX{};
    std::vector<AcmFormatTagEntry> choices;
    for (AcmFormatTagEntry& tag : AcmStandardFormats()) {
        std::vector<AcmFormatEntry> kept;
        for (AcmFormatEntry& e : tag.formats) {
            const WAVEFORMATEX& f = e.format;
            if ((choose->fdwEnum & ACM_FORMATENUMF_WFORMATTAG) &&
                f.wFormatTag != restrict.wFormatTag)
                continue;
            if ((choose->fdwEnum & ACM_FORMATENUMF_NCHANNELS) && f.nChannels != restrict.nChannels)
                continue;
            if ((choose->fdwEnum & ACM_FORMATENUMF_NSAMPLESPERSEC) &&
                f.nSamplesPerSec != restrict.nSamplesPerSec)
                continue;
            if ((choose->fdwEnum & ACM_FORMATENUMF_WBITSPERSAMPLE) &&
                f.wBitsPerSample != restrict.wBitsPerSample)
                continue;
            kept.push_back(std::move(e));
        }
        if (!kept.empty()) {
            tag.formats = std::move(kept);
            choices.push_back(std::move(tag));
        }
    }
    if (choices.empty())
        return MMSYSERR_NODRIVER;

    std::size_t tagIndex = 0, formatIndex = 0;
    if (choose->fdwStyle & ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT) {
        const WAVEFORMATEX initial = ReadWaveFormat(choose->pwfx, choose->cbwfx);
        for (std::size_t t = 0; t < choices.size(); ++t)
            for (std::size_t i = 0; i < choices[t].formats.size(); ++i)
                if (SameFormat(choices[t].formats[i].format, initial)) {
                    tagIndex = t;
                    formatIndex = i;
                }
    }

    FormatChooseDialog dialog;
    {
        std::lock_guard lock(DialogMutex());
        dialog = InstalledDialog();
    }
    bool chosen;
    if (dialog) {
        chosen = dialog(*choose, choices, tagIndex, formatIndex);
        if (chosen &&
            (tagIndex >= choices.size() || formatIndex >= choices[tagIndex].formats.size()))
            return MMSYSERR_ERROR;
    } else {
        // No window: the script answers, else the format started on stands.
        chosen = !(AnswersScripted() && TakeScriptedAnswer(MB_OKCANCEL) == IDCANCEL);
        SeamRecord record;
        record.kind = "formatchooser";
        record.caption = choose->pszTitle ? choose->pszTitle : "";
        record.icon = "none";
        record.buttons = "OKCancel";
        record.text = choices[tagIndex].name + " " + choices[tagIndex].formats[formatIndex].text;
        record.source = "Acm";
        record.answer = chosen ? "OK" : "Cancel";
        LogSeamRecord(record);
    }
    if (!chosen)
        return ACMERR_CANCELED;

    const AcmFormatTagEntry& tag = choices[tagIndex];
    const AcmFormatEntry& entry = tag.formats[formatIndex];
    const std::vector<std::uint8_t> bytes = WaveFormatBytes(entry.format);
    if (bytes.size() > choose->cbwfx)
        return ACMERR_NOTPOSSIBLE;
    std::memset(choose->pwfx, 0, choose->cbwfx);
    std::memcpy(choose->pwfx, bytes.data(), bytes.size());
    CopyText(choose->szFormatTag, tag.name);
    CopyText(choose->szFormat, entry.text);
    return MMSYSERR_NOERROR;
}

}  // namespace korrin::platform
