#include "korrin/audio/Acm.h"

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

namespace {

constexpr unsigned MB_TASKMODAL = 0x2000;
constexpr const char* kBoxCaption = "Error";  // what a box without a caption is titled

std::atomic<AudioWindow*> g_window{nullptr};

// Wait cursor for the length of a scope.
class WaitCursor {
  public:
    WaitCursor() : window_(g_window.load()) {
        if (window_)
            window_->BeginWaitCursor();
    }
    ~WaitCursor() {
        if (window_)
            window_->EndWaitCursor();
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

  private:
    AudioWindow* window_;
};

void SetItemText(void* owner, int item, const std::string& text) {
    if (AudioWindow* w = g_window.load())
        w->SetItemText(owner, item, text);
}

// Lets the user-interface thread handle what waits for it, so the owner window redraws and
// answers while a long conversion runs.
void PumpMessages() {
    QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread())
        QCoreApplication::processEvents();
}

std::string TitleOf(const std::string& path) {
    const auto cut = path.find_last_of("/\\:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// ---- registry values of the two formats ----

struct FormatValues {
    const char* format;
    const char* details;
    const std::vector<std::uint8_t>& (*defaultFormat)();
    const char* defaultText;
};

const FormatValues kLocal{setting::kWaveFormat, setting::kFormatDetails, &DefaultLocalFormat,
                          kDefaultLocalFormatText};
const FormatValues kTransport{setting::kWaveFormatTransport, setting::kFormatDetailsTransport,
                              &DefaultTransportFormat, kDefaultTransportFormatText};

bool OpenKey(const std::string& key, RegKeyGuard& guard, int line) {
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, key, guard.out()) == ERROR_SUCCESS)
        return true;
    CEventReport().Report("RegOpenKeyEx failed", "Acm", line);
    return false;
}

// Text values are stored with their terminating zero.
void WriteDetails(HKEY key, const char* name, const std::string& text) {
    RegSetValueEx(key, name, REG_SZ, reinterpret_cast<const std::uint8_t*>(text.c_str()),
                  static_cast<DWORD>(text.size() + 1));
}

int WriteFormat(const FormatValues& v, const std::string& key, const std::uint8_t* format,
                DWORD count, const std::string& details, int line) {
    RegKeyGuard guard;
    if (!OpenKey(key, guard, line))
        return 1;
    WriteDetails(guard.get(), v.details, details);
    RegSetValueEx(guard.get(), v.format, REG_BINARY, format, count);
    return 0;
}

int WriteDefault(const FormatValues& v, const std::string& key, std::vector<std::uint8_t>& buffer,
                 std::string& details, int line) {
    RegKeyGuard guard;
    if (!OpenKey(key, guard, line))
        return 1;
    details = v.defaultText;
    WriteDetails(guard.get(), v.details, details);
    // The default's bytes go first; the rest of the buffer stays as it is.
    const auto& def = v.defaultFormat();
    std::copy_n(def.begin(), std::min(def.size(), buffer.size()), buffer.begin());
    RegSetValueEx(guard.get(), v.format, REG_BINARY, buffer.data(),
                  static_cast<DWORD>(buffer.size()));
    return 0;
}

int ReadFormat(const FormatValues& v, const std::string& key, std::vector<std::uint8_t>& buffer,
               std::string& details, int line) {
    RegKeyGuard guard;
    if (!OpenKey(key, guard, line))
        return 1;
    DWORD size = static_cast<DWORD>(buffer.size());
    std::vector<std::uint8_t> read(buffer.size());
    if (buffer.empty() ||
        RegQueryValueEx(guard.get(), v.format, nullptr, read.data(), &size) != ERROR_SUCCESS) {
        guard.reset();
        return WriteDefault(v, key, buffer, details, line);
    }
    std::copy_n(read.begin(), size, buffer.begin());
    std::vector<std::uint8_t> text(kFormatDetailsBytes);
    size = kFormatDetailsBytes;
    if (RegQueryValueEx(guard.get(), v.details, nullptr, text.data(), &size) != ERROR_SUCCESS) {
        guard.reset();
        return WriteDefault(v, key, buffer, details, line);
    }
    const auto end = text.begin() + size;
    details.assign(text.begin(), std::find(text.begin(), end, 0));
    return 0;
}

const char* ChooseErrorText(MMRESULT code) {
    switch (code) {
        case 5:
            return "The specified handle is invalid.";
        case 6:
            return "A suitable driver is not available to provide valid format selections.";
        case 10:
            return "At least one flag is invalid.";
        case 11:
            return "At least one parameter is invalid.";
        case 512:
            return "The buffer identified by the pwfx member of the ACMFORMATCHOOSE structure is "
                   "too small to contain the selected format.";
        default:
            return "Unknown Error";
    }
}

}  // namespace

void InstallAudioWindow(AudioWindow* window) {
    g_window.store(window);
}

DWORD FormatSize(const std::uint8_t* format, std::size_t available) {
    if (!format || available < 2)
        return 0;
    const WAVEFORMATEX f = ReadWaveFormat(format, available);
    return f.wFormatTag == WAVE_FORMAT_PCM ? 16u : 18u + f.cbSize;
}

// ---- FormatChooser ----

FormatChooser::FormatChooser(void* owner) : owner_(owner) {
    DWORD largest = 0;
    const MMRESULT mmr = acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &largest);
    if (mmr != MMSYSERR_NOERROR) {
        DebugTrace("!AcmAppChooserFormat() acmMetrics failed mmr=%u!", unsigned(mmr));
        return;
    }
    try {
        format_.assign(largest, 0);
    } catch (const std::bad_alloc&) {
        DebugTrace("!AcmAppChooserFormat() malloc(%lu) failed!",
                   static_cast<unsigned long>(largest));
    }
}

WAVEFORMATEX FormatChooser::Format() const {
    return ReadWaveFormat(format_.data(), format_.size());
}

int FormatChooser::GetFormat(const std::string& key, std::string& details) {
    return ReadFormat(kLocal, key, format_, details, __LINE__);
}

int FormatChooser::GetFormatTransport(const std::string& key, std::string& details) {
    return ReadFormat(kTransport, key, format_, details, __LINE__);
}

int FormatChooser::SetFormat(const std::string& key, const std::string& details) {
    return WriteFormat(kLocal, key, format_.data(), formatSize(), details, __LINE__);
}

int FormatChooser::SetFormatTransport(const std::string& key, const std::string& details) {
    return WriteFormat(kTransport, key, format_.data(), formatSize(), details, __LINE__);
}

int FormatChooser::SetFormatDefault(const std::string& key, std::string& details) {
    return WriteDefault(kLocal, key, format_, details, __LINE__);
}

int FormatChooser::SetFormatTransportDefault(const std::string& key, std::string& details) {
    return WriteDefault(kTransport, key, format_, details, __LINE__);
}

int SetFormat(const std::string& key, const std::uint8_t* format, DWORD count,
              const std::string& details) {
    return WriteFormat(kLocal, key, format, count, details, __LINE__);
}

int SetFormatTransport(const std::string& key, const std::uint8_t* format, DWORD count,
                       const std::string& details) {
    return WriteFormat(kTransport, key, format, count, details, __LINE__);
}

MMRESULT FormatChooser::ChangeACMFormat(const std::string& title, std::string& details, int mode) {
    ACMFORMATCHOOSE choose;
    choose.cbStruct = kAcmFormatChooseSize;
    choose.fdwStyle = ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT;
    choose.hwndOwner = owner_;
    choose.pwfx = format();
    choose.cbwfx = formatSize();
    choose.pszTitle = title.c_str();
    std::vector<std::uint8_t> pcmOnly;
    if (mode == 1) {
        WAVEFORMATEX restrict;
        restrict.wFormatTag = WAVE_FORMAT_PCM;
        pcmOnly = WaveFormatBytes(restrict);
        choose.fdwEnum = ACM_FORMATENUMF_WFORMATTAG;
        choose.pwfxEnum = pcmOnly.data();
        choose.cbwfxEnum = static_cast<DWORD>(pcmOnly.size());
    }
    const MMRESULT mmr = acmFormatChoose(&choose);
    if (mmr == MMSYSERR_NOERROR) {
        details = Printf("%s %s", choose.szFormatTag, choose.szFormat);
        return 0;
    }
    if (mmr == ACMERR_CANCELED)
        return mmr;
    CEventReport().Report(
        Printf("acmFormatChoose failed,mmr=%d - %s", int(mmr), ChooseErrorText(mmr)), "Acm",
        __LINE__);
    return mmr;
}

// ---- reading a wave file ----

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
    info.dataSize = info.sampleCount = 0;
    if (info.path.size() > kMaxWavePath)
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
    if (path.size() > kMaxWavePath || !chooser.format())
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

DWORD ConvertWaveFile(FormatChooser& target, const std::string& sourcePath,
                      const std::string& destinationPath, WaveFileInfo& sourceInfo) {
    WaitCursor wait;
    if (sourcePath.size() > kMaxWavePath || destinationPath.size() > kMaxWavePath)
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
    // One second of source audio in whole blocks.
    const DWORD sourceBytes =
        sourceFormat.nBlockAlign
            ? sourceFormat.nAvgBytesPerSec - sourceFormat.nAvgBytesPerSec % sourceFormat.nBlockAlign
            : 0;
    const DWORD total = sourceInfo.dataSize;

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
        if (std::uint64_t(ck.dwDataOffset) + ck.cksize > riffEnd)
            return c.finish(false);
        if ((ck.ckid == mmioFOURCC('D', 'I', 'S', 'P') ||
             ck.ckid == mmioFOURCC('p', 'l', 's', 't')) &&
            !CopyChunk(c.source, c.destination, ck))
            return c.finish(false);
        if (mmioAscend(c.source, &ck, 0) != 0)
            return c.finish(false);
    }
    if (mmioSeek(c.source, long(sourceRiff.dwDataOffset) + 4, SEEK_SET) < 0)
        return c.finish(false);
    MMCKINFO sourceData;
    sourceData.ckid = mmioFOURCC('d', 'a', 't', 'a');
    if (mmioDescend(c.source, &sourceData, &sourceRiff, MMIO_FINDCHUNK) != 0)
        return c.finish(false);

    const DWORD formatBytes =
        std::min(FormatSize(target.format(), target.formatSize()), target.formatSize());
    MMCKINFO out;
    out.ckid = mmioFOURCC('f', 'm', 't', ' ');
    if (mmioCreateChunk(c.destination, &out, 0) != 0 ||
        mmioWrite(c.destination, target.format(), long(formatBytes)) != long(formatBytes) ||
        mmioAscend(c.destination, &out, 0) != 0)
        return c.finish(false);
    std::uint8_t count[4];
    StoreLE32(count, sourceInfo.sampleCount);
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
    auto write = [&]() {
        return mmioWrite(c.destination, h.pbDst, long(h.cbDstLengthUsed)) ==
               long(h.cbDstLengthUsed);
    };

    // Main pass: whole blocks; bytes the stream leaves are read again with the next block.
    DWORD position = 0;
    long shown = -1;
    while (position < total) {
        const unsigned percent = Percent(position, total);
        if (long(percent) != shown) {
            SetItemText(c.owner, kProgressItem, Printf("%u%%", percent));
            shown = percent;
        }
        PumpMessages();
        const long n = mmioRead(c.source, h.pbSrc, long(std::min(total - position, sourceBytes)));
        if (n <= 0)
            break;
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
                break;
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

// ---- boxes and traces ----

int ErrorBox(void* owner, unsigned type, const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return AppMessageBox(owner, text, kBoxCaption, type);
}

void DebugTrace(const char* format, ...) {
    if (!std::getenv("KORRIN_DEBUG"))
        return;
    bool bell = false, prefix = true, lineEnd = true;
    for (;; ++format) {
        if (*format == '!')
            bell = true;
        else if (*format == '`')
            prefix = false;
        else if (*format == '~')
            lineEnd = false;
        else
            break;
    }
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::string line;
    if (bell)
        line += '\a';
    if (prefix)
        line += ": ";
    line += text;
    if (lineEnd)
        line += "\r\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace korrin
