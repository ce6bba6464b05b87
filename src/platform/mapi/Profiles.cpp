// Profiles in the registry database: HKEY_LOCAL_MACHINE\SOFTWARE\MAPI\Profiles\<name>.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "platform/Text.h"
#include "platform/files/Files.h"
#include "platform/mapi/Mapi.h"
#include "platform/registry/Registry.h"

namespace korrin::platform {

namespace {

const char kProfilesKey[] = "SOFTWARE\\MAPI\\Profiles";
const char kDefaultValue[] = "Default Profile";
const char kDisplayName[] = "Display Name";
const char kAddress[] = "Email Address";
const char kContacts[] = "Contacts Folder";
const char kStore[] = "Store Folder";
const char kSubmit[] = "Submit Command";
constexpr std::size_t kMaxName = 64;
constexpr DWORD kMaxValue = 4096;

std::string dataHome() {
    const char* x = std::getenv("XDG_DATA_HOME");
    if (x && *x == '/')
        return x;
    std::string home = GetHomeDirectory();
    if (home.empty())
        return {};
    return (home == "/" ? std::string() : home) + "/.local/share";
}

// A REG_SZ value; missing: "" and ERROR_FILE_NOT_FOUND.
LONG readString(HKEY key, const char* name, std::string* out) {
    out->clear();
    DWORD type = 0;
    DWORD size = 0;
    LONG rc = RegQueryValueEx(key, name, &type, nullptr, &size);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (type != REG_SZ || size > kMaxValue)
        return ERROR_FILE_NOT_FOUND;
    std::vector<std::uint8_t> data(size + 1);
    rc = RegQueryValueEx(key, name, &type, data.data(), &size);
    if (rc != ERROR_SUCCESS)
        return rc;
    out->assign(reinterpret_cast<const char*>(data.data()), size);
    while (!out->empty() && out->back() == '\0')
        out->pop_back();
    return ERROR_SUCCESS;
}

LONG writeString(HKEY key, const char* name, const std::string& value) {
    return RegSetValueEx(key, name, REG_SZ, reinterpret_cast<const std::uint8_t*>(value.data()),
                         static_cast<DWORD>(value.size()));
}

bool validName(const std::string& name) {
    if (name.empty() || name.size() > kMaxName)
        return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == '\\')
            return false;
    return true;
}

HRESULT fromRegistry(LONG rc) {
    return rc == ERROR_FILE_NOT_FOUND ? MAPI_E_NOT_FOUND : MAPI_E_CALL_FAILED;
}

std::string defaultName() {
    RegKeyGuard key;
    std::string name;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kProfilesKey, key.out()) != ERROR_SUCCESS)
        return {};
    readString(key.get(), kDefaultValue, &name);
    return name;
}

HRESULT readOne(HKEY profiles, const std::string& name, const std::string& defaultProfile,
                MapiProfile* p) {
    RegKeyGuard key;
    LONG rc = RegOpenKeyEx(profiles, name, key.out());
    if (rc != ERROR_SUCCESS)
        return fromRegistry(rc);
    *p = MapiProfile{};
    // The key's own spelling.
    std::string full;
    if (RegQueryKeyName(key.get(), &full) == ERROR_SUCCESS) {
        auto slash = full.rfind('\\');
        p->name = slash == std::string::npos ? full : full.substr(slash + 1);
    } else {
        p->name = name;
    }
    readString(key.get(), kDisplayName, &p->displayName);
    readString(key.get(), kAddress, &p->address);
    readString(key.get(), kContacts, &p->contactsDir);
    readString(key.get(), kStore, &p->storeDir);
    readString(key.get(), kSubmit, &p->submitCommand);
    if (p->contactsDir.empty())
        p->contactsDir = DefaultContactsFolder();
    if (p->storeDir.empty())
        p->storeDir = DefaultStoreFolder();
    if (p->submitCommand.empty())
        p->submitCommand = kDefaultSubmitCommand;
    p->isDefault = !defaultProfile.empty() && EqualsNoCase(defaultProfile, p->name);
    return S_OK;
}

}  // namespace

const char* const kDefaultSubmitCommand = "/usr/sbin/sendmail -t -oi";

std::string DefaultContactsFolder() {
    std::string d = dataHome();
    return d.empty() ? std::string() : d + "/korrin/contacts";
}

std::string DefaultStoreFolder() {
    std::string d = dataHome();
    return d.empty() ? std::string() : d + "/korrin/mail";
}

HRESULT ReadMapiProfile(const std::string& name, MapiProfile* profile) {
    if (!profile || !validName(name))
        return MAPI_E_NOT_FOUND;
    RegKeyGuard profiles;
    LONG rc = RegOpenKeyEx(HKEY_LOCAL_MACHINE, kProfilesKey, profiles.out());
    if (rc != ERROR_SUCCESS)
        return fromRegistry(rc);
    std::string def;
    readString(profiles.get(), kDefaultValue, &def);
    return readOne(profiles.get(), name, def, profile);
}

HRESULT ReadDefaultMapiProfile(MapiProfile* profile) {
    std::string name = defaultName();
    if (name.empty())
        return MAPI_E_NOT_FOUND;
    return ReadMapiProfile(name, profile);
}

HRESULT ListMapiProfiles(std::vector<MapiProfile>* list) {
    if (!list)
        return MAPI_E_INVALID_PARAMETER;
    list->clear();
    RegKeyGuard profiles;
    LONG rc = RegOpenKeyEx(HKEY_LOCAL_MACHINE, kProfilesKey, profiles.out());
    if (rc == ERROR_FILE_NOT_FOUND)
        return S_OK;
    if (rc != ERROR_SUCCESS)
        return MAPI_E_CALL_FAILED;
    std::string def;
    readString(profiles.get(), kDefaultValue, &def);
    for (DWORD i = 0;; ++i) {
        std::string name;
        rc = RegEnumKey(profiles.get(), i, &name);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc != ERROR_SUCCESS)
            return MAPI_E_CALL_FAILED;
        MapiProfile p;
        if (SUCCEEDED(readOne(profiles.get(), name, def, &p)))
            list->push_back(std::move(p));
    }
    return S_OK;
}

HRESULT WriteMapiProfile(const MapiProfile& p) {
    if (!validName(p.name))
        return MAPI_E_INVALID_PARAMETER;
    for (const std::string* v :
         {&p.displayName, &p.address, &p.contactsDir, &p.storeDir, &p.submitCommand})
        if (v->size() > kMaxValue || v->find('\0') != std::string::npos ||
            v->find_first_of("\r\n") != std::string::npos)
            return MAPI_E_INVALID_PARAMETER;
    RegKeyGuard profiles;
    if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, kProfilesKey, profiles.out()) != ERROR_SUCCESS)
        return MAPI_E_CALL_FAILED;
    RegKeyGuard key;
    if (RegCreateKeyEx(profiles.get(), p.name, key.out()) != ERROR_SUCCESS)
        return MAPI_E_CALL_FAILED;
    const std::pair<const char*, const std::string*> values[] = {{kDisplayName, &p.displayName},
                                                                 {kAddress, &p.address},
                                                                 {kContacts, &p.contactsDir},
                                                                 {kStore, &p.storeDir},
                                                                 {kSubmit, &p.submitCommand}};
    for (const auto& [name, value] : values)
        if (writeString(key.get(), name, *value) != ERROR_SUCCESS)
            return MAPI_E_CALL_FAILED;
    if (p.isDefault && writeString(profiles.get(), kDefaultValue, p.name) != ERROR_SUCCESS)
        return MAPI_E_CALL_FAILED;
    return S_OK;
}

HRESULT DeleteMapiProfile(const std::string& name) {
    if (!validName(name))
        return MAPI_E_NOT_FOUND;
    RegKeyGuard profiles;
    LONG rc = RegOpenKeyEx(HKEY_LOCAL_MACHINE, kProfilesKey, profiles.out());
    if (rc != ERROR_SUCCESS)
        return fromRegistry(rc);
    rc = RegDeleteTree(profiles.get(), name);
    if (rc != ERROR_SUCCESS)
        return fromRegistry(rc);
    std::string def;
    if (readString(profiles.get(), kDefaultValue, &def) == ERROR_SUCCESS && EqualsNoCase(def, name))
        RegDeleteValue(profiles.get(), kDefaultValue);
    return S_OK;
}

HRESULT SetDefaultMapiProfile(const std::string& name) {
    MapiProfile p;
    HRESULT hr = ReadMapiProfile(name, &p);
    if (FAILED(hr))
        return hr;
    RegKeyGuard profiles;
    if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, kProfilesKey, profiles.out()) != ERROR_SUCCESS)
        return MAPI_E_CALL_FAILED;
    return writeString(profiles.get(), kDefaultValue, p.name) == ERROR_SUCCESS ? S_OK
                                                                               : MAPI_E_CALL_FAILED;
}

}  // namespace korrin::platform
