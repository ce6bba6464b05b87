#include "korrin/app/Defaults.h"

#include "platform/Endian.h"
#include "platform/Text.h"

namespace korrin {

using platform::REG_BINARY;
using platform::REG_DWORD;
using platform::REG_SZ;

namespace {

// A wave format structure: tag, channels, rate, bytes per second, block align, bits, then
// the size of the extra bytes and the extra bytes themselves.
std::vector<std::uint8_t> waveFormat(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                                     std::uint32_t avgBytes, std::uint16_t blockAlign,
                                     std::uint16_t bits, std::vector<std::uint8_t> extra) {
    std::vector<std::uint8_t> out;
    auto put16 = [&](std::uint16_t v) { platform::AppendLE16(out, v); };
    auto put32 = [&](std::uint32_t v) { platform::AppendLE32(out, v); };
    put16(tag);
    put16(channels);
    put32(rate);
    put32(avgBytes);
    put16(blockAlign);
    put16(bits);
    put16(static_cast<std::uint16_t>(extra.size()));
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
}

}  // namespace

const std::vector<std::uint8_t>& DefaultLocalFormat() {
    static const auto format = waveFormat(1, 1, 8000, 8000, 1, 8, {});
    return format;
}

const std::vector<std::uint8_t>& DefaultTransportFormat() {
    static const auto format = waveFormat(49, 1, 8000, 1625, 65, 0, {0x40, 0x01});
    return format;
}

const std::vector<SettingDefault>& SettingDefaults() {
    using namespace setting;
    static const std::vector<SettingDefault> table = {
        {kOutBoxMinutes, REG_DWORD, true, 3, nullptr, {}, false},
        {kEmptyDeleted, REG_DWORD, true, 0, nullptr, {}, false},
        {kFileId, REG_DWORD, true, 0, nullptr, {}, false},
        {kDirectory, REG_DWORD, true, 0, nullptr, {}, false},
        {kTransport, REG_DWORD, true, 1, nullptr, {}, false},
        {kAddressBook, REG_DWORD, true, 1, nullptr, {}, false},
        {kQuality, REG_DWORD, true, 1, nullptr, {}, false},
        {kCompression, REG_DWORD, true, 1, nullptr, {}, true},
        {kRevision, REG_DWORD, false, 0, nullptr, {}, false},
        {kNagZip, REG_DWORD, true, 0, nullptr, {}, false},
        {kOpenPath, REG_SZ, true, 0, "*.kx0;*.kx1", {}, false},
        {kSaveAsPath, REG_SZ, true, 0, "*.wav", {}, false},
        {kOpenWavePath, REG_SZ, true, 0, "*.wav", {}, false},
        {kAolPath, REG_SZ, true, 0, "MyAOLFiles/KORRIN.%s", {}, false},
        {kName, REG_SZ, true, 0, "", {}, false},
        {kOrganization, REG_SZ, true, 0, "", {}, false},
        {kSmtpHost, REG_SZ, true, 0, "", {}, false},
        {kEmailAddress, REG_SZ, true, 0, "", {}, false},
        {kAccount, REG_SZ, true, 0, "", {}, false},
        {kPassword, REG_SZ, true, 0, "", {}, false},
        {kSmtpSecurity, REG_DWORD, true, 0, nullptr, {}, false},
        {kSmtpCaFile, REG_SZ, true, 0, "", {}, false},
        {kWaveFormat, REG_BINARY, true, 0, nullptr, DefaultLocalFormat(), false},
        {kFormatDetails, REG_SZ, true, 0, kDefaultLocalFormatText, {}, false},
        {kWaveFormatTransport, REG_BINARY, true, 0, nullptr, DefaultTransportFormat(), false},
        {kFormatDetailsTransport, REG_SZ, true, 0, kDefaultTransportFormatText, {}, false},
        {kAttachPlayableCopy, REG_DWORD, true, 1, nullptr, {}, true},
    };
    return table;
}

const SettingDefault* FindSettingDefault(std::string_view name) {
    for (const auto& d : SettingDefaults())
        if (platform::EqualsNoCase(d.name, name))
            return &d;
    return nullptr;
}

}  // namespace korrin
