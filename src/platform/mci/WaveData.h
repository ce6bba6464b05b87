// Wave files in memory: the RIFF WAVE reader and writer of the MCI wave device, and the
// PCM layout the device records and plays in.
//
// The reader takes the first format chunk and the first data chunk of a RIFF WAVE file, in
// either order, and skips every other chunk: the rules wioFileOpen reads files by. It never trusts
// a size field: a data chunk that claims more than the file holds gives what is there, cut to whole
// frames. The writer puts out the canonical layout (RIFF, fmt, data) field by field, little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
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

struct WaveImage {
    WaveFormat format;
    std::vector<std::uint8_t> data;  // the data chunk's bytes
};

enum class WaveReadResult { kOk, kNotRiffWave, kNoFormat, kNoData, kBadFormat };

// Parses a whole wave file held in memory.
WaveReadResult ParseWave(const std::uint8_t* bytes, std::size_t size, WaveImage& out);

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
