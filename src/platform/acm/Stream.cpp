// Streams: source blocks are decoded to 16-bit PCM, mixed to the destination's channel count,
// resampled by libsoxr when the rates differ, and encoded in whole destination blocks.
// Frames that do not yet fill a destination block wait in the stream; encoded bytes that do
// not fit the caller's buffer wait in its queue. Both stay below one piece of work (about
// 4,096 source frames), so memory does not grow with the length of what is converted.
#include <soxr.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "platform/acm/Acm.h"
#include "platform/acm/Codec.h"
#include "platform/lazy/LazyLibrary.h"

namespace korrin::platform {

struct AcmStream {
    WAVEFORMATEX source;
    WAVEFORMATEX destination;
    std::unique_ptr<acm::Codec> decoder;
    std::unique_ptr<acm::Codec> encoder;
    soxr_t resampler = nullptr;
    std::vector<std::int16_t> decoded;  // work space, source channels
    std::vector<std::int16_t> mixed;    // work space, destination channels
    std::vector<std::int16_t> pending;  // destination frames not yet encoded, from pendingAt
    std::size_t pendingAt = 0;
    std::vector<std::uint8_t> queue;  // encoded bytes not yet handed out, from queueAt
    std::size_t queueAt = 0;
    bool flushed = false;
    int prepared = 0;

    ~AcmStream() {
        if (resampler)
            soxr_delete(resampler);
    }
};

namespace {

constexpr std::size_t kFramesPerPiece = 4096;

std::size_t framesToBlocks(std::size_t frames, std::size_t perBlock) {
    return (frames + perBlock - 1) / perBlock;
}

// Appends samples (sourceChannels interleaved) converted to the stream's destination channels.
void Mix(const std::vector<std::int16_t>& in, WORD from, WORD to, std::vector<std::int16_t>& out) {
    out.clear();
    if (from == to) {
        out = in;
        return;
    }
    const std::size_t frames = in.size() / from;
    out.resize(frames * to);
    if (from == 2 && to == 1) {
        for (std::size_t i = 0; i < frames; ++i)
            out[i] = static_cast<std::int16_t>((in[2 * i] + in[2 * i + 1]) / 2);
    } else {
        for (std::size_t i = 0; i < frames; ++i)
            out[2 * i] = out[2 * i + 1] = in[i];
    }
}

// Runs frames through the resampler (null input: drains it) and appends its output.
bool Resample(AcmStream* s, const std::int16_t* in, std::size_t frames) {
    const WORD ch = s->destination.nChannels;
    const double ratio = double(s->destination.nSamplesPerSec) / s->source.nSamplesPerSec;
    std::size_t room = static_cast<std::size_t>(frames * ratio) + 256;
    std::size_t done = 0;
    for (;;) {
        const std::size_t at = s->pending.size();
        s->pending.resize(at + room * ch);
        size_t idone = 0, odone = 0;
        soxr_error_t err =
            soxr_process(s->resampler, in ? in + done * ch : nullptr, in ? frames - done : 0,
                         &idone, s->pending.data() + at, room, &odone);
        s->pending.resize(at + odone * ch);
        if (err)
            return false;
        done += idone;
        if (in ? done >= frames && odone < room : odone == 0)
            return true;
        // A resampler that neither takes nor gives would spin here for ever.
        if (in && idone == 0 && odone == 0)
            return false;
    }
}

// Encodes the whole destination blocks waiting in pending; into out while it has room, the
// rest into the queue.
void Emit(AcmStream* s, std::uint8_t* out, DWORD capacity, DWORD& produced) {
    const std::size_t ch = s->destination.nChannels;
    const std::size_t perBlock = s->encoder->framesPerBlock();
    const std::size_t blockBytes = s->encoder->blockBytes();
    const std::size_t frames = (s->pending.size() - s->pendingAt) / ch;
    std::size_t blocks = frames / perBlock;
    const std::int16_t* from = s->pending.data() + s->pendingAt;
    const std::size_t direct = std::min<std::size_t>(blocks, (capacity - produced) / blockBytes);
    if (direct) {
        s->encoder->encode(from, direct, out + produced);
        produced += static_cast<DWORD>(direct * blockBytes);
        from += direct * perBlock * ch;
        blocks -= direct;
    }
    if (blocks) {
        const std::size_t at = s->queue.size();
        s->queue.resize(at + blocks * blockBytes);
        s->encoder->encode(from, blocks, s->queue.data() + at);
    }
    s->pendingAt += (direct + blocks) * perBlock * ch;
    // Keep the unencoded tail at the front so pending stays small.
    if (s->pendingAt) {
        s->pending.erase(s->pending.begin(), s->pending.begin() + std::ptrdiff_t(s->pendingAt));
        s->pendingAt = 0;
    }
}

void Drain(AcmStream* s, std::uint8_t* out, DWORD capacity, DWORD& produced) {
    const std::size_t blockBytes = s->encoder->blockBytes();
    const std::size_t waiting = s->queue.size() - s->queueAt;
    const std::size_t n =
        std::min<std::size_t>(waiting, (capacity - produced) / blockBytes * blockBytes);
    if (n) {
        std::memcpy(out + produced, s->queue.data() + s->queueAt, n);
        produced += static_cast<DWORD>(n);
        s->queueAt += n;
    }
    if (s->queueAt == s->queue.size()) {
        s->queue.clear();
        s->queueAt = 0;
    }
}

bool Process(AcmStream* s, const std::uint8_t* in, std::size_t blocks) {
    s->decoded.clear();
    s->decoder->decode(in, blocks, s->decoded);
    const WORD to = s->destination.nChannels;
    const std::vector<std::int16_t>* frames = &s->decoded;
    if (s->source.nChannels != to) {
        Mix(s->decoded, s->source.nChannels, to, s->mixed);
        frames = &s->mixed;
    }
    if (s->resampler)
        return Resample(s, frames->data(), frames->size() / to);
    s->pending.insert(s->pending.end(), frames->begin(), frames->end());
    return true;
}

bool Flush(AcmStream* s) {
    if (s->resampler) {
        if (!Resample(s, nullptr, 0))
            return false;
        soxr_clear(s->resampler);
    }
    const std::size_t ch = s->destination.nChannels;
    const std::size_t perBlock = s->encoder->framesPerBlock();
    const std::size_t frames = (s->pending.size() - s->pendingAt) / ch;
    if (frames % perBlock)
        s->pending.resize(s->pending.size() + (perBlock - frames % perBlock) * ch, 0);
    return true;
}

}  // namespace

MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const WAVEFORMATEX& source,
                       const WAVEFORMATEX& destination, const void* filter, std::uintptr_t callback,
                       std::uintptr_t, DWORD flags) {
    if (had)
        return MMSYSERR_INVALHANDLE;
    if (filter || callback)
        return MMSYSERR_NOTSUPPORTED;
    if (flags & ~ACM_STREAMOPENF_QUERY)
        return MMSYSERR_INVALFLAG;
    if (phas)
        *phas = nullptr;
    const acm::Driver* from = acm::DriverFor(source);
    const acm::Driver* to = acm::DriverFor(destination);
    if (!from || !to)
        return ACMERR_NOTPOSSIBLE;
    if (flags & ACM_STREAMOPENF_QUERY)
        return MMSYSERR_NOERROR;
    if (!phas)
        return MMSYSERR_INVALPARAM;
    std::unique_ptr<AcmStream> s(new (std::nothrow) AcmStream);
    if (!s)
        return MMSYSERR_NOMEM;
    s->source = source;
    s->destination = destination;
    s->decoder = from->makeCodec(source);
    s->encoder = to->makeCodec(destination);
    if (!s->decoder || !s->encoder)
        return MMSYSERR_NOMEM;
    if (source.nSamplesPerSec != destination.nSamplesPerSec) {
        // libsoxr is loaded now, for the first rate change; without it no rate changes.
        if (!SoxrLibrary().Available())
            return ACMERR_NOTPOSSIBLE;
        soxr_error_t err = nullptr;
        // Without the resampler's own dither, whose noise is seeded from the clock: the same
        // input then always gives the same bytes (a message composed twice from one file is
        // one message), and the 16-bit rounding it would mask lies far below what the local
        // and transport formats keep.
        soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
        io.flags |= SOXR_NO_DITHER;
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        s->resampler = soxr_create(source.nSamplesPerSec, destination.nSamplesPerSec,
                                   destination.nChannels, &err, &io, &quality, nullptr);
        if (!s->resampler || err)
            return MMSYSERR_NOMEM;
    }
    *phas = s.release();
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM has, DWORD) {
    if (!has)
        return MMSYSERR_INVALHANDLE;
    if (has->prepared > 0)
        return ACMERR_BUSY;
    delete has;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM has, DWORD input, DWORD* output, DWORD flags) {
    if (!has)
        return MMSYSERR_INVALHANDLE;
    if (!output)
        return MMSYSERR_INVALPARAM;
    const double srcRate = has->source.nSamplesPerSec;
    const double dstRate = has->destination.nSamplesPerSec;
    const std::size_t srcBlock = has->decoder->blockBytes();
    const std::size_t srcFrames = has->decoder->framesPerBlock();
    const std::size_t dstBlock = has->encoder->blockBytes();
    const std::size_t dstFrames = has->encoder->framesPerBlock();
    std::uint64_t result;
    if (flags == ACM_STREAMSIZEF_SOURCE) {
        const std::uint64_t frames = std::uint64_t(input / srcBlock) * srcFrames;
        // The frames waiting in the stream and the resampler's delay come out as well.
        const std::uint64_t out = static_cast<std::uint64_t>(double(frames) * dstRate / srcRate) +
                                  (has->resampler ? 1024 : 0) + dstFrames;
        result = std::uint64_t(framesToBlocks(out, dstFrames)) * dstBlock;
    } else if (flags == ACM_STREAMSIZEF_DESTINATION) {
        const std::uint64_t frames = std::uint64_t(input / dstBlock) * dstFrames;
        const std::uint64_t in = static_cast<std::uint64_t>(double(frames) * srcRate / dstRate);
        result = std::uint64_t(in / srcFrames) * srcBlock;
        if (result == 0)
            return ACMERR_NOTPOSSIBLE;
    } else {
        return MMSYSERR_INVALFLAG;
    }
    if (result > 0xFFFFFFFFull)
        return ACMERR_NOTPOSSIBLE;
    *output = static_cast<DWORD>(result);
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* h, DWORD flags) {
    if (!has)
        return MMSYSERR_INVALHANDLE;
    if (flags)
        return MMSYSERR_INVALFLAG;
    if (!h || h->cbStruct != kAcmStreamHeaderSize || !h->pbSrc || !h->pbDst)
        return MMSYSERR_INVALPARAM;
    if (h->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)
        return MMSYSERR_NOERROR;
    h->dwReservedDriver[0] = h->cbSrcLength;
    h->dwReservedDriver[1] = h->cbDstLength;
    h->fdwStatus |= ACMSTREAMHEADER_STATUSF_PREPARED;
    ++has->prepared;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* h, DWORD flags) {
    if (!has)
        return MMSYSERR_INVALHANDLE;
    if (flags)
        return MMSYSERR_INVALFLAG;
    if (!h || h->cbStruct != kAcmStreamHeaderSize)
        return MMSYSERR_INVALPARAM;
    if (!(h->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED))
        return ACMERR_UNPREPARED;
    if (h->cbSrcLength != h->dwReservedDriver[0] || h->cbDstLength != h->dwReservedDriver[1])
        return MMSYSERR_INVALPARAM;
    h->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
    --has->prepared;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* h, DWORD flags) {
    if (!has)
        return MMSYSERR_INVALHANDLE;
    if (flags &
        ~(ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END))
        return MMSYSERR_INVALFLAG;
    if (!h || h->cbStruct != kAcmStreamHeaderSize)
        return MMSYSERR_INVALPARAM;
    if (!(h->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED))
        return ACMERR_UNPREPARED;
    if (h->cbSrcLength > h->dwReservedDriver[0] || h->cbDstLength > h->dwReservedDriver[1])
        return MMSYSERR_INVALPARAM;
    h->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
    h->cbSrcLengthUsed = 0;
    h->cbDstLengthUsed = 0;

    DWORD produced = 0;
    DWORD used = 0;
    Drain(has, h->pbDst, h->cbDstLength, produced);
    if (has->queue.empty()) {
        const std::size_t srcBlock = has->decoder->blockBytes();
        const std::size_t blocks = h->cbSrcLength / srcBlock;
        const std::size_t perPiece =
            std::max<std::size_t>(1, kFramesPerPiece / has->decoder->framesPerBlock());
        std::size_t done = 0;
        while (done < blocks && has->queue.empty()) {
            const std::size_t n = std::min(perPiece, blocks - done);
            if (!Process(has, h->pbSrc + done * srcBlock, n))
                return MMSYSERR_ERROR;
            done += n;
            has->flushed = false;
            Emit(has, h->pbDst, h->cbDstLength, produced);
        }
        used = static_cast<DWORD>(done * srcBlock);
        if ((flags & ACM_STREAMCONVERTF_END) && done == blocks && has->queue.empty() &&
            !has->flushed) {
            if (!Flush(has))
                return MMSYSERR_ERROR;
            has->flushed = true;
            Emit(has, h->pbDst, h->cbDstLength, produced);
        }
    }
    h->cbSrcLengthUsed = used;
    h->cbDstLengthUsed = produced;
    h->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    return MMSYSERR_NOERROR;
}

}  // namespace korrin::platform
