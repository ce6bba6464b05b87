// The library's four settings routines: those of the program's core, with the library's own
// report ("RegOpenKeyEx failed", from this module, under the library's product label) when the
// key cannot be opened. 1 on success, 0 on failure.
#pragma once

#include <string>

#include "korrin/app/EventReport.h"
#include "korrin/app/Vendor.h"
#include "platform/Win32Types.h"

namespace korrin::tolvlink {

int GetRegistryString(const std::string& key, const std::string& name, std::string& out,
                      platform::DWORD bufferSize);
int GetRegistryDword(const std::string& key, const std::string& name, platform::DWORD& out);
int SetRegistryDword(const std::string& key, const std::string& name, platform::DWORD value);
int SetRegistryString(const std::string& key, const std::string& name, const std::string& text);

// The library's event report and error message (product label "Quillion EMail(tm) Mapi
// support"); the report names the calling module and line.
inline CEventReport LibraryReport() {
    return CEventReport(vendor::kLibraryProductLabel);
}

}  // namespace korrin::tolvlink

#define TOLVLINK_REPORT(message)                          \
    ::korrin::tolvlink::LibraryReport().Report((message), \
                                               ::korrin::platform::ModuleName(__FILE__), __LINE__)
