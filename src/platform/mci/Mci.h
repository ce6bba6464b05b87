// The MCI wave audio device: one wave file opened as an element, its audio held in memory,
// played and recorded through the chosen sound back end (see AudioBackend.h).
//
// Commands are sent with mciSendCommand and the parameter block of the command, as the
// callers know them: open, close, play, record, stop, seek, status, set, cue, save, delete.
// Positions and lengths are in the device's time format, milliseconds unless set otherwise.
// Play and record return at once and run on the back end's thread (unless sent with
// MCI_WAIT, which for play waits for the end, at most PlayBound of the audio: a device that
// stalls is stopped and the play fails with MCIERR_DEVICE_STALLED); every other command is complete
// when it returns. A play has ended when the mode is back to stop: the back end has played
// out the last frame, which may be some time after the position reached the end. Recording inserts
// at the position it starts from and goes on until stopped, in the PCM format of the file. Any
// command that starts, moves or changes the audio stops a running play or record first.
//
// Only ".wav" elements (or the device type "waveaudio") are taken. A PCM file is held as
// it is; a file in another format is decoded to PCM on open where a decoder for its format
// exists, and saved unchanged while nothing has been recorded or deleted.
//
// Threads: commands may come from any thread; one device is best driven from one thread.
// Results are the MCI error codes below (0 on success); mciGetErrorString gives their text.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Win32Types.h"
#include "platform/mci/WaveData.h"

namespace korrin::platform {

using MCIDEVICEID = std::uint32_t;
using MCIERROR = std::uint32_t;

// Commands.
constexpr unsigned MCI_OPEN = 0x0803;
constexpr unsigned MCI_CLOSE = 0x0804;
constexpr unsigned MCI_PLAY = 0x0806;
constexpr unsigned MCI_SEEK = 0x0807;
constexpr unsigned MCI_STOP = 0x0808;
constexpr unsigned MCI_SET = 0x080D;
constexpr unsigned MCI_RECORD = 0x080F;
constexpr unsigned MCI_SAVE = 0x0813;
constexpr unsigned MCI_STATUS = 0x0814;
constexpr unsigned MCI_CUE = 0x0830;
constexpr unsigned MCI_DELETE = 0x0856;

// Flags common to the commands.
constexpr DWORD MCI_NOTIFY = 0x00000001;
constexpr DWORD MCI_WAIT = 0x00000002;
constexpr DWORD MCI_FROM = 0x00000004;
constexpr DWORD MCI_TO = 0x00000008;
// MCI_OPEN
constexpr DWORD MCI_OPEN_ELEMENT = 0x00000200;
constexpr DWORD MCI_OPEN_TYPE = 0x00002000;
// MCI_SEEK
constexpr DWORD MCI_SEEK_TO_START = 0x00000100;
constexpr DWORD MCI_SEEK_TO_END = 0x00000200;
// MCI_STATUS
constexpr DWORD MCI_STATUS_ITEM = 0x00000100;
constexpr DWORD MCI_STATUS_LENGTH = 0x00000001;
constexpr DWORD MCI_STATUS_POSITION = 0x00000002;
constexpr DWORD MCI_STATUS_MODE = 0x00000004;
constexpr DWORD MCI_STATUS_TIME_FORMAT = 0x00000006;
constexpr DWORD MCI_STATUS_READY = 0x00000007;
constexpr DWORD MCI_MODE_NOT_READY = 524;
constexpr DWORD MCI_MODE_STOP = 525;
constexpr DWORD MCI_MODE_PLAY = 526;
constexpr DWORD MCI_MODE_RECORD = 527;
// MCI_SET
constexpr DWORD MCI_SET_TIME_FORMAT = 0x00000400;
constexpr DWORD MCI_FORMAT_MILLISECONDS = 0;
constexpr DWORD MCI_FORMAT_BYTES = 8;
constexpr DWORD MCI_FORMAT_SAMPLES = 9;
// MCI_SAVE
constexpr DWORD MCI_SAVE_FILE = 0x00000100;
// MCI_RECORD
constexpr DWORD MCI_RECORD_INSERT = 0x00000100;
constexpr DWORD MCI_RECORD_OVERWRITE = 0x00000200;

// Error codes.
constexpr MCIERROR MCIERR_BASE = 256;
constexpr MCIERROR MCIERR_INVALID_DEVICE_ID = MCIERR_BASE + 1;
constexpr MCIERROR MCIERR_UNRECOGNIZED_COMMAND = MCIERR_BASE + 5;
constexpr MCIERROR MCIERR_HARDWARE = MCIERR_BASE + 6;
constexpr MCIERROR MCIERR_INVALID_DEVICE_NAME = MCIERR_BASE + 7;
constexpr MCIERROR MCIERR_OUT_OF_MEMORY = MCIERR_BASE + 8;
constexpr MCIERROR MCIERR_MISSING_PARAMETER = MCIERR_BASE + 17;
constexpr MCIERROR MCIERR_UNSUPPORTED_FUNCTION = MCIERR_BASE + 18;
constexpr MCIERROR MCIERR_FILE_NOT_FOUND = MCIERR_BASE + 19;
constexpr MCIERROR MCIERR_DEVICE_NOT_READY = MCIERR_BASE + 20;
constexpr MCIERROR MCIERR_INTERNAL = MCIERR_BASE + 21;
constexpr MCIERROR MCIERR_EXTENSION_NOT_FOUND = MCIERR_BASE + 25;
constexpr MCIERROR MCIERR_OUTOFRANGE = MCIERR_BASE + 26;
constexpr MCIERROR MCIERR_FLAGS_NOT_COMPATIBLE = MCIERR_BASE + 28;
constexpr MCIERROR MCIERR_FILE_NOT_SAVED = MCIERR_BASE + 30;
constexpr MCIERROR MCIERR_BAD_TIME_FORMAT = MCIERR_BASE + 37;
constexpr MCIERROR MCIERR_INVALID_FILE = MCIERR_BASE + 40;
constexpr MCIERROR MCIERR_NULL_PARAMETER_BLOCK = MCIERR_BASE + 41;
constexpr MCIERROR MCIERR_FILENAME_REQUIRED = MCIERR_BASE + 48;
constexpr MCIERROR MCIERR_WAVE_OUTPUTSINUSE = MCIERR_BASE + 64;
constexpr MCIERROR MCIERR_WAVE_INPUTSINUSE = MCIERR_BASE + 66;
constexpr MCIERROR MCIERR_WAVE_OUTPUTSUNSUITABLE = MCIERR_BASE + 70;
constexpr MCIERROR MCIERR_WAVE_INPUTSUNSUITABLE = MCIERR_BASE + 72;
// The back end stopped calling back before the end of a play or record.
constexpr MCIERROR MCIERR_DEVICE_STALLED = MCIERR_BASE + 74;

// Parameter blocks. dwCallback is kept for the callers' sake; notifications are not sent.
struct MCI_GENERIC_PARMS {
    std::uintptr_t dwCallback = 0;
};
struct MCI_OPEN_PARMS {
    std::uintptr_t dwCallback = 0;
    MCIDEVICEID wDeviceID = 0;     // set by MCI_OPEN
    std::string lpstrDeviceType;   // "waveaudio" with MCI_OPEN_TYPE
    std::string lpstrElementName;  // the file, with MCI_OPEN_ELEMENT
    std::string lpstrAlias;
    // Asked when a chunk of the file runs past its RIFF chunk (see ReadWaveLayout); a no
    // fails the open with MCIERR_INVALID_FILE.
    RiffOverrunQuestion onChunkPastRiff;
};
struct MCI_SET_PARMS {
    std::uintptr_t dwCallback = 0;
    DWORD dwTimeFormat = 0;
    DWORD dwAudio = 0;
};
struct MCI_SEEK_PARMS {
    std::uintptr_t dwCallback = 0;
    DWORD dwTo = 0;
};
struct MCI_PLAY_PARMS {
    std::uintptr_t dwCallback = 0;
    DWORD dwFrom = 0;
    DWORD dwTo = 0;
};
struct MCI_RECORD_PARMS {
    std::uintptr_t dwCallback = 0;
    DWORD dwFrom = 0;
    DWORD dwTo = 0;
};
struct MCI_STATUS_PARMS {
    std::uintptr_t dwCallback = 0;
    std::uintptr_t dwReturn = 0;
    DWORD dwItem = 0;
    DWORD dwTrack = 0;
};
struct MCI_WAVE_DELETE_PARMS {
    std::uintptr_t dwCallback = 0;
    DWORD dwFrom = 0;  // with MCI_FROM; without it the current position
    DWORD dwTo = 0;    // with MCI_TO; without it the end
};
struct MCI_SAVE_PARMS {
    std::uintptr_t dwCallback = 0;
    std::string lpfilename;
};

// One overload per parameter block; a command sent with a block it does not take gives
// MCIERR_UNRECOGNIZED_COMMAND. MCI_CLOSE, MCI_STOP, MCI_CUE and MCI_DELETE take the generic
// block (or null); MCI_DELETE also its own with a range. MCI_NOTIFY is refused
// (MCIERR_UNSUPPORTED_FUNCTION): callers poll the position instead.
MCIERROR mciSendCommand(MCIDEVICEID id, unsigned msg, DWORD flags, MCI_OPEN_PARMS* params);
MCIERROR mciSendCommand(MCIDEVICEID id, unsigned msg, DWORD flags, MCI_SET_PARMS* params);
MCIERROR mciSendCommand(MCIDEVICEID id, unsigned msg, DWORD flags, MCI_SEEK_PARMS* params);
MCIERROR mciSendCommand(MCIDEVICEID id, unsigned msg, DWORD flags, MCI_PLAY_PARMS* params);
MCIERROR mciSendCommand(MCIDEVICEID id, unsigned msg, DWORD flags, MCI_RECORD_PARMS* params);
MCIERROR mciSendCommand(MCIDEVICEID id, unsigned msg, DWORD flags, MCI_STATUS_PARMS* params);
MCIERROR mciSendCommand(MCIDEVICEID id, unsigned msg, DWORD flags, MCI_SAVE_PARMS* params);
MCIERROR mciSendCommand(MCIDEVICEID id, unsigned msg, DWORD flags, MCI_WAVE_DELETE_PARMS* params);
MCIERROR mciSendCommand(MCIDEVICEID id, unsigned msg, DWORD flags, MCI_GENERIC_PARMS* params);

// The text of an error code, cut to fit bufferSize bytes with its terminating zero. false
// (and an empty text) for a code that is not an MCI error.
bool mciGetErrorString(MCIERROR error, std::string& text, std::size_t bufferSize = 256);

// The name of the sound back end the next open uses ("portaudio", "virtual").
std::string MciBackendName();

// How long a wait for audio of audioMs milliseconds to play or record may take before the
// device counts as stalled: the length, a tenth more and kStallMarginMs (the device's own
// buffering and start-up). Every wait for a play or record to end is bound by it.
inline constexpr std::uint64_t kStallMarginMs = 2000;
std::chrono::milliseconds PlayBound(std::uint64_t audioMs);

// A picture of an open device's audio for a waveform and a level meter, what is being
// recorded included: the peak of each of `count` equal slices of the whole audio, the peak
// of the 50 ms before the position while playing or recording (both 0 .. 255, full scale
// 255, first channel; 0 while stopped), and the position as a share of the length (0 .. 1).
// Looks at a bounded number of samples per slice, so a long recording costs no more than a
// short one; safe while playing or recording. 0 or MCIERR_INVALID_DEVICE_ID.
MCIERROR mciGetLevels(MCIDEVICEID id, std::size_t count, std::vector<std::uint8_t>& peaks,
                      std::uint8_t& current, double& where);

// The device's audio as a PCM wave file's bytes, what is being recorded included, without
// stopping anything: a running recording goes on (the draft of a message is kept this way
// while it is recorded). 0 or MCIERR_INVALID_DEVICE_ID.
MCIERROR mciSnapshotWave(MCIDEVICEID id, std::vector<std::uint8_t>& wave);

}  // namespace korrin::platform
