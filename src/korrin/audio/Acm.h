// Wave files and their formats: the format a window works with (FormatChooser) and its
// registry values, reading a wave file's layout (wioFileOpen) and description
// (LoadWaveFileInfo), creating an empty wave file (AcmAppFileNew), converting a whole file
// into another format (ConvertWaveFile), and describing a format in words.
//
// Everything here runs on the user-interface thread (or, in korrinctl, the only thread).
// A conversion keeps the window responsive by handling pending events between its blocks.
// This header gathers the modules; each has its own header below.
#pragma once

#include "korrin/audio/AcmCommon.h"
#include "korrin/audio/Convert.h"
#include "korrin/audio/FormatChooser.h"
#include "korrin/audio/FormatDescription.h"
#include "korrin/audio/WaveFile.h"
