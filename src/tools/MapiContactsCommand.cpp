// korrinctl mapi contacts [TEXT]: the profile's address book, one row per contact and
// address, as contacts programs print them for scripts and mail programs:
// "address<TAB>name<TAB>kind" (an address of no kind is an "internet" one). Files that were skipped
// are named on stderr.
#include <ostream>
#include <string>
#include <vector>

#include "platform/mapi/Contacts.h"
#include "platform/mapi/Mapi.h"
#include "tools/Area.h"
#include "tools/MapiArea.h"

namespace korrin::tools {
namespace {

// The folder of the named profile, else of the default profile, else the default folder.
bool ContactsFolderOf(const std::string& profileName, std::string* folder, std::ostream& err) {
    platform::MapiProfile profile;
    if (!profileName.empty()) {
        const platform::HRESULT hr = platform::ReadMapiProfile(profileName, &profile);
        if (hr != platform::S_OK) {
            err << "korrinctl mapi contacts: profile '" << profileName << "' cannot be read ("
                << (hr == platform::MAPI_E_NOT_FOUND ? "no such profile" : "registry") << ")\n";
            return false;
        }
    } else if (platform::ReadDefaultMapiProfile(&profile) != platform::S_OK) {
        profile.contactsDir.clear();
    }
    *folder = profile.contactsDir.empty() ? platform::DefaultContactsFolder() : profile.contactsDir;
    return true;
}

int runContacts(const std::vector<std::string>& args, const std::string& profile, std::ostream& out,
                std::ostream& err) {
    if (args.size() > 1 || (args.size() == 1 && args[0].rfind("--", 0) == 0)) {
        err << "usage: korrinctl mapi contacts [TEXT] [--profile P]\n";
        return kExitUsage;
    }
    std::string folderPath;
    if (!ContactsFolderOf(profile, &folderPath, err))
        return kExitFailed;
    platform::mapi::ContactFolder folder(folderPath);
    folder.Refresh();
    for (const auto& s : folder.Skipped())
        err << "korrinctl mapi contacts: skipped " << folderPath << "/" << s.file << ": "
            << s.reason << "\n";
    const auto rows = folder.Search(args.empty() ? std::string() : args[0]);
    for (const auto* e : rows)
        out << e->address << '\t' << e->name << '\t' << (e->type.empty() ? "internet" : e->type)
            << '\n';
    return rows.empty() ? kExitNotFound : kExitOk;
}

const MapiCommandRegistration registration({40, "contacts",
                                            "korrinctl mapi contacts [TEXT]\n"
                                            "    The address book's contacts whose name, "
                                            "nickname or address holds TEXT:\n"
                                            "    address, name and kind, separated by TABs.\n",
                                            runContacts});

}  // namespace
}  // namespace korrin::tools
