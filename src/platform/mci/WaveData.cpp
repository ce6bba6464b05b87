#include "platform/mci/WaveData.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/Endian.h"
#include "platform/files/Files.h"

namespace korrin::platform {

namespace {

bool fourcc(const std::uint8_t* p, const char* id) {
    return p[0] == id[0] && p[1] == id[1] && p[2] == id[2] && p[3] == id[3];
}

void appendId(std::vector<std::uint8_t>& out, const char* id) {
    // Byte by byte: a range insert from a string literal trips gcc's overflow warning at -O2.
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(id[i]));
}

}  // namespace

bool IsPlayablePcm(const WaveFormat& f) {
    if (f.formatTag != kWaveFormatPcm)
        return false;
    if (f.bitsPerSample != 8 && f.bitsPerSample != 16)
        return false;
    if (f.channels != 1 && f.channels != 2)
        return false;
    if (f.samplesPerSec == 0 || f.samplesPerSec > 384000)
        return false;
    return f.blockAlign == f.channels * (f.bitsPerSample / 8);
}

PcmFormat ToPcmFormat(const WaveFormat& f) {
    return PcmFormat{f.channels, f.samplesPerSec, f.bitsPerSample};
}

WaveFormat ToWaveFormat(const PcmFormat& p) {
    WaveFormat f;
    f.formatTag = kWaveFormatPcm;
    f.channels = p.channels;
    f.samplesPerSec = p.samplesPerSec;
    f.blockAlign = static_cast<std::uint16_t>(p.blockAlign());
    f.avgBytesPerSec = p.samplesPerSec * p.blockAlign();
    f.bitsPerSample = p.bitsPerSample;
    return f;
}

WaveLayoutResult ReadWaveLayout(std::uint64_t fileSize, const WaveReadAt& readAt, WaveLayout& out,
                                const RiffOverrunQuestion& ask) {
    out = WaveLayout{};
    std::uint8_t head[12];
    if (fileSize < 12 || !readAt(0, head, 12) || !fourcc(head, "RIFF") || !fourcc(head + 8, "WAVE"))
        return WaveLayoutResult::kNotRiffWave;
    const std::uint32_t riffSize = LoadLE32(head + 4);
    const std::uint64_t riffEnd = 8 + std::uint64_t(riffSize);
    // Headers are looked for inside the RIFF chunk and the file, whichever ends first.
    const std::uint64_t end = std::min(riffEnd, fileSize);
    bool haveFormat = false, haveData = false;
    std::uint64_t pos = 12;
    while (pos + 8 <= end) {
        std::uint8_t ck[8];
        if (!readAt(pos, ck, 8))
            break;
        const std::uint32_t ckSize = LoadLE32(ck + 4);
        const std::uint64_t body = pos + 8;
        const bool overrun = body + ckSize > riffEnd;
        if (overrun && ask && !ask(RiffOverrun{LoadLE32(ck), body, ckSize, riffSize}))
            return WaveLayoutResult::kDeclined;
        const std::uint64_t avail = std::min<std::uint64_t>(ckSize, fileSize - body);
        if (fourcc(ck, "fmt ") && !haveFormat) {
            if (ckSize < kShortestWaveFormatChunk)
                return WaveLayoutResult::kShortFormat;
            if (ckSize > kLargestWaveFormatChunk)
                return WaveLayoutResult::kLargeFormat;
            out.format.resize(ckSize);
            if (avail < ckSize || !readAt(body, out.format.data(), ckSize))
                return WaveLayoutResult::kDamagedFormat;
            haveFormat = true;
        } else if (fourcc(ck, "data") && (!haveData || out.dataSize == 0)) {
            out.dataOffset = body;
            out.dataSize = avail;
            haveData = true;
        } else if (fourcc(ck, "fact") && !out.haveFact && avail >= 4) {
            std::uint8_t count[4];
            if (readAt(body, count, 4)) {
                out.factSamples = LoadLE32(count);
                out.haveFact = true;
            }
        }
        // A chunk past the RIFF end is the last: nothing after it belongs to the file.
        if (overrun)
            break;
        pos = body + ckSize + (ckSize & 1);
    }
    if (!haveFormat)
        return WaveLayoutResult::kNoFormat;
    if (!haveData)
        return WaveLayoutResult::kNoData;
    return WaveLayoutResult::kOk;
}

WaveReadResult ParseWave(const std::uint8_t* bytes, std::size_t size, WaveImage& out,
                         const RiffOverrunQuestion& ask) {
    out = WaveImage{};
    WaveLayout layout;
    const auto readAt = [bytes, size](std::uint64_t offset, std::uint8_t* into, std::size_t n) {
        if (offset > size || n > size - offset)
            return false;
        std::copy_n(bytes + offset, n, into);
        return true;
    };
    switch (ReadWaveLayout(size, readAt, layout, ask)) {
        case WaveLayoutResult::kOk:
            break;
        case WaveLayoutResult::kNotRiffWave:
            return WaveReadResult::kNotRiffWave;
        case WaveLayoutResult::kNoFormat:
            return WaveReadResult::kNoFormat;
        case WaveLayoutResult::kNoData:
            return WaveReadResult::kNoData;
        case WaveLayoutResult::kDeclined:
            return WaveReadResult::kDeclined;
        case WaveLayoutResult::kShortFormat:
        case WaveLayoutResult::kLargeFormat:
        case WaveLayoutResult::kDamagedFormat:
            return WaveReadResult::kBadFormat;
    }
    const std::uint8_t* f = layout.format.data();
    out.format.formatTag = LoadLE16(f);
    out.format.channels = LoadLE16(f + 2);
    out.format.samplesPerSec = LoadLE32(f + 4);
    out.format.avgBytesPerSec = LoadLE32(f + 8);
    out.format.blockAlign = LoadLE16(f + 12);
    out.format.bitsPerSample = LoadLE16(f + 14);
    if (out.format.formatTag != kWaveFormatPcm)
        out.format.extra.assign(layout.format.begin() + 16, layout.format.end());
    if (out.format.channels == 0 || out.format.blockAlign == 0)
        return WaveReadResult::kBadFormat;
    const std::size_t dataSize =
        static_cast<std::size_t>(layout.dataSize - layout.dataSize % out.format.blockAlign);
    const std::size_t at = static_cast<std::size_t>(layout.dataOffset);
    out.data.assign(bytes + at, bytes + at + dataSize);
    return WaveReadResult::kOk;
}

std::vector<std::uint8_t> SerializeWave(const WaveFormat& f, const std::uint8_t* data,
                                        std::size_t size) {
    const bool pcm = f.formatTag == kWaveFormatPcm;
    const std::uint32_t fmtSize = pcm ? 16 : static_cast<std::uint32_t>(16 + f.extra.size());
    const std::uint32_t pad = size & 1;
    std::vector<std::uint8_t> out;
    out.reserve(44 + f.extra.size() + size + pad);
    appendId(out, "RIFF");
    AppendLE32(out, static_cast<std::uint32_t>(4 + 8 + fmtSize + (fmtSize & 1) + 8 + size + pad));
    appendId(out, "WAVE");
    appendId(out, "fmt ");
    AppendLE32(out, fmtSize);
    AppendLE16(out, f.formatTag);
    AppendLE16(out, f.channels);
    AppendLE32(out, f.samplesPerSec);
    AppendLE32(out, f.avgBytesPerSec);
    AppendLE16(out, f.blockAlign);
    AppendLE16(out, f.bitsPerSample);
    if (!pcm) {
        out.insert(out.end(), f.extra.begin(), f.extra.end());
        if (fmtSize & 1)
            out.push_back(0);
    }
    appendId(out, "data");
    AppendLE32(out, static_cast<std::uint32_t>(size));
    out.insert(out.end(), data, data + size);
    if (pad)
        out.push_back(0);
    return out;
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out) {
    out.clear();
    // Opened without blocking and checked before anything is read: a FIFO would hold the
    // caller until some writer came along, a device would be read for ever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat st {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return false;
    }
    std::uint8_t buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            out.clear();
            return false;
        }
        if (n == 0)
            break;
        out.insert(out.end(), buffer, buffer + n);
    }
    ::close(fd);
    return true;
}

bool ReplaceFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    // A file saved over keeps its permissions; a new one gets the usual ones.
    ReplaceOptions options;
    options.modeWhenNew = 0644;
    return ReplaceFileAtomically(
        path, [&](int fd) { return WriteAll(fd, bytes.data(), bytes.size()); }, options);
}

}  // namespace korrin::platform
