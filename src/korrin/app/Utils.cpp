#include "korrin/app/Utils.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "korrin/app/EventReport.h"
#include "platform/Endian.h"
#include "platform/files/Files.h"

namespace korrin {

using namespace platform;

namespace {

// Opens a key under HKEY_LOCAL_MACHINE, reporting when it cannot be opened. The report names
// the line of the routine that asked, not this helper's.
bool openReported(const std::string& subKey, RegKeyGuard& key,
                  SourceLocation where = SourceLocation::current()) {
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, subKey, key.out()) == ERROR_SUCCESS)
        return true;
    CEventReport().Report("RegOpenKeyEx failed", where.file_name(), where.line());
    return false;
}

}  // namespace

int CUtils::GetRegistryString(const std::string& subKey, const std::string& valueName,
                              std::string& out, DWORD bufferSize) {
    out.clear();
    RegKeyGuard key;
    if (!openReported(subKey, key))
        return 0;
    // Not even the terminating zero fits.
    if (bufferSize == 0)
        return 0;
    std::vector<std::uint8_t> buffer(bufferSize);
    DWORD type = 0;
    DWORD size = bufferSize;
    if (RegQueryValueEx(key.get(), valueName, &type, buffer.data(), &size) != ERROR_SUCCESS)
        return 0;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return 0;
    auto end = buffer.begin() + size;
    auto nul = std::find(buffer.begin(), end, 0);
    // The text is stored without its terminating zero; it must still leave room for one.
    if (nul == end && size >= bufferSize)
        return 0;
    out.assign(buffer.begin(), nul);
    return 1;
}

int CUtils::GetRegistryDword(const std::string& subKey, const std::string& valueName, DWORD& out) {
    return readDword(subKey, valueName, out, nullptr);
}

// rc, when given, receives the query's result, so that a caller can tell a missing value from
// one that could not be read.
int CUtils::readDword(const std::string& subKey, const std::string& valueName, DWORD& out,
                      LONG* rc) {
    RegKeyGuard key;
    if (!openReported(subKey, key))
        return 0;
    std::uint8_t bytes[4];
    DWORD type = 0;
    DWORD size = sizeof bytes;
    const LONG r = RegQueryValueEx(key.get(), valueName, &type, bytes, &size);
    if (rc)
        *rc = r;
    if (r != ERROR_SUCCESS) {
        // A missing value, or one too large to be a DWORD, is simply not there; anything else
        // (a damaged database, a lock that was never released) is worth telling.
        if (r != ERROR_FILE_NOT_FOUND && r != ERROR_MORE_DATA)
            KORRIN_REPORT("RegQueryValueEx failed");
        return 0;
    }
    if (type != REG_DWORD || size != 4) {
        // Not a DWORD: as good as missing, and replaced by the default where one is stored.
        if (rc)
            *rc = ERROR_FILE_NOT_FOUND;
        return 0;
    }
    out = LoadLE32(bytes);
    return 1;
}

int CUtils::SetRegistryDword(const std::string& subKey, const std::string& valueName, DWORD value) {
    RegKeyGuard key;
    if (!openReported(subKey, key))
        return 0;
    std::uint8_t bytes[4];
    StoreLE32(bytes, value);
    return RegSetValueEx(key.get(), valueName, REG_DWORD, bytes, 4) == ERROR_SUCCESS ? 1 : 0;
}

int CUtils::SetRegistryString(const std::string& subKey, const std::string& valueName,
                              const std::string& text) {
    RegKeyGuard key;
    if (!openReported(subKey, key))
        return 0;
    return RegSetValueEx(key.get(), valueName, REG_SZ,
                         reinterpret_cast<const std::uint8_t*>(text.data()),
                         static_cast<DWORD>(text.size())) == ERROR_SUCCESS
               ? 1
               : 0;
}

int CUtils::NextFileID(DWORD& out) {
    RegKeyGuard key;
    if (!openReported(kKorrinKey, key))
        return 1;
    // Read, wrap and write back in one transaction: the worker and the user-interface thread,
    // or two copies of the program, never hand out the same number.
    DWORD next = 0;
    LONG rc = RegUpdateDword(
        key.get(), setting::kFileId,
        [](std::optional<DWORD> last) {
            DWORD n = last.value_or(0);
            // At or past the limit (a value set by hand, or the last number handed out) the
            // count starts again at 1.
            if (n >= kFileIdLimit)
                n = 0;
            return n + 1;
        },
        &next);
    if (rc != ERROR_SUCCESS) {
        KORRIN_REPORT("RegSetValueEx failed");
        return 1;
    }
    out = next;
    return 0;
}

int CUtils::MakeUniqueDirectory(std::string& out, const std::string& prefix) {
    DWORD number = 1;
    RegKeyGuard key;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, key.out()) == ERROR_SUCCESS) {
        RegUpdateDword(
            key.get(), setting::kDirectory,
            [](std::optional<DWORD> last) { return last.value_or(0) + 1; }, &number);
    }
    key.reset();
    out = prefix + std::to_string(number);
    return platform::CreateDirectory(out) ? 0 : 1;
}

DWORD CUtils::GetSettingDword(const char* name) {
    const SettingDefault* d = FindSettingDefault(name);
    DWORD value = d ? d->dword : 0;
    LONG rc = ERROR_SUCCESS;
    // The default is stored only over a value that is really missing, never over one that
    // could not be read this time.
    if (!readDword(kKorrinKey, name, value, &rc) && d && d->storeWhenMissing &&
        rc == ERROR_FILE_NOT_FOUND)
        SetRegistryDword(kKorrinKey, name, d->dword);
    return value;
}

std::string CUtils::GetSettingString(const char* name, DWORD bufferSize) {
    std::string value;
    if (GetRegistryString(kKorrinKey, name, value, bufferSize))
        return value;
    const SettingDefault* d = FindSettingDefault(name);
    if (!d || !d->text)
        return {};
    if (std::strcmp(d->name, setting::kAolPath) == 0) {
        return GetHomeDirectory() + "/" + d->text;
    }
    return d->text;
}

std::vector<std::uint8_t> CUtils::GetSettingBinary(const char* name) {
    const SettingDefault* d = FindSettingDefault(name);
    RegKeyGuard key;
    if (openReported(kKorrinKey, key)) {
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueEx(key.get(), name, &type, nullptr, &size) == ERROR_SUCCESS &&
            type == REG_BINARY) {
            std::vector<std::uint8_t> bytes(size);
            if (RegQueryValueEx(key.get(), name, &type, bytes.data(), &size) == ERROR_SUCCESS) {
                bytes.resize(size);
                return bytes;
            }
        }
    }
    return d ? d->bytes : std::vector<std::uint8_t>{};
}

}  // namespace korrin
