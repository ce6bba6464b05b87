#include "tolvlink/Utils.h"

#include "korrin/app/Utils.h"
#include "platform/registry/Registry.h"

namespace korrin::tolvlink {

using namespace platform;

namespace {

bool openable(const std::string& key, SourceLocation where = SourceLocation::current()) {
    RegKeyGuard guard;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, key, guard.out()) == ERROR_SUCCESS)
        return true;
    LibraryReport().Report("RegOpenKeyEx failed", ModuleName(where.file_name()), where.line());
    return false;
}

}  // namespace

int GetRegistryString(const std::string& key, const std::string& name, std::string& out,
                      DWORD bufferSize) {
    out.clear();
    return openable(key) ? CUtils().GetRegistryString(key, name, out, bufferSize) : 0;
}

int GetRegistryDword(const std::string& key, const std::string& name, DWORD& out) {
    return openable(key) ? CUtils().GetRegistryDword(key, name, out) : 0;
}

int SetRegistryDword(const std::string& key, const std::string& name, DWORD value) {
    return openable(key) ? CUtils().SetRegistryDword(key, name, value) : 0;
}

int SetRegistryString(const std::string& key, const std::string& name, const std::string& text) {
    return openable(key) ? CUtils().SetRegistryString(key, name, text) : 0;
}

}  // namespace korrin::tolvlink
