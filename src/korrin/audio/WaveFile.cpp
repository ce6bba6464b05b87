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
    MMCKINFO riff;
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    if (mmioDescend(wio->file, &riff, nullptr, MMIO_FINDRIFF) != MMSYSERR_NOERROR)
        return fail(kWioFileError);
    wio->sampleCount = 0xFFFFFFFF;
    const std::uint64_t riffEnd = std::uint64_t(riff.dwDataOffset) + riff.cksize;
    MMCKINFO ck;
    while (mmioDescend(wio->file, &ck, &riff, 0) == MMSYSERR_NOERROR) {
        if (std::uint64_t(ck.dwDataOffset) + ck.cksize > riffEnd) {
            DebugTrace("wioFileOpen() FILE MIGHT BE CORRUPT!");
            DebugTrace("    ckRIFF.dwDataOffset: %lu",
                       static_cast<unsigned long>(riff.dwDataOffset));
            DebugTrace("          ckRIFF.cksize: %lu", static_cast<unsigned long>(riff.cksize));
            DebugTrace("        ck.dwDataOffset: %lu", static_cast<unsigned long>(ck.dwDataOffset));
            DebugTrace("              ck.cksize: %lu", static_cast<unsigned long>(ck.cksize));
            const std::string text = Printf(
                "This wave file might be corrupt. The RIFF chunk.ckid '%.08lX' (data offset at "
                "%lu) specifies a cksize of %lu that extends beyond what the RIFF header cksize "
                "of %lu allows. Attempt to load?",
                static_cast<unsigned long>(ck.ckid), static_cast<unsigned long>(ck.dwDataOffset),
                static_cast<unsigned long>(ck.cksize), static_cast<unsigned long>(riff.cksize));
            if (AppMessageBox(nullptr, text, "wioFileOpen",
                              MB_YESNO | MB_ICONEXCLAMATION | MB_TASKMODAL) == IDNO)
                return fail(kWioDeclined);
        }
        if (ck.ckid == mmioFOURCC('f', 'm', 't', ' ')) {
            if (wio->format.empty()) {
                if (ck.cksize > kLargestFormatChunk)
                    return fail(kWioNoMemory);
                wio->format.assign(std::max<DWORD>(ck.cksize, 18), 0);
                if (mmioRead(wio->file, wio->format.data(), long(ck.cksize)) != long(ck.cksize))
                    return fail(kWioFileError);
            }
        } else if (ck.ckid == mmioFOURCC('d', 'a', 't', 'a')) {
            if (wio->dataSize == 0) {
                wio->dataSize = ck.cksize;
                wio->dataOffset = ck.dwDataOffset;
            }
        } else if (ck.ckid == mmioFOURCC('f', 'a', 'c', 't')) {
            std::uint8_t count[4];
            if (wio->sampleCount == 0xFFFFFFFF && ck.cksize >= 4 &&
                mmioRead(wio->file, count, 4) == 4)
                wio->sampleCount = LoadLE32(count);
        }
        if (mmioAscend(wio->file, &ck, 0) != MMSYSERR_NOERROR)
            break;
    }
    if (wio->format.empty())
        return fail(kWioNoFormat);
    if (wio->sampleCount == 0xFFFFFFFF) {
        const WAVEFORMATEX f = ReadWaveFormat(wio->format.data(), wio->format.size());
        if (f.wFormatTag == WAVE_FORMAT_PCM)
            wio->sampleCount = f.nBlockAlign ? wio->dataSize / f.nBlockAlign : 0;
        else
            wio->sampleCount = 0;
    }
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
