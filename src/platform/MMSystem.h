// Result codes and small types shared by the multimedia layers (mixer, wave output, file
// I/O, compression): one definition for all of them, so a caller can use several at once.
#pragma once

#include <cstdint>

#include "platform/Win32Types.h"

namespace korrin::platform {

using MMRESULT = std::uint32_t;
using UINT = unsigned;
using DWORD_PTR = std::uintptr_t;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;

}  // namespace korrin::platform
