#include "korrin/audio/Convert.h"

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
#include "platform/fileio/ShareFile.h"
#include "platform/files/Files.h"
#include "platform/registry/Registry.h"

namespace korrin {

using namespace platform;
using namespace detail;

// ---- converting a file ----

namespace {

// What one conversion holds; released in one place whichever way it ends.
struct Conversion {
    HACMSTREAM stream = nullptr;
    HMMIO source = nullptr;
    HMMIO destination = nullptr;
    MMCKINFO riff;  // the destination's
    MMCKINFO data;  // the destination's
    std::vector<std::uint8_t> sourceBuffer;
    std::vector<std::uint8_t> destinationBuffer;
    ACMSTREAMHEADER header;
    bool prepared = false;
    void* owner = nullptr;

    // Success closes the destination's chunks first; a failure there fails the conversion.
    DWORD finish(bool success) {
        if (source) {
            mmioClose(source);
            source = nullptr;
        }
        if (destination) {
            if (success)
                success = mmioAscend(destination, &data, 0) == 0 &&
                          mmioAscend(destination, &riff, 0) == 0;
            if (mmioClose(destination) != 0)
                success = false;
            destination = nullptr;
        }
        if (prepared) {
            header.cbSrcLength = static_cast<DWORD>(header.dwSrcUser);
            header.cbDstLength = static_cast<DWORD>(header.dwDstUser);
            const MMRESULT mmr = acmStreamUnprepareHeader(stream, &header, 0);
            if (mmr != 0)
                ErrorBox(owner, MB_ICONEXCLAMATION,
                         "acmStreamUnprepareHeader() failed with error = %u!", unsigned(mmr));
            prepared = false;
        }
        if (stream) {
            acmStreamClose(stream, 0);
            stream = nullptr;
        }
        return success ? 0 : 1;
    }
};

bool CopyChunk(HMMIO from, HMMIO to, const MMCKINFO& chunk) {
    MMCKINFO out;
    out.ckid = chunk.ckid;
    if (mmioCreateChunk(to, &out, 0) != 0)
        return false;
    std::vector<std::uint8_t> buffer(std::min<DWORD>(chunk.cksize, 64 * 1024));
    DWORD left = chunk.cksize;
    while (left > 0) {
        const long n = long(std::min<std::size_t>(left, buffer.size()));
        if (mmioRead(from, buffer.data(), n) != n || mmioWrite(to, buffer.data(), n) != n)
            return false;
        left -= DWORD(n);
    }
    return mmioAscend(to, &out, 0) == 0;
}

unsigned Percent(DWORD position, DWORD total) {
    return total ? unsigned(std::uint64_t(position) * 100 / total) : 0;
}

// Converts what the header holds, waiting until the stream says it is done.
MMRESULT ConvertBlock(HACMSTREAM stream, ACMSTREAMHEADER& header, DWORD flags) {
    const MMRESULT mmr = acmStreamConvert(stream, &header, flags);
    if (mmr == 0)
        while (!(header.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE))
            PumpMessages();
    return mmr;
}

}  // namespace

DWORD ConvertedSampleCount(DWORD sourceSamples, DWORD sourceRate, DWORD destinationRate) {
    if (!sourceRate || sourceRate == destinationRate)
        return sourceSamples;
    const std::uint64_t scaled =
        (std::uint64_t(sourceSamples) * destinationRate + sourceRate / 2) / sourceRate;
    return static_cast<DWORD>(std::min<std::uint64_t>(scaled, 0xFFFFFFFF));
}

DWORD ConvertWaveFile(FormatChooser& target, const std::string& sourcePath,
                      const std::string& destinationPath, WaveFileInfo& sourceInfo,
                      const std::atomic<bool>* cancel) {
    WaitCursor wait;
    if (!WavePathFits(sourcePath) || !WavePathFits(destinationPath))
        return 1;
    if (!LoadWaveFileInfo(target.owner(), sourceInfo, sourcePath))
        return 1;
    if (!target.format())
        return 1;
    Conversion c;
    c.owner = target.owner();
    const WAVEFORMATEX sourceFormat =
        ReadWaveFormat(sourceInfo.format.data(), sourceInfo.format.size());
    const WAVEFORMATEX destinationFormat = target.Format();
    // About one second of source audio in whole blocks, at least one block (the average rate
    // is only what the writer put there).
    const DWORD second = std::max<DWORD>(sourceFormat.nAvgBytesPerSec, sourceFormat.nBlockAlign);
    const DWORD sourceBytes =
        sourceFormat.nBlockAlign ? second - second % sourceFormat.nBlockAlign : 0;
    // The data the file held when it was loaded: a data chunk that claims more than the file
    // holds gives what is there. Less than that coming in later is a failure, never an end.
    const DWORD total = static_cast<DWORD>(std::min<std::uint64_t>(
        sourceInfo.dataSize, sourceInfo.fileSize > sourceInfo.dataOffset
                                 ? sourceInfo.fileSize - sourceInfo.dataOffset
                                 : 0));

    if (acmStreamOpen(&c.stream, nullptr, sourceFormat, destinationFormat, nullptr, 0, 0, 0) != 0) {
        // No installed codec converts between the two. The user is told how to fix that; the
        // conversion fails and every file stays as it was.
        const std::string page = vendor::Page("codecs.html");
        CEventReport().ReportTip(
            std::string("Quillion EMail for Windows(tm) has detected an improperly configured "
                        "option on your computer.  It is necessary to fix this problem before "
                        "proceeding.  For a clear explanation on how to fix this problem see, ") +
                page + " or click the 'Fix info from the web' button below. ",
            "Acm", __LINE__, std::string("Fix info from the Web"), page);
        return 1;
    }
    if (sourceBytes == 0)
        return c.finish(false);
    DWORD destinationBytes = 0;
    MMRESULT mmr = acmStreamSize(c.stream, sourceBytes, &destinationBytes, ACM_STREAMSIZEF_SOURCE);
    if (mmr != 0) {
        ErrorBox(c.owner, MB_ICONEXCLAMATION, "acmStreamSize() failed with error = %u!",
                 unsigned(mmr));
        return c.finish(false);
    }
    c.source = mmioOpen(sourcePath, MMIO_READ | MMIO_DENYWRITE | MMIO_ALLOCBUF);
    if (!c.source)
        return c.finish(false);
    c.destination =
        mmioOpen(destinationPath, MMIO_CREATE | MMIO_WRITE | MMIO_EXCLUSIVE | MMIO_ALLOCBUF);
    if (!c.destination)
        return c.finish(false);
    c.sourceBuffer.assign(sourceBytes, 0);
    c.destinationBuffer.assign(destinationBytes, 0);

    ACMSTREAMHEADER& h = c.header;
    h.cbStruct = kAcmStreamHeaderSize;
    h.pbSrc = c.sourceBuffer.data();
    h.cbSrcLength = sourceBytes;
    h.dwSrcUser = sourceBytes;
    h.pbDst = c.destinationBuffer.data();
    h.cbDstLength = destinationBytes;
    h.dwDstUser = destinationBytes;
    mmr = acmStreamPrepareHeader(c.stream, &h, 0);
    if (mmr != 0) {
        ErrorBox(c.owner, MB_ICONEXCLAMATION, "acmStreamPrepareHeader() failed with error = %u!",
                 unsigned(mmr));
        return c.finish(false);
    }
    c.prepared = true;

    // The destination's RIFF chunk holds the copied DISP and plst chunks, then fmt, fact,
    // data. Nothing outside the source's RIFF chunk is carried over.
    c.riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    if (mmioCreateChunk(c.destination, &c.riff, MMIO_CREATERIFF) != 0)
        return c.finish(false);
    MMCKINFO sourceRiff;
    sourceRiff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    if (mmioDescend(c.source, &sourceRiff, nullptr, MMIO_FINDRIFF) != 0)
        return c.finish(false);
    const std::uint64_t riffEnd = std::uint64_t(sourceRiff.dwDataOffset) + sourceRiff.cksize;
    MMCKINFO ck;
    while (mmioDescend(c.source, &ck, &sourceRiff, 0) == 0) {
        // The rule wioFileOpen applies: a chunk that runs past the RIFF chunk was accepted
        // (the user said so when the file was loaded) and is the last one; it is read as far
        // as the file holds it, so nothing after it is looked for.
        if (std::uint64_t(ck.dwDataOffset) + ck.cksize > riffEnd)
            break;
        if ((ck.ckid == mmioFOURCC('D', 'I', 'S', 'P') ||
             ck.ckid == mmioFOURCC('p', 'l', 's', 't')) &&
            !CopyChunk(c.source, c.destination, ck))
            return c.finish(false);
        if (mmioAscend(c.source, &ck, 0) != 0)
            return c.finish(false);
    }
    // The data chunk the file was loaded with (ReadWaveLayout's rules pick which).
    if (mmioSeek(c.source, long(sourceInfo.dataOffset), SEEK_SET) != long(sourceInfo.dataOffset))
        return c.finish(false);

    const DWORD formatBytes =
        std::min(FormatSize(target.format(), target.formatSize()), target.formatSize());
    MMCKINFO out;
    out.ckid = mmioFOURCC('f', 'm', 't', ' ');
    if (mmioCreateChunk(c.destination, &out, 0) != 0 ||
        mmioWrite(c.destination, target.format(), long(formatBytes)) != long(formatBytes) ||
        mmioAscend(c.destination, &out, 0) != 0)
        return c.finish(false);
    // The fact chunk holds the samples of the destination: after a rate change as many as
    // the new rate gives for the same length.
    std::uint8_t count[4];
    StoreLE32(count, ConvertedSampleCount(sourceInfo.sampleCount, sourceFormat.nSamplesPerSec,
                                          destinationFormat.nSamplesPerSec));
    out = MMCKINFO{};
    out.ckid = mmioFOURCC('f', 'a', 'c', 't');
    if (mmioCreateChunk(c.destination, &out, 0) != 0 || mmioWrite(c.destination, count, 4) != 4 ||
        mmioAscend(c.destination, &out, 0) != 0)
        return c.finish(false);
    c.data.ckid = mmioFOURCC('d', 'a', 't', 'a');
    if (mmioCreateChunk(c.destination, &c.data, 0) != 0)
        return c.finish(false);

    auto convertFailed = [&](MMRESULT code) {
        ErrorBox(c.owner, MB_ICONEXCLAMATION, "acmStreamConvert() failed with error = %u!",
                 unsigned(code));
        return c.finish(false);
    };
    auto readFailed = [&]() {
        CEventReport().Report("Reading '" + sourcePath + "' failed in the middle of its audio",
                              "Acm", __LINE__);
        return c.finish(false);
    };
    auto cancelled = [&] { return cancel && cancel->load(std::memory_order_relaxed); };
    auto stop = [&]() {
        c.finish(false);
        ::unlink(destinationPath.c_str());
        return kConvertCancelled;
    };
    auto write = [&]() {
        return mmioWrite(c.destination, h.pbDst, long(h.cbDstLengthUsed)) ==
               long(h.cbDstLengthUsed);
    };

    // Main pass: whole blocks; bytes the stream leaves are read again with the next block.
    DWORD position = 0;
    long shown = -1;
    while (position < total) {
        if (cancelled())
            return stop();
        const unsigned percent = Percent(position, total);
        if (long(percent) != shown) {
            SetItemText(c.owner, kProgressItem, Printf("%u%%", percent));
            shown = percent;
        }
        PumpMessages();
        const long n = mmioRead(c.source, h.pbSrc, long(std::min(total - position, sourceBytes)));
        if (n < 0 || (n == 0 && position < total))
            return readFailed();
        PumpMessages();
        h.cbSrcLength = DWORD(n);
        h.cbDstLengthUsed = 0;
        mmr = ConvertBlock(c.stream, h, ACM_STREAMCONVERTF_BLOCKALIGN);
        if (mmr != 0)
            return convertFailed(mmr);
        PumpMessages();
        if (h.cbSrcLengthUsed < DWORD(n))
            mmioSeek(c.source, -(n - long(h.cbSrcLengthUsed)), SEEK_CUR);
        position += h.cbSrcLengthUsed;
        if (h.cbDstLengthUsed == 0)
            break;
        if (!write())
            return c.finish(false);
    }

    // Cleanup pass: the stream gives out what it still holds.
    while (total > 0) {
        if (cancelled())
            return stop();
        const unsigned percent = Percent(position, total);
        if (long(percent) != shown) {
            SetItemText(c.owner, kProgressItem, Printf("Cleanup Pass -- %u%%", percent));
            shown = percent;
        }
        PumpMessages();
        long n = 0;
        if (total > position) {
            n = mmioRead(c.source, h.pbSrc, long(std::min(total - position, sourceBytes)));
            if (n <= 0)
                return readFailed();
        }
        PumpMessages();
        h.cbSrcLength = DWORD(n);
        h.cbDstLengthUsed = 0;
        mmr = ConvertBlock(c.stream, h, ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_END);
        if (mmr != 0)
            return convertFailed(mmr);
        PumpMessages();
        DWORD used = h.cbSrcLengthUsed;
        if (h.cbDstLengthUsed == 0) {
            // Once more with END alone; the bytes the first call took are not offered again.
            h.cbSrcLength = 0;
            if (ConvertBlock(c.stream, h, ACM_STREAMCONVERTF_END) != 0 || h.cbDstLengthUsed == 0)
                break;
        }
        if (!write())
            return c.finish(false);
        if (used < DWORD(n))
            mmioSeek(c.source, -(n - long(used)), SEEK_CUR);
        position += used;
        if (h.cbDstLengthUsed == 0)
            break;
    }
    return c.finish(true);
}

int ConvertFileInPlace(FormatChooser& target, const std::string& path) {
    const std::string tmp = path + ".tmp";
    ::unlink(tmp.c_str());  // a crashed run's
    WaveFileInfo info;
    if (ConvertWaveFile(target, path, tmp, info) != 0) {
        ::unlink(tmp.c_str());
        KORRIN_REPORT("Convert failed");
        return 1;
    }
    const int in = OpenRegularFile(tmp);
    RegularFileStatus status;
    BOOL replaced = 0;
    if (in >= 0 && GetRegularFileStatus(tmp, &status))
        replaced = ReplaceFileAtomically(
            path, [&](int out) { return CopyFileRange(in, out, status.size); });
    if (in >= 0)
        ::close(in);
    ::unlink(tmp.c_str());
    if (!replaced) {
        KORRIN_REPORT("MoveFile failed");
        return 1;
    }
    return 0;
}

}  // namespace korrin
