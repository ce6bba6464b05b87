#include "korrin/audio/Mci.h"

#include <cstdio>

#include "korrin/app/EventReport.h"
#include "korrin/audio/WaveFile.h"

namespace korrin {

using namespace platform;

namespace {

// The module name and the lines the reports carry, whatever this file's own lines are.
constexpr const char* kSource = "Mci";
constexpr int kLineOpen = 39;
constexpr int kLineSetTimeFormat = 50;
constexpr int kLineCue = 61;
constexpr int kLineSeek = 90;
constexpr int kLineRecord = 179;
constexpr int kLinePlayToEnd = 190;
constexpr int kLineSave = 253;

constexpr const char* kCardInUse = "The Sound Card is in use by another application.";

}  // namespace

MciDevice::~MciDevice() {
    Close();
}

std::string MciDevice::ErrorText(MCIERROR code, int line) {
    std::string text;
    mciGetErrorString(code, text, 256);
    if (text.empty())
        text = "Unknown error";
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "MCI ERROR:%d,%s,%s,%d", static_cast<int>(code),
                  text.c_str(), kSource, line);
    return buffer;
}

void MciDevice::report(MCIERROR code, int line) {
    CEventReport().Report(ErrorText(code, line), kSource, line);
}

MCIERROR MciDevice::Open(const std::string& path) {
    Close();
    open_ = MCI_OPEN_PARMS{};
    open_.lpstrElementName = path;
    open_.onChunkPastRiff = AskToLoadPastRiffEnd;
    MCIERROR e = mciSendCommand(0, MCI_OPEN, MCI_OPEN_ELEMENT | MCI_WAIT, &open_);
    if (e) {
        report(e, kLineOpen);
        open_.wDeviceID = deviceId_ = 0;
        return e;
    }
    deviceId_ = open_.wDeviceID;

    MCI_SET_PARMS set;
    set.dwTimeFormat = MCI_FORMAT_MILLISECONDS;
    e = mciSendCommand(deviceId_, MCI_SET, MCI_SET_TIME_FORMAT | MCI_WAIT, &set);
    if (e) {
        report(e, kLineSetTimeFormat);
        Close();
        return e;
    }
    MCI_GENERIC_PARMS cue;
    e = mciSendCommand(deviceId_, MCI_CUE, MCI_WAIT, &cue);
    if (e) {
        report(e, kLineCue);
        Close();
        return e;
    }
    MCI_SEEK_PARMS seek;
    seek.dwTo = 0;
    mciSendCommand(deviceId_, MCI_SEEK, MCI_TO | MCI_WAIT, &seek);
    return 0;
}

void MciDevice::Close() {
    if (!deviceId_)
        return;
    Stop();
    MCI_GENERIC_PARMS close;
    mciSendCommand(deviceId_, MCI_CLOSE, MCI_WAIT, &close);
    open_.wDeviceID = deviceId_ = 0;
}

void MciDevice::Stop() {
    if (!deviceId_)
        return;
    MCI_GENERIC_PARMS stop;
    mciSendCommand(deviceId_, MCI_STOP, MCI_WAIT, &stop);
}

MCIERROR MciDevice::Play() {
    if (!deviceId_)
        return 1;
    MCI_PLAY_PARMS play;
    const MCIERROR e = mciSendCommand(deviceId_, MCI_PLAY, 0, &play);
    if (e)
        CEventReport().ShowError(kCardInUse);
    return e;
}

MCIERROR MciDevice::PlayToEnd() {
    if (!deviceId_)
        return 1;
    MCI_PLAY_PARMS play;
    const MCIERROR e = mciSendCommand(deviceId_, MCI_PLAY, MCI_WAIT, &play);
    if (e == MCIERR_DEVICE_STALLED)
        report(e, kLinePlayToEnd);
    else if (e)
        CEventReport().ShowError(kCardInUse);
    return e;
}

MCIERROR MciDevice::Record(DWORD position) {
    if (!deviceId_)
        return 1;
    MCI_SEEK_PARMS seek;
    seek.dwTo = position;
    mciSendCommand(deviceId_, MCI_SEEK, MCI_TO | MCI_WAIT, &seek);
    MCI_RECORD_PARMS record;
    const MCIERROR e = mciSendCommand(deviceId_, MCI_RECORD, 0, &record);
    if (e)
        report(e, kLineRecord);
    return e;
}

MCIERROR MciDevice::Seek(DWORD position) {
    if (!deviceId_)
        return 1;
    MCI_SEEK_PARMS seek;
    seek.dwTo = position;
    const MCIERROR e = mciSendCommand(deviceId_, MCI_SEEK, MCI_TO | MCI_WAIT, &seek);
    if (e)
        report(e, kLineSeek);
    return e;
}

DWORD MciDevice::GetPosition() {
    if (!deviceId_)
        return 0;
    MCI_STATUS_PARMS status;
    status.dwItem = MCI_STATUS_POSITION;
    if (mciSendCommand(deviceId_, MCI_STATUS, MCI_STATUS_ITEM | MCI_WAIT, &status))
        return 0;
    return static_cast<DWORD>(status.dwReturn);
}

DWORD MciDevice::GetLength(DWORD returnPosition) {
    if (!deviceId_)
        return 0xFFFFFFFF;
    MCI_SEEK_PARMS seek;
    mciSendCommand(deviceId_, MCI_SEEK, MCI_SEEK_TO_END | MCI_WAIT, &seek);
    const DWORD length = GetPosition();
    seek.dwTo = returnPosition;
    mciSendCommand(deviceId_, MCI_SEEK, MCI_TO | MCI_WAIT, &seek);
    return length;
}

MCIERROR MciDevice::Save(const std::string& path) {
    MCI_SAVE_PARMS save;
    save.lpfilename = path;
    const MCIERROR e = mciSendCommand(deviceId_, MCI_SAVE, MCI_SAVE_FILE | MCI_WAIT, &save);
    if (e)
        report(e, kLineSave);
    return e;
}

MCIERROR MciDevice::Delete() {
    if (!deviceId_)
        return 1;
    MCI_GENERIC_PARMS del;
    return mciSendCommand(deviceId_, MCI_DELETE, 0, &del);
}

}  // namespace korrin
