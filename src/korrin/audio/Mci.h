// The recorder's wave audio device: one wave file opened as an MCI element, with every
// position and length in milliseconds. It keeps nothing but the open device; the window
// that owns it decides what plays or records and polls the position with its own timer.
//
// Every operation that needs an open device returns at once when none is open, with the
// value its comment gives in brackets. MCI failures of Open, Seek, Record and Save are
// reported as "MCI ERROR:<code>,<text>,Mci,<line>"; a failing Play tells the user that the
// sound card is in use.
//
// Threads: the user-interface thread (or one command-line thread) only.
#pragma once

#include <string>

#include "platform/Win32Types.h"
#include "platform/mci/Mci.h"

namespace korrin {

class MciDevice {
  public:
    MciDevice() = default;
    ~MciDevice();  // closes the device (stopping what runs)
    MciDevice(const MciDevice&) = delete;
    MciDevice& operator=(const MciDevice&) = delete;

    // 0, or the failing MCI code (the device is then closed).
    platform::MCIERROR Open(const std::string& path);
    // Stops and closes; nothing when not open.
    void Close();
    // Nothing when not open.
    void Stop();
    // From the current position to the end; returns at once. 0 or the MCI code [1].
    platform::MCIERROR Play();
    // From the current position to the end, returning once the last frame has been heard:
    // 0, MCIERR_DEVICE_STALLED (reported) when the device stopped playing before its end,
    // or the code of a play that could not start (told as Play tells it) [1].
    platform::MCIERROR PlayToEnd();
    // Inserts from `position` on until Stop; returns at once. 0 or the MCI code [1].
    platform::MCIERROR Record(platform::DWORD position);
    // 0 or the MCI code [1].
    platform::MCIERROR Seek(platform::DWORD position);
    // The position; 0 when the command fails [0].
    platform::DWORD GetPosition();
    // The length; the device is left at returnPosition [0xFFFFFFFF].
    platform::DWORD GetLength(platform::DWORD returnPosition);
    // 0 or the MCI code; sent even when not open (MCI then refuses it).
    platform::MCIERROR Save(const std::string& path);
    // Removes the audio from the current position to the end. The MCI code [1].
    platform::MCIERROR Delete();

    bool IsOpen() const { return deviceId_ != 0; }
    // The open device for the layer's own queries (levels); 0 when none is open.
    platform::MCIDEVICEID DeviceId() const { return deviceId_; }

    // "MCI ERROR:%d,%s,%s,%d" for code at line, the text as mciGetErrorString gives it
    // ("Unknown error" when it gives none).
    static std::string ErrorText(platform::MCIERROR code, int line);

  private:
    void report(platform::MCIERROR code, int line);

    platform::MCI_OPEN_PARMS open_;  // callback 0, device id, no type, the element name
    platform::MCIDEVICEID deviceId_ = 0;
};

}  // namespace korrin
