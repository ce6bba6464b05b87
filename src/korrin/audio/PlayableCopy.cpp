#include "korrin/audio/PlayableCopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "korrin/app/Defaults.h"
#include "korrin/app/Utils.h"
#include "korrin/app/Vendor.h"
#include "korrin/app/Zip.h"
#include "korrin/audio/Acm.h"
#include "korrin/store/Trailer.h"
#include "platform/Endian.h"
#include "platform/Text.h"
#include "platform/acm/Acm.h"
#include "platform/acm/OpusEncoder.h"
#include "platform/files/Files.h"
#include "platform/files/ToolOutput.h"

namespace korrin {

using namespace platform;

namespace {

// Source bytes per conversion call: whole blocks, about this many.
constexpr std::size_t kPieceBytes = 16384;

std::string Errno(const char* what) {
    return std::string(what) + " failed: " + std::strerror(errno);
}

// Reads exactly size bytes at offset; false at the end of the file or on an error.
bool ReadAt(int fd, std::uint64_t offset, std::uint8_t* into, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::pread(fd, into, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        into += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

// Closes on every path out.
struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

// Where a wave file keeps its format and its audio.
struct AudioLayout {
    WAVEFORMATEX format;
    std::uint64_t dataOffset = 0;
    std::uint64_t dataSize = 0;
};

// Reads the layout of a RIFF WAVE file that ends at limit (the message's envelope follows it) by
// the rules every wave reader keeps. A chunk past the RIFF end is taken as far as it goes: the
// message's own recording is copied, nobody is there to ask.
bool FindAudioLayout(int fd, std::uint64_t limit, AudioLayout& layout, std::string& why) {
    WaveLayout found;
    const auto readAt = [fd](std::uint64_t offset, std::uint8_t* into, std::size_t size) {
        return ReadAt(fd, offset, into, size);
    };
    switch (ReadWaveLayout(limit, readAt, found)) {
        case WaveLayoutResult::kOk:
            break;
        case WaveLayoutResult::kNotRiffWave:
            why = "no wave file";
            return false;
        case WaveLayoutResult::kNoFormat:
            why = "no format chunk";
            return false;
        case WaveLayoutResult::kNoData:
        case WaveLayoutResult::kDeclined:
            why = "no data chunk";
            return false;
        case WaveLayoutResult::kShortFormat:
        case WaveLayoutResult::kLargeFormat:
        case WaveLayoutResult::kDamagedFormat:
            why = "damaged format chunk";
            return false;
    }
    layout.format = ReadWaveFormat(found.format.data(), found.format.size());
    layout.dataOffset = found.dataOffset;
    layout.dataSize = found.dataSize;
    return true;
}

// Where the decoded audio goes: 16-bit mono samples in pieces.
class Sink {
  public:
    virtual ~Sink() = default;
    virtual bool Put(const std::int16_t* samples, std::size_t count, std::string& why) = 0;
    virtual bool Finish(std::string& why) = 0;
};

class OpusSink : public Sink {
  public:
    bool Open(int fd, const AudioCopyTags& tags, std::uint32_t sourceRate, std::string& why) {
        OpusTags t{tags.title, tags.artist, tags.date, EncoderTag()};
        OpusSettings settings;
        settings.sourceRate = sourceRate;
        if (!writer_.Open(fd, t, settings)) {
            why = writer_.error();
            return false;
        }
        return true;
    }
    bool Put(const std::int16_t* samples, std::size_t count, std::string& why) override {
        if (writer_.Write(samples, count))
            return true;
        why = writer_.error();
        return false;
    }
    bool Finish(std::string& why) override {
        if (writer_.Finish())
            return true;
        why = writer_.error();
        return false;
    }

  private:
    OggOpusWriter writer_;
};

// 16-bit PCM mono; the sizes are filled in at the end, the tags follow the data as a LIST
// INFO chunk.
class WaveSink : public Sink {
  public:
    bool Open(int fd, std::uint32_t rate, const AudioCopyTags& tags, std::string& why) {
        fd_ = fd;
        rate_ = rate;
        tags_ = tags;
        std::vector<std::uint8_t> head;
        auto tag = [&](const char* id) {
            for (int i = 0; i < 4; ++i)
                head.push_back(static_cast<std::uint8_t>(id[i]));
        };
        tag("RIFF");
        AppendLE32(head, 0);
        tag("WAVE");
        tag("fmt ");
        AppendLE32(head, 16);
        AppendLE16(head, WAVE_FORMAT_PCM);
        AppendLE16(head, 1);
        AppendLE32(head, rate);
        AppendLE32(head, rate * 2);
        AppendLE16(head, 2);
        AppendLE16(head, 16);
        tag("data");
        AppendLE32(head, 0);
        if (!WriteAll(fd, head.data(), head.size())) {
            why = Errno("write");
            return false;
        }
        return true;
    }
    bool Put(const std::int16_t* samples, std::size_t count, std::string& why) override {
        if (dataBytes_ + count * 2 > kMaxData) {
            why = "audio too long for a wave file";
            return false;
        }
        buffer_.clear();
        for (std::size_t i = 0; i < count; ++i)
            AppendLE16(buffer_, static_cast<std::uint16_t>(samples[i]));
        if (!WriteAll(fd_, buffer_.data(), buffer_.size())) {
            why = Errno("write");
            return false;
        }
        dataBytes_ += count * 2;
        return true;
    }
    bool Finish(std::string& why) override {
        std::vector<std::uint8_t> info;
        // Byte by byte: gcc's overflow warning misreads a four-byte insert here.
        auto tag = [&](const char* id) {
            for (int i = 0; i < 4; ++i)
                info.push_back(static_cast<std::uint8_t>(id[i]));
        };
        tag("INFO");
        const std::pair<const char*, std::string> items[] = {
            {"INAM", tags_.title},
            {"IART", tags_.artist},
            {"ICRD", tags_.date},
            {"ISFT", EncoderTag()},
        };
        for (const auto& [id, text] : items) {
            if (text.empty())
                continue;
            tag(id);
            AppendLE32(info, static_cast<std::uint32_t>(text.size() + 1));
            for (char c : text)
                info.push_back(static_cast<std::uint8_t>(c));
            info.push_back(0);
            if (info.size() & 1)
                info.push_back(0);
        }
        std::vector<std::uint8_t> list;
        for (char c : {'L', 'I', 'S', 'T'})
            list.push_back(static_cast<std::uint8_t>(c));
        AppendLE32(list, static_cast<std::uint32_t>(info.size()));
        for (std::uint8_t b : info)
            list.push_back(b);
        std::uint8_t riff[4], data[4];
        StoreLE32(riff, static_cast<std::uint32_t>(36 + dataBytes_ + list.size()));
        StoreLE32(data, static_cast<std::uint32_t>(dataBytes_));
        if (!WriteAll(fd_, list.data(), list.size()) || ::pwrite(fd_, riff, 4, 4) != 4 ||
            ::pwrite(fd_, data, 4, 40) != 4) {
            why = Errno("write");
            return false;
        }
        return true;
    }

  private:
    static constexpr std::uint64_t kMaxData = 0xFFFF0000u;
    int fd_ = -1;
    std::uint32_t rate_ = 0;
    AudioCopyTags tags_;
    std::uint64_t dataBytes_ = 0;
    std::vector<std::uint8_t> buffer_;
};

// The audio of a wave file through the compression manager into 16-bit mono at rate.
bool DecodeInto(int fd, const AudioLayout& layout, std::uint32_t rate, Sink& sink,
                std::string& why) {
    const WAVEFORMATEX& source = layout.format;
    if (source.nBlockAlign == 0 || !acmFormatSupported(source)) {
        why = "no codec for format tag " + std::to_string(source.wFormatTag);
        return false;
    }
    WAVEFORMATEX destination;
    destination.wFormatTag = WAVE_FORMAT_PCM;
    destination.nChannels = 1;
    destination.nSamplesPerSec = rate;
    destination.nAvgBytesPerSec = rate * 2;
    destination.nBlockAlign = 2;
    destination.wBitsPerSample = 16;
    HACMSTREAM stream = nullptr;
    if (acmStreamOpen(&stream, nullptr, source, destination, nullptr, 0, 0, 0) !=
        MMSYSERR_NOERROR) {
        why = "acmStreamOpen failed";
        return false;
    }
    const DWORD piece = source.nBlockAlign * std::max<DWORD>(1, kPieceBytes / source.nBlockAlign);
    DWORD outSize = 0;
    bool ok = acmStreamSize(stream, piece, &outSize, ACM_STREAMSIZEF_SOURCE) == MMSYSERR_NOERROR &&
              outSize > 0;
    std::vector<std::uint8_t> in(piece), out(outSize);
    std::vector<std::int16_t> samples;
    ACMSTREAMHEADER header;
    header.cbStruct = kAcmStreamHeaderSize;
    header.pbSrc = in.data();
    header.cbSrcLength = piece;
    header.pbDst = out.data();
    header.cbDstLength = outSize;
    ok = ok && acmStreamPrepareHeader(stream, &header, 0) == MMSYSERR_NOERROR;
    if (!ok)
        why = "acmStreamPrepareHeader failed";
    std::uint64_t at = 0;
    DWORD flags = ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_BLOCKALIGN;
    while (ok) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(piece, layout.dataSize - at));
        const bool last = at + n == layout.dataSize;
        if (!ReadAt(fd, layout.dataOffset + at, in.data(), n)) {
            why = "audio cut short";
            ok = false;
            break;
        }
        header.cbSrcLength = static_cast<DWORD>(n);
        if (last)
            flags |= ACM_STREAMCONVERTF_END;
        if (acmStreamConvert(stream, &header, flags) != MMSYSERR_NOERROR) {
            why = "acmStreamConvert failed";
            ok = false;
            break;
        }
        samples.resize(header.cbDstLengthUsed / 2);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<std::int16_t>(LoadLE16(out.data() + 2 * i));
        if (!samples.empty() && !sink.Put(samples.data(), samples.size(), why)) {
            ok = false;
            break;
        }
        at += header.cbSrcLengthUsed;
        flags &= ~ACM_STREAMCONVERTF_START;
        if (last && header.cbDstLengthUsed == 0 && header.cbSrcLengthUsed == 0)
            break;  // everything is out
        if (!last && header.cbSrcLengthUsed == 0 && header.cbDstLengthUsed == 0) {
            why = "the codec takes nothing";
            ok = false;
        }
    }
    header.cbSrcLength = piece;
    header.cbDstLength = outSize;
    acmStreamUnprepareHeader(stream, &header, 0);
    acmStreamClose(stream, 0);
    return ok && sink.Finish(why);
}

bool WriteWaveAudio(int fd, std::uint64_t limit, const AudioCopyTags& tags, AudioCopyFormat format,
                    int out, std::string& why) {
    AudioLayout layout;
    if (!FindAudioLayout(fd, limit, layout, why))
        return false;
    if (format == AudioCopyFormat::kOpus) {
        OpusSink sink;
        return sink.Open(out, tags, layout.format.nSamplesPerSec, why) &&
               DecodeInto(fd, layout, OggOpusWriter::kRate, sink, why);
    }
    const DWORD rate = layout.format.nSamplesPerSec;
    if (rate < 1000 || rate > 192000) {
        why = "unusable rate " + std::to_string(rate);
        return false;
    }
    WaveSink sink;
    return sink.Open(out, rate, tags, why) && DecodeInto(fd, layout, rate, sink, why);
}

// A numbered work folder under the temporary path, emptied and removed with the object.
class WorkFolder {
  public:
    ~WorkFolder() {
        if (folder_.empty())
            return;
        RemoveFolderContents(folder_);
        RemoveDirectory(folder_);
    }
    bool Open(std::string& why) {
        std::string temp = GetTempPath();
        std::error_code ec;
        std::string absolute = std::filesystem::absolute(temp, ec).string();
        if (!ec)
            temp = absolute;
        std::string candidate;
        if (CUtils().MakeUniqueDirectory(candidate, temp) != 0) {
            why = Errno("CreateDirectory");
            return false;
        }
        folder_ = candidate;
        return true;
    }
    const std::string& folder() const { return folder_; }

  private:
    std::string folder_;
};

// The archive (the first size bytes of fd) unpacked by the pkunzip tool, then its wave.
bool WriteZippedAudio(int fd, std::uint64_t size, const AudioCopyTags& tags, AudioCopyFormat format,
                      int out, std::string& why) {
    std::string tool;
    if (!LocateZipTool(kPkunzipExe, tool)) {
        why = "no pkunzip in the tools folder";
        return false;
    }
    WorkFolder work;
    if (!work.Open(why))
        return false;
    const std::string archive = work.folder() + "/message.kx1";
    {
        Fd copy(CreateNewFile(archive, 0600));
        if (copy.fd < 0) {
            why = Errno("open");
            return false;
        }
        std::vector<std::uint8_t> buffer(65536);
        for (std::uint64_t at = 0; at < size;) {
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - at));
            if (!ReadAt(fd, at, buffer.data(), n) || !WriteAll(copy.fd, buffer.data(), n)) {
                why = Errno("copy");
                return false;
            }
            at += n;
        }
    }
    if (UnzipFileInPlace(archive) != 0) {
        why = "no wave file came out of the archive";
        return false;
    }
    Fd wave(OpenRegularFile(archive));
    std::uint64_t waveSize = 0;
    if (wave.fd < 0 || !GetOpenFileSize(wave.fd, &waveSize)) {
        why = Errno("open");
        return false;
    }
    return WriteWaveAudio(wave.fd, waveSize, tags, format, out, why);
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool EndsWithNoCase(const std::string& text, const char* tail) {
    const std::size_t n = std::strlen(tail);
    return text.size() >= n && EqualsNoCase(text.substr(text.size() - n), tail);
}

// A wave file whose RIFF chunk ends exactly where the file does carries no envelope.
bool IsWholeWaveFile(const std::string& path, std::uint64_t size) {
    Fd fd(OpenRegularFile(path));
    std::uint8_t head[12];
    if (fd.fd < 0 || !ReadAt(fd.fd, 0, head, 12) || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0)
        return false;
    const std::uint64_t riff = LoadLE32(head + 4);
    return 8 + riff == size || 8 + riff + 1 == size;
}

}  // namespace

std::string EncoderTag() {
    return std::string("Korrin ") + vendor::kVersion;
}

AudioCopyTags TagsFromEnvelope(const CMessageTrailer& envelope) {
    AudioCopyTags tags;
    tags.title = envelope.subject;
    tags.artist = envelope.senderName;
    std::int64_t seconds = 0;
    SYSTEMTIME d = envelope.date;
    if (SystemTimeToSeconds(d, &seconds)) {
        char text[64];
        std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", unsigned(d.wYear),
                      unsigned(d.wMonth), unsigned(d.wDay), unsigned(d.wHour), unsigned(d.wMinute),
                      unsigned(d.wSecond));
        tags.date = text;
    }
    return tags;
}

bool WriteMessageAudio(const std::string& path, std::uint64_t payloadBytes,
                       const AudioCopyTags& tags, AudioCopyFormat format, int out,
                       std::string& why) {
    Fd in(OpenRegularFile(path));
    if (in.fd < 0) {
        why = Errno("open");
        return false;
    }
    std::uint8_t magic[4] = {};
    if (payloadBytes < 4 || !ReadAt(in.fd, 0, magic, 4)) {
        why = "no audio";
        return false;
    }
    if (std::memcmp(magic, "PK\x03\x04", 4) == 0)
        return WriteZippedAudio(in.fd, payloadBytes, tags, format, out, why);
    return WriteWaveAudio(in.fd, payloadBytes, tags, format, out, why);
}

int ExportMessageAudio(const std::string& messagePath, const std::string& outPath,
                       std::string& why) {
    AudioCopyFormat format;
    if (EndsWithNoCase(outPath, ".opus"))
        format = AudioCopyFormat::kOpus;
    else if (EndsWithNoCase(outPath, ".wav"))
        format = AudioCopyFormat::kWave;
    else {
        why = "the output must end in .opus or .wav";
        return 1;
    }
    struct stat st {};
    if (::stat(messagePath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        why = S_ISDIR(st.st_mode) ? "a folder, not a message file" : Errno("stat");
        return 1;
    }
    std::uint64_t payload = static_cast<std::uint64_t>(st.st_size);
    AudioCopyTags tags;
    if (!IsWholeWaveFile(messagePath, payload)) {
        CMessageTrailer envelope;
        envelope.selection = trailer::kAllText;
        const int read = envelope.Read(messagePath);
        if (read == trailer::kRead) {
            payload = envelope.fileSize - 8 - envelope.length;
            tags = TagsFromEnvelope(envelope);
        } else if (read != trailer::kNoTrailer) {
            why = read == trailer::kDamaged ? "damaged envelope" : "cannot read the message file";
            return 1;
        }
    }

    const std::string folder = FolderOf(outPath);
    // Readable as any file the user makes; nobody sees it before it is whole and named.
    Fd out(CreateUnnamedFile(folder, 0666));
    if (out.fd < 0) {
        why = Errno("open");
        return 1;
    }
    if (!WriteMessageAudio(messagePath, payload, tags, format, out.fd, why))
        return 1;
    if (::fsync(out.fd) != 0) {
        why = Errno("fsync");
        return 1;
    }
    const std::string link = "/proc/self/fd/" + std::to_string(out.fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temp = folder + "/.korrin-export-" + std::to_string(::getpid()) + "-" +
                                 std::to_string(attempt);
        if (::linkat(AT_FDCWD, link.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno == EEXIST)
                continue;
            why = Errno("linkat");
            return 1;
        }
        if (::rename(temp.c_str(), outPath.c_str()) != 0) {
            why = Errno("rename");
            ::unlink(temp.c_str());
            return 1;
        }
        return 0;
    }
    why = "no free temporary name";
    return 1;
}

PlayableCopy::~PlayableCopy() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool PlayableCopy::Make(const std::string& messagePath, const CMessageTrailer& envelope) {
    if (CUtils().GetSettingDword(setting::kAttachPlayableCopy) == 0)
        return false;
    std::string why;
    const std::uint64_t payload = envelope.fileSize >= 8 + std::uint64_t(envelope.length)
                                      ? envelope.fileSize - 8 - envelope.length
                                      : 0;
    int fd = CreateUnnamedFile(GetTempPath(), 0600);
    if (fd < 0)
        why = Errno("open");
    else if (!WriteMessageAudio(messagePath, payload, TagsFromEnvelope(envelope),
                                AudioCopyFormat::kOpus, fd, why)) {
        ::close(fd);
        fd = -1;
    }
    if (fd < 0) {
        DebugTrace("Playable copy not attached (%s): %s", why.c_str(), messagePath.c_str());
        return false;
    }
    fd_ = fd;
    path_ = "/proc/self/fd/" + std::to_string(fd);
    std::string base = FileNamePart(messagePath);
    if (const auto dot = base.rfind('.'); dot != std::string::npos && dot > 0)
        base.resize(dot);
    fileName_ = base + ".opus";
    return true;
}

}  // namespace korrin
