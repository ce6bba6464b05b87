// The audio compression manager: wave formats, their names and texts, and streams that
// convert audio from one format into another.
//
// Drivers (one file each): PCM (8 and 16 bit, mono and stereo; rate changes through
// libsoxr), GSM 6.10 (tag 49, libgsm with the 65-byte/320-sample block framing of wave
// files), A-law (6), u-law (7) and IMA ADPCM (17). A stream always goes through 16-bit PCM
// inside: the source is decoded, channels and rate are changed, the result is encoded. So any
// two formats that some driver accepts convert into each other; a format no driver accepts
// makes acmStreamOpen fail with ACMERR_NOTPOSSIBLE.
//
// Wave formats travel as bytes (the WAVEFORMATEX layout, little-endian) and are read and
// written field by field with ReadWaveFormat / WriteWaveFormat.
//
// Threads: the driver tables are constant; a stream belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/mmio/Mmio.h"

namespace korrin::platform {

using WORD = std::uint16_t;

constexpr WORD WAVE_FORMAT_PCM = 1;
constexpr WORD WAVE_FORMAT_ALAW = 6;
constexpr WORD WAVE_FORMAT_MULAW = 7;
constexpr WORD WAVE_FORMAT_IMA_ADPCM = 17;
constexpr WORD WAVE_FORMAT_GSM610 = 49;

struct WAVEFORMATEX {
    WORD wFormatTag = 0;
    WORD nChannels = 0;
    DWORD nSamplesPerSec = 0;
    DWORD nAvgBytesPerSec = 0;
    WORD nBlockAlign = 0;
    WORD wBitsPerSample = 0;
    WORD cbSize = 0;
    std::vector<std::uint8_t> extra;  // the cbSize bytes that follow (as many as were there)
};

// Bytes past the end of the buffer read as zero; extra takes min(cbSize, what is left).
WAVEFORMATEX ReadWaveFormat(const std::uint8_t* bytes, std::size_t size);
// Writes the 18-byte header and cbSize extra bytes (missing ones as zero), as far as size
// allows; returns the number of bytes the whole format needs (18 + cbSize).
std::size_t WriteWaveFormat(const WAVEFORMATEX& format, std::uint8_t* bytes, std::size_t size);
std::vector<std::uint8_t> WaveFormatBytes(const WAVEFORMATEX& format);

constexpr MMRESULT ACMERR_NOTPOSSIBLE = 512;
constexpr MMRESULT ACMERR_BUSY = 513;
constexpr MMRESULT ACMERR_UNPREPARED = 514;
constexpr MMRESULT ACMERR_CANCELED = 515;

using HACMDRIVER = void*;
using HACMOBJ = void*;

// Metrics.
constexpr UINT ACM_METRIC_COUNT_FORMATTAGS = 13;  // not named by callers; kept for tools
constexpr UINT ACM_METRIC_MAX_SIZE_FORMAT = 50;
// obj must be null (the whole manager). *out receives the value.
MMRESULT acmMetrics(HACMOBJ obj, UINT metric, DWORD* out);

// Format tag details.
constexpr std::size_t ACMFORMATTAGDETAILS_FORMATTAG_CHARS = 48;
constexpr DWORD ACM_FORMATTAGDETAILSF_INDEX = 0x0;
constexpr DWORD ACM_FORMATTAGDETAILSF_FORMATTAG = 0x1;
constexpr DWORD ACM_FORMATTAGDETAILSF_LARGESTSIZE = 0x2;
constexpr DWORD kAcmFormatTagDetailsSize = 72;
constexpr DWORD ACMDRIVERDETAILS_SUPPORTF_CODEC = 0x1;
constexpr DWORD ACMDRIVERDETAILS_SUPPORTF_CONVERTER = 0x2;

struct ACMFORMATTAGDETAILS {
    DWORD cbStruct = kAcmFormatTagDetailsSize;
    DWORD dwFormatTagIndex = 0;
    DWORD dwFormatTag = 0;
    DWORD cbFormatSize = 0;  // the largest format of this tag, in bytes
    DWORD fdwSupport = 0;
    DWORD cStandardFormats = 0;
    char szFormatTag[ACMFORMATTAGDETAILS_FORMATTAG_CHARS] = {};
};

// FORMATTAG: details of dwFormatTag; INDEX: of the dwFormatTagIndex-th tag. ACMERR_NOTPOSSIBLE
// when no driver knows the tag (or the index is past the end).
MMRESULT acmFormatTagDetails(HACMDRIVER had, ACMFORMATTAGDETAILS* details, DWORD flags);

// Format details.
constexpr std::size_t ACMFORMATDETAILS_FORMAT_CHARS = 128;
constexpr DWORD ACM_FORMATDETAILSF_INDEX = 0x0;
constexpr DWORD ACM_FORMATDETAILSF_FORMAT = 0x1;
constexpr DWORD kAcmFormatDetailsSize = 152;

struct ACMFORMATDETAILS {
    DWORD cbStruct = kAcmFormatDetailsSize;
    DWORD dwFormatIndex = 0;
    DWORD dwFormatTag = 0;
    DWORD fdwSupport = 0;
    std::uint8_t* pwfx = nullptr;  // the format's bytes
    DWORD cbwfx = 0;
    char szFormat[ACMFORMATDETAILS_FORMAT_CHARS] = {};
};

// FORMAT: the text of the format in pwfx ("8,000 Hz, 8 Bit, Mono"); ACMERR_NOTPOSSIBLE when
// no driver accepts it. INDEX: writes the dwFormatIndex-th standard format of dwFormatTag
// into pwfx (MMSYSERR_INVALPARAM when cbwfx is too small) and its text.
MMRESULT acmFormatDetails(HACMDRIVER had, ACMFORMATDETAILS* details, DWORD flags);

// True when some driver accepts the format (a stream to or from it can be opened).
bool acmFormatSupported(const WAVEFORMATEX& format);

// The standard formats, in the order a chooser lists them.
struct AcmFormatEntry {
    WAVEFORMATEX format;
    std::string text;  // "8,000 Hz, 8 Bit, Mono"
};
struct AcmFormatTagEntry {
    WORD tag;
    std::string name;  // "PCM", "GSM 6.10"
    std::vector<AcmFormatEntry> formats;
};
std::vector<AcmFormatTagEntry> AcmStandardFormats();

// The format chooser.
constexpr DWORD ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT = 0x00000040;
constexpr DWORD ACM_FORMATENUMF_WFORMATTAG = 0x00010000;
constexpr DWORD ACM_FORMATENUMF_NCHANNELS = 0x00020000;
constexpr DWORD ACM_FORMATENUMF_NSAMPLESPERSEC = 0x00040000;
constexpr DWORD ACM_FORMATENUMF_WBITSPERSAMPLE = 0x00080000;
constexpr DWORD kAcmFormatChooseSize = 164;

struct ACMFORMATCHOOSE {
    DWORD cbStruct = 0;
    DWORD fdwStyle = 0;
    void* hwndOwner = nullptr;     // the owner window (a QWidget in the program)
    std::uint8_t* pwfx = nullptr;  // in: the format to start on (INITTOWFXSTRUCT); out: chosen
    DWORD cbwfx = 0;
    const char* pszTitle = nullptr;
    char szFormatTag[ACMFORMATTAGDETAILS_FORMATTAG_CHARS] = {};
    char szFormat[ACMFORMATDETAILS_FORMAT_CHARS] = {};
    DWORD fdwEnum = 0;  // restriction of the list by the fields of pwfxEnum
    const std::uint8_t* pwfxEnum = nullptr;
    DWORD cbwfxEnum = 0;
};

// The window that lets the user pick; installed by the program (null removes it). It gets
// the list already restricted, tagIndex / formatIndex on the entry to start on, and returns
// true with them on the choice, false when the user cancelled. Runs on the caller's thread.
using FormatChooseDialog =
    std::function<bool(const ACMFORMATCHOOSE& choose, const std::vector<AcmFormatTagEntry>& choices,
                       std::size_t& tagIndex, std::size_t& formatIndex)>;
void SetFormatChooseDialog(FormatChooseDialog dialog);

// Checks the record (cbStruct kAcmFormatChooseSize, a buffer of at least the largest format
// size, a restriction some format meets: else MMSYSERR_INVALPARAM, MMSYSERR_INVALFLAG,
// MMSYSERR_NODRIVER), then lets the user choose. On 0 pwfx holds the choice (zero-padded to
// cbwfx) and szFormatTag / szFormat its texts. Without an installed dialog the message seam
// decides: a scripted Cancel gives ACMERR_CANCELED, anything else keeps the format started
// on (the first of the list when it is not among the choices).
MMRESULT acmFormatChoose(ACMFORMATCHOOSE* choose);

// Streams.
struct AcmStream;
using HACMSTREAM = AcmStream*;

constexpr DWORD ACM_STREAMOPENF_QUERY = 0x00000001;
constexpr DWORD ACM_STREAMOPENF_ASYNC = 0x00000002;
constexpr DWORD ACM_STREAMSIZEF_SOURCE = 0x00000000;
constexpr DWORD ACM_STREAMSIZEF_DESTINATION = 0x00000001;
constexpr DWORD ACM_STREAMCONVERTF_BLOCKALIGN = 0x00000004;
constexpr DWORD ACM_STREAMCONVERTF_START = 0x00000010;
constexpr DWORD ACM_STREAMCONVERTF_END = 0x00000020;
constexpr DWORD ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_INQUEUE = 0x00100000;
constexpr DWORD kAcmStreamHeaderSize = 84;

struct ACMSTREAMHEADER {
    DWORD cbStruct = 0;  // kAcmStreamHeaderSize
    DWORD fdwStatus = 0;
    std::uintptr_t dwUser = 0;
    std::uint8_t* pbSrc = nullptr;
    DWORD cbSrcLength = 0;
    DWORD cbSrcLengthUsed = 0;
    std::uintptr_t dwSrcUser = 0;
    std::uint8_t* pbDst = nullptr;
    DWORD cbDstLength = 0;
    DWORD cbDstLengthUsed = 0;
    std::uintptr_t dwDstUser = 0;
    DWORD dwReservedDriver[10] = {};
};

// had, filter and callback must be null, flags 0 or ACM_STREAMOPENF_QUERY (then nothing is
// opened and phas may be null). ACMERR_NOTPOSSIBLE when either format is one no driver
// accepts.
MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const WAVEFORMATEX& source,
                       const WAVEFORMATEX& destination, const void* filter, std::uintptr_t callback,
                       std::uintptr_t instance, DWORD flags);
MMRESULT acmStreamClose(HACMSTREAM has, DWORD flags);
// SOURCE: the destination bytes that input bytes can produce at most (at least one
// destination block); DESTINATION: the source bytes that fill at most output bytes.
MMRESULT acmStreamSize(HACMSTREAM has, DWORD input, DWORD* output, DWORD flags);
MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* header, DWORD flags);
// The lengths must be those the header was prepared with (MMSYSERR_INVALPARAM otherwise).
MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* header, DWORD flags);
// Synchronous: DONE is set when it returns. Only whole source blocks are taken; with
// BLOCKALIGN only whole destination blocks are given out (without it as well: every driver
// here writes whole blocks). END flushes what the stream still holds (the last destination
// block padded with silence); call it again until it gives nothing. Output that does not
// fit the destination buffer is kept for the next call, when no new source is taken.
MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* header, DWORD flags);

}  // namespace korrin::platform
