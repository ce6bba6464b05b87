#include "korrin/audio/FormatChooser.h"

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

// ---- registry values of the two formats ----

struct FormatValues {
    const char* format;
    const char* details;
    const std::vector<std::uint8_t>& (*defaultFormat)();
    const char* defaultText;
};

const FormatValues kLocal{setting::kWaveFormat, setting::kFormatDetails, &DefaultLocalFormat,
                          kDefaultLocalFormatText};
const FormatValues kTransport{setting::kWaveFormatTransport, setting::kFormatDetailsTransport,
                              &DefaultTransportFormat, kDefaultTransportFormatText};

bool OpenKey(const std::string& key, RegKeyGuard& guard, int line) {
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, key, guard.out()) == ERROR_SUCCESS)
        return true;
    CEventReport().Report("RegOpenKeyEx failed", "Acm", line);
    return false;
}

// Text values are stored with their terminating zero.
void WriteDetails(HKEY key, const char* name, const std::string& text) {
    RegSetValueEx(key, name, REG_SZ, reinterpret_cast<const std::uint8_t*>(text.c_str()),
                  static_cast<DWORD>(text.size() + 1));
}

int WriteFormat(const FormatValues& v, const std::string& key, const std::uint8_t* format,
                DWORD count, const std::string& details, int line) {
    RegKeyGuard guard;
    if (!OpenKey(key, guard, line))
        return 1;
    WriteDetails(guard.get(), v.details, details);
    RegSetValueEx(guard.get(), v.format, REG_BINARY, format, count);
    return 0;
}

int WriteDefault(const FormatValues& v, const std::string& key, std::vector<std::uint8_t>& buffer,
                 std::string& details, int line) {
    RegKeyGuard guard;
    if (!OpenKey(key, guard, line))
        return 1;
    details = v.defaultText;
    WriteDetails(guard.get(), v.details, details);
    // The default's bytes go first; the rest of the buffer stays as it is.
    const auto& def = v.defaultFormat();
    std::copy_n(def.begin(), std::min(def.size(), buffer.size()), buffer.begin());
    RegSetValueEx(guard.get(), v.format, REG_BINARY, buffer.data(),
                  static_cast<DWORD>(buffer.size()));
    return 0;
}

int ReadFormat(const FormatValues& v, const std::string& key, std::vector<std::uint8_t>& buffer,
               std::string& details, int line) {
    RegKeyGuard guard;
    if (!OpenKey(key, guard, line))
        return 1;
    DWORD size = static_cast<DWORD>(buffer.size());
    std::vector<std::uint8_t> read(buffer.size());
    if (buffer.empty() ||
        RegQueryValueEx(guard.get(), v.format, nullptr, read.data(), &size) != ERROR_SUCCESS) {
        guard.reset();
        return WriteDefault(v, key, buffer, details, line);
    }
    std::copy_n(read.begin(), size, buffer.begin());
    std::vector<std::uint8_t> text(kFormatDetailsBytes);
    size = kFormatDetailsBytes;
    if (RegQueryValueEx(guard.get(), v.details, nullptr, text.data(), &size) != ERROR_SUCCESS) {
        guard.reset();
        return WriteDefault(v, key, buffer, details, line);
    }
    const auto end = text.begin() + size;
    details.assign(text.begin(), std::find(text.begin(), end, 0));
    return 0;
}

const char* ChooseErrorText(MMRESULT code) {
    switch (code) {
        case 5:
            return "The specified handle is invalid.";
        case 6:
            return "A suitable driver is not available to provide valid format selections.";
        case 10:
            return "At least one flag is invalid.";
        case 11:
            return "At least one parameter is invalid.";
        case 512:
            return "The buffer identified by the pwfx member of the ACMFORMATCHOOSE structure is "
                   "too small to contain the selected format.";
        default:
            return "Unknown Error";
    }
}

}  // namespace

// ---- FormatChooser ----

FormatChooser::FormatChooser(void* owner) : owner_(owner) {
    DWORD largest = 0;
    const MMRESULT mmr = acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &largest);
    if (mmr != MMSYSERR_NOERROR) {
        DebugTrace("!AcmAppChooserFormat() acmMetrics failed mmr=%u!", unsigned(mmr));
        return;
    }
    try {
        format_.assign(largest, 0);
    } catch (const std::bad_alloc&) {
        DebugTrace("!AcmAppChooserFormat() malloc(%lu) failed!",
                   static_cast<unsigned long>(largest));
    }
}

WAVEFORMATEX FormatChooser::Format() const {
    return ReadWaveFormat(format_.data(), format_.size());
}

int FormatChooser::GetFormat(const std::string& key, std::string& details) {
    return ReadFormat(kLocal, key, format_, details, __LINE__);
}

int FormatChooser::GetFormatTransport(const std::string& key, std::string& details) {
    return ReadFormat(kTransport, key, format_, details, __LINE__);
}

int FormatChooser::SetFormat(const std::string& key, const std::string& details) {
    return WriteFormat(kLocal, key, format_.data(), formatSize(), details, __LINE__);
}

int FormatChooser::SetFormatTransport(const std::string& key, const std::string& details) {
    return WriteFormat(kTransport, key, format_.data(), formatSize(), details, __LINE__);
}

int FormatChooser::SetFormatDefault(const std::string& key, std::string& details) {
    return WriteDefault(kLocal, key, format_, details, __LINE__);
}

int FormatChooser::SetFormatTransportDefault(const std::string& key, std::string& details) {
    return WriteDefault(kTransport, key, format_, details, __LINE__);
}

int SetFormat(const std::string& key, const std::uint8_t* format, DWORD count,
              const std::string& details) {
    return WriteFormat(kLocal, key, format, count, details, __LINE__);
}

int SetFormatTransport(const std::string& key, const std::uint8_t* format, DWORD count,
                       const std::string& details) {
    return WriteFormat(kTransport, key, format, count, details, __LINE__);
}

MMRESULT FormatChooser::ChangeACMFormat(const std::string& title, std::string& details, int mode) {
    ACMFORMATCHOOSE choose;
    choose.cbStruct = kAcmFormatChooseSize;
    choose.fdwStyle = ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT;
    choose.hwndOwner = owner_;
    choose.pwfx = format();
    choose.cbwfx = formatSize();
    choose.pszTitle = title.c_str();
    std::vector<std::uint8_t> pcmOnly;
    if (mode == 1) {
        WAVEFORMATEX restrict;
        restrict.wFormatTag = WAVE_FORMAT_PCM;
        pcmOnly = WaveFormatBytes(restrict);
        choose.fdwEnum = ACM_FORMATENUMF_WFORMATTAG;
        choose.pwfxEnum = pcmOnly.data();
        choose.cbwfxEnum = static_cast<DWORD>(pcmOnly.size());
    }
    const MMRESULT mmr = acmFormatChoose(&choose);
    if (mmr == MMSYSERR_NOERROR) {
        details = Printf("%s %s", choose.szFormatTag, choose.szFormat);
        return 0;
    }
    if (mmr == ACMERR_CANCELED)
        return mmr;
    CEventReport().Report(
        Printf("acmFormatChoose failed,mmr=%d - %s", int(mmr), ChooseErrorText(mmr)), "Acm",
        __LINE__);
    return mmr;
}

}  // namespace korrin
