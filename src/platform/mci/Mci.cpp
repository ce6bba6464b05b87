#include "platform/mci/Mci.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "platform/Text.h"
#include "platform/mci/AudioBackend.h"
#include "platform/mci/WaveData.h"
#include "platform/mci/WaveDecode.h"

namespace korrin::platform {

namespace {

enum class Mode { kStop, kPlay, kRecord };

// One open element. The audio is PCM in `pcm`; positions are in frames.
struct Device {
    // Held by a command for its whole run, so commands on one device from several threads
    // take turns; a play that waits for its end lets go of it while it waits.
    std::mutex command;
    std::mutex mutex;  // guards everything below but `stream` and `backend`
    std::condition_variable stopped;
    AudioBackend* backend = nullptr;
    PcmFormat pcm;
    std::size_t block = 1;
    std::vector<std::uint8_t> audio;
    // A file that was decoded on open is saved as it came while nothing changed.
    std::vector<std::uint8_t> original;
    bool decoded = false;
    bool modified = false;
    DWORD timeFormat = MCI_FORMAT_MILLISECONDS;
    Mode mode = Mode::kStop;
    std::size_t position = 0;
    std::size_t playEnd = 0;
    std::size_t recordAt = 0;
    std::vector<std::uint8_t> recorded;  // inserted at recordAt when recording stops
    // Only the command holding `command` touches the stream; the back end's thread calls
    // the pull or push, which take `mutex`.
    std::unique_ptr<AudioStream> stream;

    std::size_t frames() const { return audio.size() / block; }
    std::size_t lengthLocked() const { return frames() + recorded.size() / block; }
    std::size_t positionLocked() const {
        return mode == Mode::kRecord ? recordAt + recorded.size() / block : position;
    }
    std::uint64_t toUnits(std::size_t f) const {
        switch (timeFormat) {
            case MCI_FORMAT_BYTES:
                return std::uint64_t(f) * block;
            case MCI_FORMAT_SAMPLES:
                return f;
            default:
                return std::uint64_t(f) * 1000u / pcm.samplesPerSec;
        }
    }
    std::size_t fromUnits(std::uint64_t v) const {
        switch (timeFormat) {
            case MCI_FORMAT_BYTES:
                return static_cast<std::size_t>(v / block);
            case MCI_FORMAT_SAMPLES:
                return static_cast<std::size_t>(v);
            default:
                return static_cast<std::size_t>(v * pcm.samplesPerSec / 1000u);
        }
    }
    // Puts what was recorded into the audio. mutex held.
    void finishLocked() {
        if (!recorded.empty()) {
            audio.insert(audio.begin() + static_cast<std::ptrdiff_t>(recordAt * block),
                         recorded.begin(), recorded.end());
            position = recordAt + recorded.size() / block;
            recorded.clear();
            modified = true;
        } else if (mode == Mode::kRecord) {
            position = recordAt;
        }
        mode = Mode::kStop;
        stopped.notify_all();
    }
};

std::mutex gTableMutex;
std::map<MCIDEVICEID, std::shared_ptr<Device>> gDevices;  // guarded by gTableMutex
MCIDEVICEID gNextId = 1;                                  // guarded by gTableMutex

std::shared_ptr<Device> find(MCIDEVICEID id) {
    std::lock_guard lock(gTableMutex);
    auto it = gDevices.find(id);
    return it == gDevices.end() ? nullptr : it->second;
}

// Ends a running play or record and waits until the back end has let go of the device.
void stop(Device& d) {
    std::unique_ptr<AudioStream> stream = std::move(d.stream);
    stream.reset();
    std::lock_guard lock(d.mutex);
    d.finishLocked();
}

bool hasWaveExtension(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return false;
    return EqualsNoCase(std::string_view(path).substr(dot), ".wav");
}

MCIERROR open(MCI_OPEN_PARMS& p, DWORD flags) {
    if (flags & MCI_OPEN_TYPE) {
        if (!EqualsNoCase(p.lpstrDeviceType, "waveaudio"))
            return MCIERR_INVALID_DEVICE_NAME;
    }
    if (!(flags & MCI_OPEN_ELEMENT) || p.lpstrElementName.empty())
        return MCIERR_FILENAME_REQUIRED;
    if (!(flags & MCI_OPEN_TYPE) && !hasWaveExtension(p.lpstrElementName))
        return MCIERR_EXTENSION_NOT_FOUND;

    auto d = std::make_shared<Device>();
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(p.lpstrElementName, bytes))
        return MCIERR_FILE_NOT_FOUND;
    WaveImage image;
    if (ParseWave(bytes.data(), bytes.size(), image, p.onChunkPastRiff) != WaveReadResult::kOk)
        return MCIERR_INVALID_FILE;
    if (IsPlayablePcm(image.format)) {
        d->pcm = ToPcmFormat(image.format);
        d->audio = std::move(image.data);
    } else if (image.format.formatTag == kWaveFormatPcm) {
        return MCIERR_WAVE_OUTPUTSUNSUITABLE;  // 24/32-bit, many channels, ...
    } else {
        if (!DecodeWaveToPcm(image, d->pcm, d->audio))
            return MCIERR_WAVE_OUTPUTSUNSUITABLE;
        d->decoded = true;
        d->original = std::move(bytes);
    }
    d->block = d->pcm.blockAlign();
    d->audio.resize(d->audio.size() - d->audio.size() % d->block);
    d->backend = &ChosenAudioBackend();

    std::lock_guard lock(gTableMutex);
    // Ids are never 0 and never reused while a device is open.
    while (gNextId == 0 || gDevices.count(gNextId))
        ++gNextId;
    p.wDeviceID = gNextId++;
    gDevices[p.wDeviceID] = std::move(d);
    return 0;
}

MCIERROR close(MCIDEVICEID id) {
    std::shared_ptr<Device> d;
    {
        std::lock_guard lock(gTableMutex);
        auto it = gDevices.find(id);
        if (it == gDevices.end())
            return MCIERR_INVALID_DEVICE_ID;
        d = it->second;
        gDevices.erase(it);
    }
    std::lock_guard cmd(d->command);
    stop(*d);
    return 0;
}

MCIERROR play(Device& d, DWORD flags, const MCI_PLAY_PARMS* p, std::unique_lock<std::mutex>& cmd) {
    if ((flags & (MCI_FROM | MCI_TO)) && !p)
        return MCIERR_NULL_PARAMETER_BLOCK;
    stop(d);
    std::size_t from = 0, to = 0;
    {
        std::lock_guard lock(d.mutex);
        const std::size_t length = d.frames();
        from = d.position;
        to = length;
        if (flags & MCI_FROM) {
            if (p->dwFrom > d.toUnits(length))
                return MCIERR_OUTOFRANGE;
            from = std::min(d.fromUnits(p->dwFrom), length);
        }
        if (flags & MCI_TO) {
            if (p->dwTo > d.toUnits(length))
                return MCIERR_OUTOFRANGE;
            to = std::min(d.fromUnits(p->dwTo), length);
        }
        if (to < from)
            return MCIERR_OUTOFRANGE;
        d.position = from;
        if (from == to)
            return 0;
        d.playEnd = to;
        d.mode = Mode::kPlay;
    }
    Device* dev = &d;
    AudioStartResult result;
    d.stream = d.backend->StartPlayback(
        d.pcm,
        [dev](std::uint8_t* out, std::size_t frames) -> std::size_t {
            std::lock_guard lock(dev->mutex);
            if (dev->mode != Mode::kPlay)
                return 0;
            const std::size_t n = std::min(frames, dev->playEnd - dev->position);
            std::copy_n(
                dev->audio.begin() + static_cast<std::ptrdiff_t>(dev->position * dev->block),
                n * dev->block, out);
            dev->position += n;
            // The play goes on until the back end has played out what it holds.
            return n;
        },
        [dev] {
            std::lock_guard lock(dev->mutex);
            if (dev->mode == Mode::kPlay) {
                dev->mode = Mode::kStop;
                dev->stopped.notify_all();
            }
        },
        result);
    if (!d.stream) {
        std::lock_guard lock(d.mutex);
        d.mode = Mode::kStop;
        return result == AudioStartResult::kBusy ? MCIERR_WAVE_OUTPUTSINUSE : MCIERR_HARDWARE;
    }
    if (flags & MCI_WAIT) {
        // Never longer than the audio and a margin: a device that stops calling back is
        // stopped and reported.
        const auto bound = PlayBound(std::uint64_t(to - from) * 1000u / d.pcm.samplesPerSec);
        cmd.unlock();
        bool ended;
        {
            std::unique_lock lock(d.mutex);
            ended = d.stopped.wait_for(lock, bound, [&] { return d.mode != Mode::kPlay; });
        }
        if (!ended) {
            cmd.lock();
            stop(d);
            return MCIERR_DEVICE_STALLED;
        }
    }
    return 0;
}

MCIERROR record(Device& d, DWORD flags, const MCI_RECORD_PARMS* p) {
    if (flags & (MCI_TO | MCI_RECORD_OVERWRITE))
        return MCIERR_UNSUPPORTED_FUNCTION;
    if ((flags & MCI_FROM) && !p)
        return MCIERR_NULL_PARAMETER_BLOCK;
    stop(d);
    {
        std::lock_guard lock(d.mutex);
        if (flags & MCI_FROM) {
            if (p->dwFrom > d.toUnits(d.frames()))
                return MCIERR_OUTOFRANGE;
            d.position = std::min(d.fromUnits(p->dwFrom), d.frames());
        }
        d.recordAt = d.position;
        d.recorded.clear();
        d.mode = Mode::kRecord;
    }
    Device* dev = &d;
    AudioStartResult result;
    d.stream = d.backend->StartCapture(
        d.pcm,
        [dev](const std::uint8_t* in, std::size_t frames) {
            std::lock_guard lock(dev->mutex);
            if (dev->mode == Mode::kRecord)
                dev->recorded.insert(dev->recorded.end(), in, in + frames * dev->block);
        },
        result);
    if (!d.stream) {
        std::lock_guard lock(d.mutex);
        d.mode = Mode::kStop;
        return result == AudioStartResult::kBusy ? MCIERR_WAVE_INPUTSINUSE : MCIERR_HARDWARE;
    }
    return 0;
}

MCIERROR seek(Device& d, DWORD flags, const MCI_SEEK_PARMS* p) {
    const DWORD where = flags & (MCI_TO | MCI_SEEK_TO_START | MCI_SEEK_TO_END);
    if (where == 0)
        return MCIERR_MISSING_PARAMETER;
    if (where != MCI_TO && where != MCI_SEEK_TO_START && where != MCI_SEEK_TO_END)
        return MCIERR_FLAGS_NOT_COMPATIBLE;
    if (where == MCI_TO && !p)
        return MCIERR_NULL_PARAMETER_BLOCK;
    stop(d);
    std::lock_guard lock(d.mutex);
    if (where == MCI_SEEK_TO_START) {
        d.position = 0;
    } else if (where == MCI_SEEK_TO_END) {
        d.position = d.frames();
    } else {
        if (p->dwTo > d.toUnits(d.frames()))
            return MCIERR_OUTOFRANGE;
        d.position = std::min(d.fromUnits(p->dwTo), d.frames());
    }
    return 0;
}

MCIERROR status(Device& d, DWORD flags, MCI_STATUS_PARMS* p) {
    if (!p)
        return MCIERR_NULL_PARAMETER_BLOCK;
    if (!(flags & MCI_STATUS_ITEM))
        return MCIERR_MISSING_PARAMETER;
    std::lock_guard lock(d.mutex);
    switch (p->dwItem) {
        case MCI_STATUS_LENGTH:
            p->dwReturn = d.toUnits(d.lengthLocked());
            return 0;
        case MCI_STATUS_POSITION:
            p->dwReturn = d.toUnits(d.positionLocked());
            return 0;
        case MCI_STATUS_MODE:
            p->dwReturn = d.mode == Mode::kPlay     ? MCI_MODE_PLAY
                          : d.mode == Mode::kRecord ? MCI_MODE_RECORD
                                                    : MCI_MODE_STOP;
            return 0;
        case MCI_STATUS_TIME_FORMAT:
            p->dwReturn = d.timeFormat;
            return 0;
        case MCI_STATUS_READY:
            p->dwReturn = 1;
            return 0;
        default:
            return MCIERR_UNSUPPORTED_FUNCTION;
    }
}

MCIERROR set(Device& d, DWORD flags, const MCI_SET_PARMS* p) {
    if (!p)
        return MCIERR_NULL_PARAMETER_BLOCK;
    if (flags & ~(MCI_SET_TIME_FORMAT | MCI_WAIT))
        return MCIERR_UNSUPPORTED_FUNCTION;
    if (!(flags & MCI_SET_TIME_FORMAT))
        return MCIERR_MISSING_PARAMETER;
    if (p->dwTimeFormat != MCI_FORMAT_MILLISECONDS && p->dwTimeFormat != MCI_FORMAT_BYTES &&
        p->dwTimeFormat != MCI_FORMAT_SAMPLES)
        return MCIERR_BAD_TIME_FORMAT;
    std::lock_guard lock(d.mutex);
    d.timeFormat = p->dwTimeFormat;
    return 0;
}

MCIERROR erase(Device& d, DWORD flags, const MCI_WAVE_DELETE_PARMS* p) {
    if ((flags & (MCI_FROM | MCI_TO)) && !p)
        return MCIERR_NULL_PARAMETER_BLOCK;
    stop(d);
    std::lock_guard lock(d.mutex);
    const std::size_t length = d.frames();
    std::size_t from = d.position, to = length;
    if (flags & MCI_FROM) {
        if (p->dwFrom > d.toUnits(length))
            return MCIERR_OUTOFRANGE;
        from = std::min(d.fromUnits(p->dwFrom), length);
    }
    if (flags & MCI_TO) {
        if (p->dwTo > d.toUnits(length))
            return MCIERR_OUTOFRANGE;
        to = std::min(d.fromUnits(p->dwTo), length);
    }
    if (to < from)
        return MCIERR_OUTOFRANGE;
    d.audio.erase(d.audio.begin() + static_cast<std::ptrdiff_t>(from * d.block),
                  d.audio.begin() + static_cast<std::ptrdiff_t>(to * d.block));
    d.position = from;
    if (to > from)
        d.modified = true;
    return 0;
}

MCIERROR save(Device& d, DWORD flags, const MCI_SAVE_PARMS* p) {
    if (!p)
        return MCIERR_NULL_PARAMETER_BLOCK;
    if (!(flags & MCI_SAVE_FILE) || p->lpfilename.empty())
        return MCIERR_FILENAME_REQUIRED;
    stop(d);
    std::vector<std::uint8_t> bytes;
    {
        std::lock_guard lock(d.mutex);
        if (d.decoded && !d.modified)
            bytes = d.original;
        else
            bytes = SerializeWave(ToWaveFormat(d.pcm), d.audio.data(), d.audio.size());
    }
    return ReplaceFile(p->lpfilename, bytes) ? 0 : MCIERR_FILE_NOT_SAVED;
}

// The checks every command on an open device shares; null with the error set when the
// command cannot go on.
std::shared_ptr<Device> deviceFor(MCIDEVICEID id, DWORD flags, MCIERROR& error) {
    if (flags & MCI_NOTIFY) {
        error = MCIERR_UNSUPPORTED_FUNCTION;
        return nullptr;
    }
    auto d = find(id);
    error = d ? 0 : MCIERR_INVALID_DEVICE_ID;
    return d;
}

}  // namespace

std::chrono::milliseconds PlayBound(std::uint64_t audioMs) {
    return std::chrono::milliseconds(audioMs + audioMs / 10 + kStallMarginMs);
}

MCIERROR mciSendCommand(MCIDEVICEID id, unsigned msg, DWORD flags, MCI_OPEN_PARMS* params) {
    if (msg != MCI_OPEN)
        return MCIERR_UNRECOGNIZED_COMMAND;
    (void)id;
    if (!params)
        return MCIERR_NULL_PARAMETER_BLOCK;
    if (flags & MCI_NOTIFY)
        return MCIERR_UNSUPPORTED_FUNCTION;
    params->wDeviceID = 0;
    return open(*params, flags);
}

MCIERROR mciSendCommand(MCIDEVICEID id, unsigned msg, DWORD flags, MCI_SET_PARMS* params) {
    if (msg != MCI_SET)
        return MCIERR_UNRECOGNIZED_COMMAND;
    MCIERROR e;
    auto d = deviceFor(id, flags, e);
    if (!d)
        return e;
    std::unique_lock cmd(d->command);
    return set(*d, flags, params);
}

MCIERROR mciSendCommand(MCIDEVICEID id, unsigned msg, DWORD flags, MCI_SEEK_PARMS* params) {
    if (msg != MCI_SEEK)
        return MCIERR_UNRECOGNIZED_COMMAND;
    MCIERROR e;
    auto d = deviceFor(id, flags, e);
    if (!d)
        return e;
    std::unique_lock cmd(d->command);
    return seek(*d, flags, params);
}

MCIERROR mciSendCommand(MCIDEVICEID id, unsigned msg, DWORD flags, MCI_PLAY_PARMS* params) {
    if (msg != MCI_PLAY)
        return MCIERR_UNRECOGNIZED_COMMAND;
    MCIERROR e;
    auto d = deviceFor(id, flags, e);
    if (!d)
        return e;
    std::unique_lock cmd(d->command);
    return play(*d, flags, params, cmd);
}

MCIERROR mciSendCommand(MCIDEVICEID id, unsigned msg, DWORD flags, MCI_RECORD_PARMS* params) {
    if (msg != MCI_RECORD)
        return MCIERR_UNRECOGNIZED_COMMAND;
    MCIERROR e;
    auto d = deviceFor(id, flags, e);
    if (!d)
        return e;
    std::unique_lock cmd(d->command);
    return record(*d, flags, params);
}

MCIERROR mciSendCommand(MCIDEVICEID id, unsigned msg, DWORD flags, MCI_STATUS_PARMS* params) {
    if (msg != MCI_STATUS)
        return MCIERR_UNRECOGNIZED_COMMAND;
    MCIERROR e;
    auto d = deviceFor(id, flags, e);
    if (!d)
        return e;
    std::unique_lock cmd(d->command);
    return status(*d, flags, params);
}

MCIERROR mciSendCommand(MCIDEVICEID id, unsigned msg, DWORD flags, MCI_SAVE_PARMS* params) {
    if (msg != MCI_SAVE)
        return MCIERR_UNRECOGNIZED_COMMAND;
    MCIERROR e;
    auto d = deviceFor(id, flags, e);
    if (!d)
        return e;
    std::unique_lock cmd(d->command);
    return save(*d, flags, params);
}

MCIERROR mciSendCommand(MCIDEVICEID id, unsigned msg, DWORD flags, MCI_WAVE_DELETE_PARMS* params) {
    if (msg != MCI_DELETE)
        return MCIERR_UNRECOGNIZED_COMMAND;
    MCIERROR e;
    auto d = deviceFor(id, flags, e);
    if (!d)
        return e;
    std::unique_lock cmd(d->command);
    return erase(*d, flags, params);
}

MCIERROR mciSendCommand(MCIDEVICEID id, unsigned msg, DWORD flags, MCI_GENERIC_PARMS*) {
    MCIERROR e;
    if (msg == MCI_CLOSE) {
        if (flags & MCI_NOTIFY)
            return MCIERR_UNSUPPORTED_FUNCTION;
        return close(id);
    }
    if (msg != MCI_STOP && msg != MCI_CUE && msg != MCI_DELETE)
        return MCIERR_UNRECOGNIZED_COMMAND;
    auto d = deviceFor(id, flags, e);
    if (!d)
        return e;
    std::lock_guard cmd(d->command);
    if (msg == MCI_STOP)
        stop(*d);
    else if (msg == MCI_DELETE)
        return erase(*d, flags & ~(MCI_FROM | MCI_TO), nullptr);
    return 0;
}

bool mciGetErrorString(MCIERROR error, std::string& text, std::size_t bufferSize) {
    static const std::map<MCIERROR, const char*> texts = {
        {MCIERR_INVALID_DEVICE_ID, "The device identifier is not that of an open device."},
        {MCIERR_UNRECOGNIZED_COMMAND, "The driver does not know this command."},
        {MCIERR_HARDWARE, "The sound device failed. Check that it works and is connected."},
        {MCIERR_INVALID_DEVICE_NAME, "This device is not known to MCI."},
        {MCIERR_OUT_OF_MEMORY, "There is not enough memory for this command."},
        {MCIERR_MISSING_PARAMETER, "The command needs a parameter that was not given."},
        {MCIERR_UNSUPPORTED_FUNCTION, "The device cannot carry out this command."},
        {MCIERR_FILE_NOT_FOUND, "The file cannot be found or cannot be read."},
        {MCIERR_DEVICE_NOT_READY, "The device is not ready."},
        {MCIERR_INTERNAL, "An internal error of the device."},
        {MCIERR_EXTENSION_NOT_FOUND,
         "No device is known for the extension of this file. Give a device type."},
        {MCIERR_OUTOFRANGE, "The position is outside the recording."},
        {MCIERR_FLAGS_NOT_COMPATIBLE, "These flags cannot be used together."},
        {MCIERR_FILE_NOT_SAVED,
         "The file could not be saved. Check the folder and the disk space."},
        {MCIERR_BAD_TIME_FORMAT, "This time format is not known to the device."},
        {MCIERR_INVALID_FILE, "The file is not a wave file the device can read."},
        {MCIERR_NULL_PARAMETER_BLOCK, "The command was sent without its parameters."},
        {MCIERR_FILENAME_REQUIRED, "The command needs a file name."},
        {MCIERR_WAVE_OUTPUTSINUSE, "The wave output device is in use by another application."},
        {MCIERR_WAVE_INPUTSINUSE, "The wave input device is in use by another application."},
        {MCIERR_WAVE_OUTPUTSUNSUITABLE,
         "No wave output device can play this file's format: no decoder for it is installed."},
        {MCIERR_WAVE_INPUTSUNSUITABLE, "No wave input device can record in this format."},
        {MCIERR_DEVICE_STALLED,
         "The sound device stopped before the end: it no longer plays or records."},
    };
    text.clear();
    auto it = texts.find(error);
    if (it == texts.end())
        return false;
    if (bufferSize == 0)
        return true;
    text = it->second;
    if (text.size() > bufferSize - 1)
        text.resize(bufferSize - 1);
    return true;
}

std::string MciBackendName() {
    return ChosenAudioBackend().name();
}

namespace {

// The magnitude (0 .. 255) of the first channel of frame f of the audio as it plays, with what
// is being recorded inserted at recordAt. mutex held.
unsigned levelAt(const Device& d, std::size_t f) {
    const std::size_t recordedFrames = d.recorded.size() / d.block;
    const std::uint8_t* p = nullptr;
    if (d.mode == Mode::kRecord && f >= d.recordAt && f < d.recordAt + recordedFrames)
        p = d.recorded.data() + (f - d.recordAt) * d.block;
    else {
        if (d.mode == Mode::kRecord && f >= d.recordAt)
            f -= recordedFrames;
        if (f >= d.frames())
            return 0;
        p = d.audio.data() + f * d.block;
    }
    if (d.pcm.bitsPerSample == 8)
        return static_cast<unsigned>(std::min(255, std::abs(int(p[0]) - 128) * 2));
    const int v = static_cast<std::int16_t>(p[0] | p[1] << 8);
    return static_cast<unsigned>(std::min(255, std::abs(v) >> 7));
}

// The peak of frames [from, to), looking at no more than 256 of them.
unsigned peakOf(const Device& d, std::size_t from, std::size_t to) {
    unsigned peak = 0;
    const std::size_t step = std::max<std::size_t>(1, (to - from) / 256);
    for (std::size_t f = from; f < to; f += step)
        peak = std::max(peak, levelAt(d, f));
    return peak;
}

}  // namespace

MCIERROR mciGetLevels(MCIDEVICEID id, std::size_t count, std::vector<std::uint8_t>& peaks,
                      std::uint8_t& current, double& where) {
    peaks.assign(count, 0);
    current = 0;
    where = 0;
    auto d = find(id);
    if (!d)
        return MCIERR_INVALID_DEVICE_ID;
    std::lock_guard lock(d->mutex);
    const std::size_t length = d->lengthLocked();
    for (std::size_t i = 0; i < count && length; ++i)
        peaks[i] = static_cast<std::uint8_t>(peakOf(
            *d, length * i / count, std::max(length * (i + 1) / count, length * i / count + 1)));
    const std::size_t at = std::min(d->positionLocked(), length);
    where = length ? double(at) / double(length) : 0.0;
    const std::size_t window = std::max<std::size_t>(1, d->pcm.samplesPerSec / 20);
    if (d->mode != Mode::kStop && at > 0)
        current = static_cast<std::uint8_t>(peakOf(*d, at > window ? at - window : 0, at));
    return 0;
}

MCIERROR mciSnapshotWave(MCIDEVICEID id, std::vector<std::uint8_t>& wave) {
    wave.clear();
    auto d = find(id);
    if (!d)
        return MCIERR_INVALID_DEVICE_ID;
    std::vector<std::uint8_t> audio;
    {
        std::lock_guard lock(d->mutex);
        audio = d->audio;
        if (d->mode == Mode::kRecord && !d->recorded.empty())
            audio.insert(audio.begin() + static_cast<std::ptrdiff_t>(d->recordAt * d->block),
                         d->recorded.begin(), d->recorded.end());
    }
    wave = SerializeWave(ToWaveFormat(d->pcm), audio.data(), audio.size());
    return 0;
}

}  // namespace korrin::platform
