// The settings routines and the two counters kept in the registry. CUtils holds no state:
// every caller makes one where it needs it. Each routine opens the key afresh, does one read
// or write and closes it again, so a setting is always read at the moment of use.
//
// Safe from any thread. The counters are atomic across threads and processes: two callers
// never get the same number.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "korrin/app/Defaults.h"

namespace korrin {

class CUtils {
  public:
    // subKey is relative to HKEY_LOCAL_MACHINE. 1 on success, 0 on failure; a key that cannot
    // be opened is reported as "RegOpenKeyEx failed", a missing value is not reported.

    // out holds the text (without terminating zero); on failure it is empty. A text that does
    // not fit bufferSize bytes with its terminating zero counts as unreadable.
    int GetRegistryString(const std::string& subKey, const std::string& valueName, std::string& out,
                          DWORD bufferSize);
    // On failure out keeps its value. A value that is not a 4-byte DWORD counts as missing.
    int GetRegistryDword(const std::string& subKey, const std::string& valueName, DWORD& out);
    int SetRegistryDword(const std::string& subKey, const std::string& valueName, DWORD value);
    // REG_SZ stored as the text's bytes without a terminating zero.
    int SetRegistryString(const std::string& subKey, const std::string& valueName,
                          const std::string& text);

    // 0 with out holding the next number (1 .. 10,000,000, then 1 again); 1 when the key
    // cannot be opened or the counter cannot be written.
    int NextFileID(DWORD& out);

    // Makes the folder prefix + the next Directory number. 0 when it was created, 1 when not;
    // out holds the path either way.
    int MakeUniqueDirectory(std::string& out, const std::string& prefix);

    // The program's own settings under its key, with the table's default while missing (a
    // setting marked so stores its default at once). A name outside the table reads as 0 /
    // empty.
    DWORD GetSettingDword(const char* name);
    std::string GetSettingString(const char* name, DWORD bufferSize = 260);
    std::vector<std::uint8_t> GetSettingBinary(const char* name);

  private:
    int readDword(const std::string& subKey, const std::string& valueName, DWORD& out,
                  platform::LONG* rc);
};

inline constexpr DWORD kFileIdLimit = 10000000;

}  // namespace korrin
