#include "korrin/audio/WaveFile.h"

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
#include "platform/files/Files.h"
#include "platform/registry/Registry.h"

namespace korrin {

using namespace platform;
using namespace detail;

// ---- reading a wave file ----

bool WavePathFits(const std::string& path) {
    if (path.size() <= kMaxWavePath)
        return true;
    CEventReport().Report(Printf("path too long: '%s' has %zu characters, at most %zu are taken",
                                 path.c_str(), path.size(), kMaxWavePath),
                          "Acm", __LINE__);
    return false;
}

bool AskToLoadPastRiffEnd(const RiffOverrun& ck) {
    DebugTrace("wioFileOpen() FILE MIGHT BE CORRUPT!");
    DebugTrace("    ckRIFF.dwDataOffset: %lu", 8ul);
    DebugTrace("          ckRIFF.cksize: %lu", static_cast<unsigned long>(ck.riffSize));
    DebugTrace("        ck.dwDataOffset: %lu", static_cast<unsigned long>(ck.dataOffset));
    DebugTrace("              ck.cksize: %lu", static_cast<unsigned long>(ck.cksize));
    const std::string text = Printf(
        "This wave file might be corrupt. The RIFF chunk.ckid '%.08lX' (data offset at "
        "%lu) specifies a cksize of %lu that extends beyond what the RIFF header cksize "
        "of %lu allows. Attempt to load?",
        static_cast<unsigned long>(ck.ckid), static_cast<unsigned long>(ck.dataOffset),
        static_cast<unsigned long>(ck.cksize), static_cast<unsigned long>(ck.riffSize));
    return AppMessageBox(nullptr, text, "wioFileOpen",
                         MB_YESNO | MB_ICONEXCLAMATION | MB_TASKMODAL) != IDNO;
}

DWORD wioFileOpen(WioFile* wio, const std::string& path, DWORD flags) {
    if (!wio)
        return kWioNoRecord;
    *wio = WioFile{};
    wio->flags = flags;
    auto fail = [wio](DWORD code) {
        if (wio->file)
            mmioClose(wio->file);
        *wio = WioFile{};
        return code;
    };
    wio->file = mmioOpen(path, MMIO_READ | MMIO_ALLOCBUF);
    if (!wio->file)
        return kWioFileError;
    HMMIO h = wio->file;
    const long fileSize = mmioSeek(h, 0, SEEK_END);
    if (fileSize < 0)
        return fail(kWioFileError);
    const auto readAt = [h](std::uint64_t offset, std::uint8_t* into, std::size_t size) {
        return mmioSeek(h, long(offset), SEEK_SET) == long(offset) &&
               mmioRead(h, into, long(size)) == long(size);
    };
    WaveLayout layout;
    switch (ReadWaveLayout(std::uint64_t(fileSize), readAt, layout, AskToLoadPastRiffEnd)) {
        case WaveLayoutResult::kOk:
            break;
        case WaveLayoutResult::kNoFormat:
        case WaveLayoutResult::kShortFormat:
            return fail(kWioNoFormat);
        case WaveLayoutResult::kLargeFormat:
            return fail(kWioNoMemory);
        case WaveLayoutResult::kDeclined:
            return fail(kWioDeclined);
        case WaveLayoutResult::kNotRiffWave:
        case WaveLayoutResult::kDamagedFormat:
        case WaveLayoutResult::kNoData:
            return fail(kWioFileError);
    }
    // The record's copy has room for cbSize at least.
    wio->format = std::move(layout.format);
    if (wio->format.size() < 18)
        wio->format.resize(18, 0);
    wio->dataOffset = static_cast<DWORD>(layout.dataOffset);
    wio->dataSize = static_cast<DWORD>(std::min<std::uint64_t>(layout.dataSize, 0xFFFFFFFFu));
    if (layout.haveFact) {
        wio->sampleCount = layout.factSamples;
    } else {
        const WAVEFORMATEX f = ReadWaveFormat(wio->format.data(), wio->format.size());
        if (f.wFormatTag == WAVE_FORMAT_PCM)
            wio->sampleCount = f.nBlockAlign ? wio->dataSize / f.nBlockAlign : 0;
        else
            wio->sampleCount = 0;
    }
    mmioSeek(h, 0, SEEK_SET);
    return 0;
}

DWORD wioFileClose(WioFile* wio) {
    if (!wio)
        return kWioNoRecord;
    if (wio->file)
        mmioClose(wio->file);
    *wio = WioFile{};
    return 0;
}

bool LoadWaveFileInfo(void* owner, WaveFileInfo& info) {
    info.format.clear();
    info.formatSize = 0;
    info.fileSize = info.dosDate = info.dosTime = info.attributes = 0;
    info.dataSize = info.dataOffset = info.sampleCount = 0;
    if (!WavePathFits(info.path))
        return false;
    // A FIFO in the file's place is refused without waiting for a writer.
    RegularFileStatus st;
    if (!GetRegularFileStatus(info.path, &st))
        return false;
    info.fileSize = static_cast<DWORD>(std::min<std::uint64_t>(st.size, 0xFFFFFFFFu));
    std::tm local{};
    const std::time_t mtime = st.modified;
    localtime_r(&mtime, &local);
    if (local.tm_year >= 80) {
        info.dosDate = DWORD((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
        info.dosTime = DWORD(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    }
    info.title = TitleOf(info.path);
    info.attributes = FILE_ATTRIBUTE_ARCHIVE;
    if (::access(info.path.c_str(), W_OK) != 0)
        info.attributes |= FILE_ATTRIBUTE_READONLY;
    if (!info.title.empty() && info.title[0] == '.')
        info.attributes |= FILE_ATTRIBUTE_HIDDEN;

    WioFile wio;
    const DWORD result = wioFileOpen(&wio, info.path, 0);
    if (result != 0) {
        AppMessageBox(owner,
                      Printf("The file '%s' cannot be loaded as a wave file (wio error=%u).",
                             info.path.c_str(), unsigned(result)),
                      kBoxCaption, MB_OK | MB_ICONEXCLAMATION | MB_TASKMODAL);
        return false;
    }
    // The copy has the format's own size; a cbSize that claims more than the chunk held reads
    // the missing bytes as zero.
    info.formatSize = FormatSize(wio.format.data(), wio.format.size());
    info.format.assign(info.formatSize, 0);
    std::copy_n(wio.format.begin(), std::min<std::size_t>(info.formatSize, wio.format.size()),
                info.format.begin());
    info.dataSize = wio.dataSize;
    info.dataOffset = wio.dataOffset;
    info.sampleCount = wio.sampleCount;
    wioFileClose(&wio);
    return true;
}

bool LoadWaveFileInfo(void* owner, WaveFileInfo& info, const std::string& path) {
    info.path = path;
    return LoadWaveFileInfo(owner, info);
}

// ---- creating an empty wave file ----

bool AcmAppFileNew(FormatChooser& chooser, const std::string& path, WaveFileInfo& info) {
    info.path = path;
    info.title = TitleOf(path);
    if (!WavePathFits(path) || !chooser.format())
        return false;
    HMMIO h = mmioOpen(path, MMIO_CREATE | MMIO_WRITE | MMIO_EXCLUSIVE | MMIO_ALLOCBUF);
    if (!h) {
        ErrorBox(chooser.owner(), MB_ICONEXCLAMATION, "AcmAppFileNew() cannot create file '%s'!",
                 path.c_str());
        return false;
    }
    const DWORD size =
        std::min(FormatSize(chooser.format(), chooser.formatSize()), chooser.formatSize());
    std::vector<std::uint8_t> format(chooser.format(), chooser.format() + size);
    bool ok = true;
    MMCKINFO riff, ck;
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    ok = ok && mmioCreateChunk(h, &riff, MMIO_CREATERIFF) == 0;
    ck.ckid = mmioFOURCC('f', 'm', 't', ' ');
    ok = ok && mmioCreateChunk(h, &ck, 0) == 0 &&
         mmioWrite(h, format.data(), long(size)) == long(size) && mmioAscend(h, &ck, 0) == 0;
    const std::uint8_t zero[4] = {};
    ck = MMCKINFO{};
    ck.ckid = mmioFOURCC('f', 'a', 'c', 't');
    ok = ok && mmioCreateChunk(h, &ck, 0) == 0 && mmioWrite(h, zero, 4) == 4 &&
         mmioAscend(h, &ck, 0) == 0;
    ck = MMCKINFO{};
    ck.ckid = mmioFOURCC('d', 'a', 't', 'a');
    ok = ok && mmioCreateChunk(h, &ck, 0) == 0 && mmioAscend(h, &ck, 0) == 0 &&
         mmioAscend(h, &riff, 0) == 0;
    if (mmioClose(h) != 0 || !ok) {
        ErrorBox(chooser.owner(), MB_ICONEXCLAMATION, "AcmAppFileNew() cannot create file '%s'!",
                 path.c_str());
        return false;
    }
    return LoadWaveFileInfo(chooser.owner(), info);
}

}  // namespace korrin
