// The format a window works with (FormatChooser) and its two registry values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "korrin/audio/AcmCommon.h"

namespace korrin {

// Texts of the format values are read into this many bytes (the chooser's 48-character tag
// name and 128-character format text).
inline constexpr DWORD kFormatDetailsBytes = 176;

// One format and the window that owns the boxes about it. The buffer is as large as the
// largest format any installed codec has, zero-filled at creation.
class FormatChooser {
  public:
    explicit FormatChooser(void* owner);
    FormatChooser(const FormatChooser&) = delete;
    FormatChooser& operator=(const FormatChooser&) = delete;

    void* owner() const { return owner_; }
    std::uint8_t* format() { return format_.empty() ? nullptr : format_.data(); }
    const std::uint8_t* format() const { return format_.empty() ? nullptr : format_.data(); }
    DWORD formatSize() const { return static_cast<DWORD>(format_.size()); }
    WAVEFORMATEX Format() const;

    // key is below HKEY_LOCAL_MACHINE. 0 on success, 1 when the key cannot be opened
    // (reported as "RegOpenKeyEx failed"). A value that cannot be read brings back (and
    // stores) the default of that format.
    int GetFormat(const std::string& key, std::string& details);
    int GetFormatTransport(const std::string& key, std::string& details);
    int SetFormat(const std::string& key, const std::string& details);
    int SetFormatTransport(const std::string& key, const std::string& details);
    int SetFormatDefault(const std::string& key, std::string& details);
    int SetFormatTransportDefault(const std::string& key, std::string& details);

    // Lets the user pick (mode 1: PCM formats only). 0 with the choice in the buffer and
    // "tag format" in details; ACMERR_CANCELED silently; any other code is reported.
    MMRESULT ChangeACMFormat(const std::string& title, std::string& details, int mode);

  private:
    void* owner_;
    std::vector<std::uint8_t> format_;
};

// The buffer forms: format bytes (count bytes are written) with their text.
int SetFormat(const std::string& key, const std::uint8_t* format, DWORD count,
              const std::string& details);
int SetFormatTransport(const std::string& key, const std::uint8_t* format, DWORD count,
                       const std::string& details);

}  // namespace korrin
