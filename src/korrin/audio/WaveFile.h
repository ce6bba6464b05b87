// Wave files: reading a file's layout (wioFileOpen) and description, creating an empty one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "korrin/audio/AcmCommon.h"
#include "korrin/audio/FormatChooser.h"
#include "platform/mci/WaveData.h"

namespace korrin {

// Paths (and titles) longer than this are refused by the routines below.
inline constexpr std::size_t kMaxWavePath = 144;
// False for a path longer than kMaxWavePath, after a report that says so ("path too long").
bool WavePathFits(const std::string& path);

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
    DWORD dataOffset = 0;  // where the data chunk's bytes begin
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
inline constexpr DWORD kLargestFormatChunk = platform::kLargestWaveFormatChunk;

// The question wioFileOpen and the sound device (MciDevice::Open) ask about a chunk that runs
// past the end of the RIFF chunk: true when the user says to load the file all the same.
bool AskToLoadPastRiffEnd(const platform::RiffOverrun& chunk);

// 0 leaves the file open with the record filled, read by ReadWaveLayout's rules: a fmt chunk
// under 16 bytes is no format, one over kLargestFormatChunk is refused as if memory had run
// out, a file without a data chunk is refused as damaged, and a chunk that runs past the end of
// the RIFF chunk makes it ask the user whether to go on. dataSize is what the file holds.
DWORD wioFileOpen(WioFile* wio, const std::string& path, DWORD flags);
DWORD wioFileClose(WioFile* wio);

// False without a message when the file cannot be opened; with a message when it is no
// wave file.
bool LoadWaveFileInfo(void* owner, WaveFileInfo& info);
bool LoadWaveFileInfo(void* owner, WaveFileInfo& info, const std::string& path);

// Creates an empty wave file (fmt, fact 0, empty data) in the chooser's format, then loads
// info from it.
bool AcmAppFileNew(FormatChooser& chooser, const std::string& path, WaveFileInfo& info);

}  // namespace korrin
