#include "platform/acm/OpusEncoder.h"

#include <opus/opusenc.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

namespace korrin::platform {

// libopusenc hands over finished pages here; a short or failed write stops the file.
int OpusWriteCallback(void* user, const unsigned char* data, opus_int32 len) {
    auto* self = static_cast<OggOpusWriter*>(user);
    while (len > 0) {
        const ssize_t n = ::write(self->fd_, data, static_cast<std::size_t>(len));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            self->writeFailed_ = true;
            self->error_ = std::string("write failed: ") + std::strerror(n < 0 ? errno : ENOSPC);
            return 1;
        }
        data += n;
        len -= static_cast<opus_int32>(n);
    }
    return 0;
}

namespace {
int CloseCallback(void*) {
    return 0;  // the descriptor belongs to the caller
}

int MaxBandwidth(std::uint32_t sourceRate) {
    if (sourceRate <= 8000)
        return OPUS_BANDWIDTH_NARROWBAND;
    if (sourceRate <= 12000)
        return OPUS_BANDWIDTH_MEDIUMBAND;
    return OPUS_BANDWIDTH_WIDEBAND;
}
}  // namespace

OggOpusWriter::~OggOpusWriter() {
    if (enc_)
        ope_encoder_destroy(static_cast<OggOpusEnc*>(enc_));
}

bool OggOpusWriter::fail(const std::string& what, int code) {
    if (error_.empty())
        error_ = what + ": " + ope_strerror(code);
    return false;
}

bool OggOpusWriter::Open(int fd, const OpusTags& tags, const OpusSettings& settings) {
    if (enc_ || fd < 0)
        return fail("encoder", OPE_BAD_ARG);
    fd_ = fd;
    OggOpusComments* comments = ope_comments_create();
    if (!comments)
        return fail("ope_comments_create", OPE_ALLOC_FAIL);
    const std::pair<const char*, const std::string*> pairs[] = {
        {"TITLE", &tags.title},
        {"ARTIST", &tags.artist},
        {"DATE", &tags.date},
        {"ENCODER", &tags.encoder},
    };
    int rc = OPE_OK;
    for (const auto& [name, value] : pairs)
        if (rc == OPE_OK && !value->empty())
            rc = ope_comments_add(comments, name, value->c_str());
    if (rc != OPE_OK) {
        ope_comments_destroy(comments);
        return fail("ope_comments_add", rc);
    }
    OpusEncCallbacks callbacks{&OpusWriteCallback, &CloseCallback};
    int error = OPE_OK;
    OggOpusEnc* enc = ope_encoder_create_callbacks(&callbacks, this, comments, kRate, 1, 0, &error);
    ope_comments_destroy(comments);  // the encoder keeps its own copy
    if (!enc)
        return fail("ope_encoder_create_callbacks", error);
    enc_ = enc;
    // Constrained VBR keeps every stretch near the rate, so the copy's size has a bound
    // whatever it holds; the tags are never rewritten in place, so they get no padding.
    if ((rc = ope_encoder_ctl(enc, OPUS_SET_SIGNAL(OPUS_SIGNAL_VOICE))) != OPE_OK ||
        (rc = ope_encoder_ctl(enc, OPUS_SET_BITRATE(settings.bitrate))) != OPE_OK ||
        (rc = ope_encoder_ctl(enc, OPUS_SET_VBR(1))) != OPE_OK ||
        (rc = ope_encoder_ctl(enc, OPUS_SET_VBR_CONSTRAINT(1))) != OPE_OK ||
        (rc = ope_encoder_ctl(enc, OPE_SET_COMMENT_PADDING(0))) != OPE_OK ||
        (rc = ope_encoder_ctl(enc, OPUS_SET_COMPLEXITY(settings.complexity))) != OPE_OK ||
        (rc = ope_encoder_ctl(enc, OPUS_SET_MAX_BANDWIDTH(MaxBandwidth(settings.sourceRate)))) !=
            OPE_OK)
        return fail("ope_encoder_ctl", rc);
    return true;
}

bool OggOpusWriter::Write(const std::int16_t* samples, std::size_t count) {
    if (!enc_ || writeFailed_)
        return fail("encoder", OPE_BAD_ARG);
    auto* enc = static_cast<OggOpusEnc*>(enc_);
    while (count > 0) {
        const int n = static_cast<int>(std::min<std::size_t>(count, INT_MAX / 2));
        const int rc = ope_encoder_write(enc, samples, n);
        if (rc != OPE_OK)
            return fail("ope_encoder_write", rc);
        if (writeFailed_)
            return false;
        samples += n;
        samples_ += static_cast<std::uint64_t>(n);
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

bool OggOpusWriter::Finish() {
    if (!enc_ || writeFailed_)
        return fail("encoder", OPE_BAD_ARG);
    // The library cannot end a stream that never had a sample (it aborts): no audio, no file.
    if (samples_ == 0) {
        error_ = "no audio to encode";
        return false;
    }
    const int rc = ope_encoder_drain(static_cast<OggOpusEnc*>(enc_));
    if (rc != OPE_OK)
        return fail("ope_encoder_drain", rc);
    return !writeFailed_;
}

}  // namespace korrin::platform
