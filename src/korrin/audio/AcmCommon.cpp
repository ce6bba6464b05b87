#include "korrin/audio/AcmCommon.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "korrin/app/Defaults.h"
#include "korrin/app/EventReport.h"
#include "korrin/app/Vendor.h"
#include "platform/Endian.h"
#include "platform/registry/Registry.h"

namespace korrin {

using namespace platform;
using namespace detail;

namespace {

std::atomic<AudioWindow*> g_window{nullptr};

}  // namespace

namespace detail {

WaitCursor::WaitCursor() : window_(g_window.load()) {
    if (window_)
        window_->BeginWaitCursor();
}

WaitCursor::~WaitCursor() {
    if (window_)
        window_->EndWaitCursor();
}

void SetItemText(void* owner, int item, const std::string& text) {
    if (AudioWindow* w = g_window.load())
        w->SetItemText(owner, item, text);
}

// Lets the user-interface thread handle what waits for it, so the owner window redraws and
// answers while a long conversion runs.
void PumpMessages() {
    QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread())
        QCoreApplication::processEvents();
}

std::string TitleOf(const std::string& path) {
    const auto cut = path.find_last_of("/\\:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string Printf(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

}  // namespace detail

void InstallAudioWindow(AudioWindow* window) {
    g_window.store(window);
}

DWORD FormatSize(const std::uint8_t* format, std::size_t available) {
    if (!format || available < 2)
        return 0;
    const WAVEFORMATEX f = ReadWaveFormat(format, available);
    return f.wFormatTag == WAVE_FORMAT_PCM ? 16u : 18u + f.cbSize;
}

// ---- boxes and traces ----

int ErrorBox(void* owner, unsigned type, const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return AppMessageBox(owner, text, kBoxCaption, type);
}

void DebugTrace(const char* format, ...) {
    if (!std::getenv("KORRIN_DEBUG"))
        return;
    bool bell = false, prefix = true, lineEnd = true;
    for (;; ++format) {
        if (*format == '!')
            bell = true;
        else if (*format == '`')
            prefix = false;
        else if (*format == '~')
            lineEnd = false;
        else
            break;
    }
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::string line;
    if (bell)
        line += '\a';
    if (prefix)
        line += ": ";
    line += text;
    if (lineEnd)
        line += "\r\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace korrin
