// The text forms of registry names and data: what a user types on korrinctl's command line,
// and the lines of a .reg export. Pure functions without the registry itself, so that the
// fuzz targets can drive them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Win32Types.h"

namespace korrin::tools {

using platform::DWORD;

enum class RegRoot { LocalMachine, ClassesRoot };

struct RegKeyName {
    RegRoot root = RegRoot::LocalMachine;
    std::vector<std::string> path;  // components below the root, empty ones dropped
};

// "HKLM\SOFTWARE\x", "HKEY_CLASSES_ROOT\.wav", ... (roots in any case). On failure *error
// says why, in words for the user.
std::optional<RegKeyName> ParseRegKeyName(std::string_view text, std::string* error);

// A control character (CR, LF, TAB, NUL, ...) in a name would break the lines of a .reg file.
bool RegNameHasControl(std::string_view name);

// Whether two key or value names are the same to the registry (ASCII letters in any case).
bool SameRegName(std::string_view a, std::string_view b);

// "HKEY_LOCAL_MACHINE" or "HKEY_CLASSES_ROOT".
const char* RegRootName(RegRoot root);
// The path joined with '\' (empty for the root itself).
std::string JoinRegPath(const std::vector<std::string>& path);
// "HKEY_LOCAL_MACHINE\SOFTWARE\x".
std::string FullRegKeyName(const RegKeyName& key);

// REG_SZ, REG_DWORD or REG_BINARY, in any case.
std::optional<DWORD> ParseRegType(std::string_view text);
// "REG_SZ" and the like; for a type without a name "REG_0x<n>".
std::string RegTypeName(DWORD type);

// Decimal or 0x-hex, 0 to 4294967295, nothing else around it.
std::optional<DWORD> ParseRegDword(std::string_view text);
// Hex bytes, "01,00,ff" (one or two digits each, blanks around commas allowed) or "0100ff";
// "" is no bytes.
std::optional<std::vector<std::uint8_t>> ParseRegHex(std::string_view text);

// .reg export: "text" with '\' and '"' escaped.
std::string RegFileQuote(std::string_view text);
// One value as .reg lines (`"Name"=...` or `@=...`), ending in '\n'. Long hex data is
// wrapped at 80 columns with "\" and a two-blank indent, as the Windows editor writes it.
std::string RegFileValue(const std::string& name, DWORD type,
                         const std::vector<std::uint8_t>& data);

}  // namespace korrin::tools
