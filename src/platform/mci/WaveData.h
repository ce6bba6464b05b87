// Wave files in memory: the RIFF WAVE reader and writer of the MCI wave device, and the
// PCM layout the device records and plays in.
//
// ReadWaveLayout holds the one set of rules every reader of wave files in the tree keeps (the
// file routines, the sound device, the playable copy): the first format chunk and the first data
// chunk of a RIFF WAVE file count, in either order, and every other chunk is skipped. A size field
// is never trusted: a data chunk that claims more than the file holds gives what is there. The
// writer puts out the canonical layout (RIFF, fmt, data) field by field, little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace korrin::platform {

constexpr std::uint16_t kWaveFormatPcm = 1;

// The format chunk as it stands in the file. extra holds the bytes after the 16 common
// ones (cbSize and what follows) for formats that are not PCM.
struct WaveFormat {
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSec = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::vector<std::uint8_t> extra;

    bool operator==(const WaveFormat&) const = default;
};

// A PCM layout the device can play and record: 8-bit unsigned or 16-bit signed samples,
// one or two channels, interleaved.
struct PcmFormat {
    std::uint16_t channels = 1;
    std::uint32_t samplesPerSec = 8000;
    std::uint16_t bitsPerSample = 8;

    std::uint32_t blockAlign() const { return channels * (bitsPerSample / 8u); }
    bool operator==(const PcmFormat&) const = default;
};

// A PCM format the device supports (8 or 16 bit, 1 or 2 channels, 1 .. 384,000 Hz, the
// block size the fields imply).
bool IsPlayablePcm(const WaveFormat& format);
PcmFormat ToPcmFormat(const WaveFormat& format);
WaveFormat ToWaveFormat(const PcmFormat& format);

// A fmt chunk larger than this is no wave format.
inline constexpr std::uint32_t kLargestWaveFormatChunk = 0x10000;
// Nor is one shorter than the 16 bytes every format has.
inline constexpr std::uint32_t kShortestWaveFormatChunk = 16;

// A chunk whose size runs past the end of the RIFF chunk that holds it.
struct RiffOverrun {
    std::uint32_t ckid = 0;        // as stored, the first character in the low byte
    std::uint64_t dataOffset = 0;  // where its bytes begin
    std::uint32_t cksize = 0;
    std::uint32_t riffSize = 0;  // the RIFF header's cksize
};
// Asked once, for the first such chunk: true reads on (the chunk is taken as far as the file
// holds it and is the last one looked at), false gives up on the file. Without a question the
// file is read on.
using RiffOverrunQuestion = std::function<bool(const RiffOverrun&)>;
// Reads exactly size bytes at offset; false when they are not all there.
using WaveReadAt = std::function<bool(std::uint64_t offset, std::uint8_t* into, std::size_t size)>;

struct WaveLayout {
    std::vector<std::uint8_t> format;  // the first fmt chunk, as stored
    std::uint64_t dataOffset = 0;      // where the counted data chunk's bytes begin
    std::uint64_t dataSize = 0;        // as many of them as the file holds
    bool haveFact = false;             // the first fact chunk of at least 4 bytes
    std::uint32_t factSamples = 0;
};

enum class WaveLayoutResult {
    kOk,
    kNotRiffWave,
    kNoFormat,
    kShortFormat,    // fmt under kShortestWaveFormatChunk bytes
    kLargeFormat,    // fmt over kLargestWaveFormatChunk bytes
    kDamagedFormat,  // fmt cut short by the end of the file, or unreadable
    kNoData,
    kDeclined,  // the question about a chunk past the RIFF end was answered no
};

// Walks a wave file of fileSize bytes. The first data chunk that is not empty counts; an empty
// one counts only when no other follows. Chunks are padded to even sizes.
WaveLayoutResult ReadWaveLayout(std::uint64_t fileSize, const WaveReadAt& readAt, WaveLayout& out,
                                const RiffOverrunQuestion& ask = {});

struct WaveImage {
    WaveFormat format;
    std::vector<std::uint8_t> data;  // the data chunk's bytes
};

enum class WaveReadResult { kOk, kNotRiffWave, kNoFormat, kNoData, kBadFormat, kDeclined };

// Parses a whole wave file held in memory by ReadWaveLayout's rules; the data is cut to whole
// frames, and a format without channels or block size is refused.
WaveReadResult ParseWave(const std::uint8_t* bytes, std::size_t size, WaveImage& out,
                         const RiffOverrunQuestion& ask = {});

// RIFF, fmt (16 bytes for PCM, 18 + extra otherwise) and data, with the pad byte an odd
// data chunk needs.
std::vector<std::uint8_t> SerializeWave(const WaveFormat& format, const std::uint8_t* data,
                                        std::size_t size);

// Reads a whole file; false when it cannot be opened or read, or is no regular file.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out);
// Writes bytes to path through a temporary file in the same folder that is flushed to disk
// and then renamed over path, so a reader never sees half a file. false on any failure
// (the temporary file is removed).
bool ReplaceFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace korrin::platform
