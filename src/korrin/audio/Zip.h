// audio/Zip: the quality presets (packing archives is app/Zip).
// The quality presets: each fixes both stored formats (local and transport), and the zip
// choice that goes with them. The dialog that offers them is the window side of this.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/Win32Types.h"

namespace korrin {

using platform::DWORD;

inline constexpr DWORD kQualityNetPhone = 1;
inline constexpr DWORD kQualityTelephone = 2;
inline constexpr DWORD kQualityRadio = 3;
inline constexpr DWORD kQualityAdvanced = 4;

inline constexpr DWORD kCompressionNone = 1;
inline constexpr DWORD kCompressionZip = 2;

struct QualityPreset {
    DWORD quality;
    std::vector<std::uint8_t> local;  // the wave format's own bytes (16 + 2 for PCM)
    const char* localText;
    std::vector<std::uint8_t> transport;
    const char* transportText;
};

// Quality 1 to 3; null for any other.
const QualityPreset* FindQualityPreset(DWORD quality);

// Stores the preset's formats, each padded with zeros to the largest format size, and their
// texts (local first, then transport). Advanced stores nothing. Failures are reported (source
// "Zip"): "acmMetrics failed", "malloc failed", "Unknown Quality Found". False after a report.
bool StoreQualityFormats(DWORD quality);

// "Quality" as stored; 1 while it cannot be read. Nothing is stored.
DWORD ReadQuality();
// "Compression"; 1, stored at once, while it is missing.
DWORD ReadCompression();
// Written without a report when the key cannot be opened.
void WriteCompression(DWORD value);

}  // namespace korrin
