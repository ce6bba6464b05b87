// Wave files and their formats: the format a window works with (FormatChooser) and its
// registry values, reading a wave file's layout (wioFileOpen) and description
// (LoadWaveFileInfo), creating an empty wave file (AcmAppFileNew), converting a whole file
// into another format (ConvertWaveFile), and describing a format in words.
//
// Everything here runs on the user-interface thread (or, in korrinctl, the only thread).
// A conversion keeps the window responsive by handling pending events between its blocks.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/acm/Acm.h"
#include "platform/mmio/Mmio.h"

namespace korrin {

using platform::DWORD;
using platform::MMRESULT;
using platform::WAVEFORMATEX;

// Texts of the format values are read into this many bytes (the chooser's 48-character tag
// name and 128-character format text).
inline constexpr DWORD kFormatDetailsBytes = 176;
// Paths (and titles) longer than this are refused by the routines below.
inline constexpr std::size_t kMaxWavePath = 144;
// The owner's item that shows the conversion's progress.
inline constexpr int kProgressItem = 102;

// The window side of a conversion, installed by the program: progress text into an item of
// the owner window and the wait cursor. Without one nothing is shown.
class AudioWindow {
  public:
    virtual ~AudioWindow() = default;
    virtual void SetItemText(void* owner, int item, const std::string& text) = 0;
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;
};
// The window must outlive its installation; null removes it.
void InstallAudioWindow(AudioWindow* window);

// The significant bytes of a format: 16 for PCM, otherwise 18 + cbSize.
DWORD FormatSize(const std::uint8_t* format, std::size_t available);

// One format and the window that owns the boxes about it. The buffer is as large as the
// largest format any installed codec has, zero-filled at creation.
class FormatChooser {
  public:
    explicit FormatChooser(void* owner);
    FormatChooser(const FormatChooser&) = delete;
    FormatChooser& operator=(const FormatChooser&) = delete;

    void* owner() const { return owner_; }
    std::uint8_t* format() { return format_.empty() ? nullptr : format_.data(); }
    const std::uint8_t* format() const { return format_.empty() ? nullptr : format_.data(); }
    DWORD formatSize() const { return static_cast<DWORD>(format_.size()); }
    WAVEFORMATEX Format() const;

    // key is below HKEY_LOCAL_MACHINE. 0 on success, 1 when the key cannot be opened
    // (reported as "RegOpenKeyEx failed"). A value that cannot be read brings back (and
    // stores) the default of that format.
    int GetFormat(const std::string& key, std::string& details);
    int GetFormatTransport(const std::string& key, std::string& details);
    int SetFormat(const std::string& key, const std::string& details);
    int SetFormatTransport(const std::string& key, const std::string& details);
    int SetFormatDefault(const std::string& key, std::string& details);
    int SetFormatTransportDefault(const std::string& key, std::string& details);

    // Lets the user pick (mode 1: PCM formats only). 0 with the choice in the buffer and
    // "tag format" in details; ACMERR_CANCELED silently; any other code is reported.
    MMRESULT ChangeACMFormat(const std::string& title, std::string& details, int mode);

  private:
    void* owner_;
    std::vector<std::uint8_t> format_;
};

// The buffer forms: format bytes (count bytes are written) with their text.
int SetFormat(const std::string& key, const std::uint8_t* format, DWORD count,
              const std::string& details);
int SetFormatTransport(const std::string& key, const std::uint8_t* format, DWORD count,
                       const std::string& details);

struct WaveFileInfo {
    std::string title;  // the file name after the last '/', '\' or ':'
    std::string path;
    DWORD fileSize = 0;
    DWORD dosDate = 0;
    DWORD dosTime = 0;
    DWORD attributes = 0;              // FILE_ATTRIBUTE_* bits
    std::vector<std::uint8_t> format;  // the file's format (formatSize bytes), empty when none
    DWORD formatSize = 0;
    DWORD dataSize = 0;
    DWORD sampleCount = 0;
};

inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
inline constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x02;
inline constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;

// A wave file open for reading.
struct WioFile {
    DWORD flags = 0;
    platform::HMMIO file = nullptr;
    DWORD dataOffset = 0;
    DWORD dataSize = 0;
    DWORD sampleCount = 0;             // 0xFFFFFFFF while unknown
    std::vector<std::uint8_t> format;  // the fmt chunk, at least 18 bytes (zero-filled)
};

// Result codes of wioFileOpen.
inline constexpr DWORD kWioNoFormat = 1;
inline constexpr DWORD kWioNoRecord = 4;
inline constexpr DWORD kWioFileError = 6;
inline constexpr DWORD kWioNoMemory = 7;
inline constexpr DWORD kWioDeclined = 8;
// A fmt chunk larger than this is no wave format; it is refused as if memory had run out.
inline constexpr DWORD kLargestFormatChunk = 0x10000;

// 0 leaves the file open with the record filled. A chunk that runs past the end of the RIFF
// chunk makes it ask the user whether to go on.
DWORD wioFileOpen(WioFile* wio, const std::string& path, DWORD flags);
DWORD wioFileClose(WioFile* wio);

// False without a message when the file cannot be opened; with a message when it is no
// wave file.
bool LoadWaveFileInfo(void* owner, WaveFileInfo& info);
bool LoadWaveFileInfo(void* owner, WaveFileInfo& info, const std::string& path);

// Creates an empty wave file (fmt, fact 0, empty data) in the chooser's format, then loads
// info from it.
bool AcmAppFileNew(FormatChooser& chooser, const std::string& path, WaveFileInfo& info);

// Converts the whole source file into the chooser's format. 0 on success; on failure the
// destination may be left incomplete (the caller deletes or keeps it). When no codec
// converts between the two formats the user is told how to fix that, and the conversion
// fails before the destination is created.
DWORD ConvertWaveFile(FormatChooser& target, const std::string& sourcePath,
                      const std::string& destinationPath, WaveFileInfo& sourceInfo);

// True when the codecs supplied every text asked for; false when a built-in one was used.
bool GetFormatDescription(const std::uint8_t* format, std::size_t size, std::string* tagText,
                          std::string* formatText);
// The built-in name of a tag, "[%u] (unknown)" for the ones the table lacks.
std::string BuiltInTagName(unsigned tag);

// A box owned by owner with the formatted text (at most 1,023 characters), the given type and
// the caption "Error".
int ErrorBox(void* owner, unsigned type, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// A line on stderr while KORRIN_DEBUG is set. Leading '!' rings the bell first, '`' leaves
// out the ": " prefix, '~' leaves out the closing CR LF.
void DebugTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace korrin
