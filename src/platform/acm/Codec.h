// Inside the compression manager: what every driver provides. A driver accepts some wave
// formats, names and describes them, lists its standard formats, and makes a codec that turns
// whole blocks of its format into 16-bit interleaved PCM and back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/acm/Acm.h"

namespace korrin::platform::acm {

// One format's coder. Blocks are the format's nBlockAlign bytes; a block holds
// framesPerBlock() frames (one sample per channel each).
class Codec {
  public:
    virtual ~Codec() = default;
    virtual std::size_t blockBytes() const = 0;
    virtual std::size_t framesPerBlock() const = 0;
    // Appends blocks * framesPerBlock() frames to out. Damaged input decodes to something (often
    // silence) but never reads or writes out of bounds.
    virtual void decode(const std::uint8_t* in, std::size_t blocks,
                        std::vector<std::int16_t>& out) = 0;
    // Encodes blocks * framesPerBlock() frames from in into blocks * blockBytes() bytes.
    virtual void encode(const std::int16_t* in, std::size_t blocks, std::uint8_t* out) = 0;
};

class Driver {
  public:
    virtual ~Driver() = default;
    virtual WORD tag() const = 0;
    virtual const char* name() const = 0;  // the tag's name
    virtual DWORD largestFormatSize() const = 0;
    virtual bool accepts(const WAVEFORMATEX& format) const = 0;
    // "8,000 Hz, 8 Bit, Mono"; only for an accepted format.
    virtual std::string describe(const WAVEFORMATEX& format) const = 0;
    virtual std::vector<WAVEFORMATEX> standardFormats() const = 0;
    // Only for an accepted format; null when the coder cannot be made (out of memory).
    virtual std::unique_ptr<Codec> makeCodec(const WAVEFORMATEX& format) const = 0;
};

// In the order the tags are listed.
const std::vector<const Driver*>& Drivers();
const Driver* FindDriver(WORD tag);
const Driver* DriverFor(const WAVEFORMATEX& format);  // the driver that accepts it, or null

// The rates every driver lists and the range a stream accepts.
inline constexpr DWORD kStandardRates[] = {8000, 11025, 22050, 44100, 48000};
inline constexpr DWORD kLowestRate = 1000;
inline constexpr DWORD kHighestRate = 192000;

// "8,000 Hz" with the thousands grouped.
std::string RateText(DWORD rate);
const char* ChannelText(WORD channels);  // "Mono", "Stereo"

const Driver& PcmDriver();
const Driver& GsmDriver();
const Driver& AlawDriver();
const Driver& MulawDriver();
const Driver& ImaDriver();

}  // namespace korrin::platform::acm
