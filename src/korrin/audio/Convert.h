// Converting a whole wave file into another format (ConvertWaveFile).
#pragma once

#include <atomic>
#include <string>

#include "korrin/audio/AcmCommon.h"
#include "korrin/audio/FormatChooser.h"
#include "korrin/audio/WaveFile.h"

namespace korrin {

// The owner's item that shows the conversion's progress.
inline constexpr int kProgressItem = 102;

// What ConvertWaveFile returns when its cancel flag was raised: the destination is deleted.
inline constexpr DWORD kConvertCancelled = 2;

// The samples of a conversion's output: sourceSamples at sourceRate, as many at the new rate
// (rounded to the nearest).
DWORD ConvertedSampleCount(DWORD sourceSamples, DWORD sourceRate, DWORD destinationRate);

// Converts the whole source file into the chooser's format. 0 on success; on failure the
// destination may be left incomplete (the caller deletes or keeps it). When no codec
// converts between the two formats the user is told how to fix that, and the conversion
// fails before the destination is created.
// cancel (may be null) is looked at before every block of about a second of source audio: once
// it is set the conversion stops, deletes the destination and returns kConvertCancelled
// without a report.
DWORD ConvertWaveFile(FormatChooser& target, const std::string& sourcePath,
                      const std::string& destinationPath, WaveFileInfo& sourceInfo,
                      const std::atomic<bool>* cancel = nullptr);

}  // namespace korrin

namespace korrin {

// Converts the wave file at path, in place, into the chooser's format. The conversion goes
// into "<path>.tmp"; on success the file is replaced in one rename (path is at every moment
// the old file or the whole new one) and the ".tmp" removed; on failure the ".tmp" is
// removed and path keeps its bytes. 0 on success; 1 after the report ("Convert failed",
// "MoveFile failed").
int ConvertFileInPlace(FormatChooser& target, const std::string& path);

}  // namespace korrin
