// Small integer types and result codes shared by the platform layers. They carry the
// Windows names because the rest of the program reports failures by those names
// ("RegOpenKeyEx failed") and returns the same codes.
#pragma once

#include <cstdint>

namespace korrin::platform {

using DWORD = std::uint32_t;
using LONG = long;
using BOOL = int;

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_BADDB = 1009;
constexpr LONG ERROR_CANTOPEN = 1011;
constexpr LONG ERROR_CANTREAD = 1012;
constexpr LONG ERROR_CANTWRITE = 1013;
constexpr LONG ERROR_KEY_DELETED = 1018;

}  // namespace korrin::platform
