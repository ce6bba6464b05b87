// Ogg Opus files (RFC 7845) written by libopusenc: mono speech, 48 kHz input, variable rate.
// The layer takes 16-bit samples and writes the pages to a file descriptor the caller owns;
// it never opens, names or removes files itself.
//
// One OggOpusWriter per file, used by one thread; nothing is shared between writers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korrin::platform {

// The comment header's tags; empty ones are left out.
struct OpusTags {
    std::string title;
    std::string artist;
    std::string date;
    std::string encoder;
};

struct OpusSettings {
    int bitrate = 16000;  // bits per second, variable around this
    // 0 .. 10: quality against time. The copy is made while the message waits to be sent,
    // so the middle: 10 costs about 1.6 times the time of 5 (a 10-minute message: 12 s of
    // CPU instead of 7 on a slow machine), 0 loses the most (bench/opus_vs_opusenc.sh).
    int complexity = 5;
    // The rate the audio was recorded at. Nothing lies above its half, so the coded band
    // stops there (narrowband for 8,000 Hz, the usual message) and no bits go to empty
    // bands; above 16,000 Hz the band stays wideband, all that speech needs at this rate.
    std::uint32_t sourceRate = 48000;
};

class OggOpusWriter {
  public:
    // The encoder works at 48 kHz; other rates are changed before they reach it.
    static constexpr std::uint32_t kRate = 48000;

    OggOpusWriter() = default;
    ~OggOpusWriter();
    OggOpusWriter(const OggOpusWriter&) = delete;
    OggOpusWriter& operator=(const OggOpusWriter&) = delete;

    // fd must stay open until Finish (or the writer's end); it is written from its current
    // position on and never closed here. False with error() set when the encoder refuses.
    bool Open(int fd, const OpusTags& tags, const OpusSettings& settings = {});
    // Mono samples at kRate. False once writing failed (error() tells why).
    bool Write(const std::int16_t* samples, std::size_t count);
    // Flushes the last pages (the final granule position trims the padding). True when every
    // byte reached the file; false for a stream that got no sample at all.
    bool Finish();

    const std::string& error() const { return error_; }

  private:
    bool fail(const std::string& what, int code);

    void* enc_ = nullptr;  // the library's OggOpusEnc
    int fd_ = -1;
    bool writeFailed_ = false;
    std::uint64_t samples_ = 0;
    std::string error_;

    friend int OpusWriteCallback(void* user, const unsigned char* data, std::int32_t len);
};

}  // namespace korrin::platform
