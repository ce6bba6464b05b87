// Shared by the wave file modules: the window side of a conversion, boxes and traces.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

#include "platform/acm/Acm.h"
#include "platform/mmio/Mmio.h"

namespace korrin {

using platform::DWORD;
using platform::MMRESULT;
using platform::WAVEFORMATEX;

// The window side of a conversion, installed by the program: progress text into an item of
// the owner window and the wait cursor. Without one nothing is shown.
class AudioWindow {
  public:
    virtual ~AudioWindow() = default;
    virtual void SetItemText(void* owner, int item, const std::string& text) = 0;
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;
};
// The window must outlive its installation; null removes it.
void InstallAudioWindow(AudioWindow* window);

// The significant bytes of a format: 16 for PCM, otherwise 18 + cbSize.
DWORD FormatSize(const std::uint8_t* format, std::size_t available);

// A box owned by owner with the formatted text (at most 1,023 characters), the given type and
// the caption "Error".
int ErrorBox(void* owner, unsigned type, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// A line on stderr while KORRIN_DEBUG is set. Leading '!' rings the bell first, '`' leaves
// out the ": " prefix, '~' leaves out the closing CR LF.
void DebugTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));

namespace detail {

inline constexpr unsigned MB_TASKMODAL = 0x2000;
inline constexpr const char* kBoxCaption = "Error";  // what a box without a caption is titled

// Wait cursor for the length of a scope.
class WaitCursor {
  public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

  private:
    AudioWindow* window_;
};

void SetItemText(void* owner, int item, const std::string& text);
// Lets the user-interface thread handle what waits for it, so the owner window redraws and
// answers while a long conversion runs.
void PumpMessages();
std::string TitleOf(const std::string& path);
std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace detail

}  // namespace korrin
