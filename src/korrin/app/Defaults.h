// Every setting the program keeps, with its type and the value that applies while it is
// missing: the one table the rest of the program takes its defaults from.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/registry/Registry.h"

namespace korrin {

using platform::DWORD;

// Under HKEY_LOCAL_MACHINE: every setting the program writes.
inline constexpr const char* kKorrinKey = "SOFTWARE\\Quillion\\Korrin";
// Written by the installation only; holds InstallDir.
inline constexpr const char* kInstallKey = "SOFTWARE\\Quillion\\Quillion EMail for Windows (tm)";
inline constexpr const char* kInstallDirValue = "InstallDir";
inline constexpr DWORD kInstallDirBytes = 260;

namespace setting {
inline constexpr const char* kOutBoxMinutes = "OutBox Minutes";
inline constexpr const char* kEmptyDeleted = "Empty Deleted";
inline constexpr const char* kFileId = "File ID";
inline constexpr const char* kDirectory = "Directory";
inline constexpr const char* kTransport = "Transport";
inline constexpr const char* kAddressBook = "Address Book";
inline constexpr const char* kQuality = "Quality";
inline constexpr const char* kCompression = "Compression";
inline constexpr const char* kRevision = "Revision";
inline constexpr const char* kNagZip = "Nag Zip";
inline constexpr const char* kOpenPath = "Open Path";
inline constexpr const char* kSaveAsPath = "SaveAs Path";
inline constexpr const char* kOpenWavePath = "Open Wave Path";
inline constexpr const char* kAolPath = "AOL Path";
inline constexpr const char* kName = "Name";
inline constexpr const char* kOrganization = "Organization";
inline constexpr const char* kSmtpHost = "SMTP Host";
inline constexpr const char* kEmailAddress = "Email Address";
inline constexpr const char* kAccount = "Account";
inline constexpr const char* kPassword = "Password";
// 0 plain text (HELO, no login), 1 STARTTLS, 2 TLS from the start.
inline constexpr const char* kSmtpSecurity = "SMTP Security";
// A PEM file of certificates trusted for the SMTP server instead of the system's store.
inline constexpr const char* kSmtpCaFile = "SMTP CA File";
inline constexpr const char* kWaveFormat = "Wave Format";
inline constexpr const char* kFormatDetails = "Format Details";
inline constexpr const char* kWaveFormatTransport = "Wave Format Transport";
inline constexpr const char* kFormatDetailsTransport = "Format Details Transport";
// 1: an Ogg Opus copy of the audio goes with every mail, beside the message file; 0: none.
inline constexpr const char* kAttachPlayableCopy = "Attach Playable Copy";
}  // namespace setting

struct SettingDefault {
    const char* name;
    DWORD type;                       // REG_DWORD, REG_SZ or REG_BINARY
    bool hasDefault;                  // false: a missing value means "not set" (Revision)
    DWORD dword;                      // REG_DWORD
    const char* text;                 // REG_SZ; for AOL Path relative to the home folder
    std::vector<std::uint8_t> bytes;  // REG_BINARY
    bool storeWhenMissing;            // the default is written back when the value is missing
};

const std::vector<SettingDefault>& SettingDefaults();
// Names compare without regard to case, as the registry does. Null for an unknown name.
const SettingDefault* FindSettingDefault(std::string_view name);

// The two stored wave formats: PCM 8,000 Hz 8 bit mono, and GSM 6.10 8,000 Hz mono (65-byte
// blocks of 320 samples), as little-endian wave format structures.
const std::vector<std::uint8_t>& DefaultLocalFormat();
const std::vector<std::uint8_t>& DefaultTransportFormat();
inline constexpr const char* kDefaultLocalFormatText = "PCM 8,000 Hz, 8 Bit, Mono";
inline constexpr const char* kDefaultTransportFormatText = "GSM 6.10 8,000 Hz, Mono";

}  // namespace korrin
