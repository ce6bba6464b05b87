// korrinctl mapi profile | outbox: the messaging profiles and the Outbox of their stores.
#include <ostream>
#include <string>
#include <vector>

#include "platform/mapi/Mapi.h"
#include "tools/Area.h"
#include "tools/MapiArea.h"

namespace korrin::tools {

namespace {

using namespace korrin::platform;

constexpr int kExitNotAllSent = 1;
constexpr int kExitBusy = 4;

const char kProfileUsage[] =
    R"(korrinctl mapi profile add NAME --name N --address A [--contacts DIR] [--store DIR]
                          [--submit CMD] [--default]
    Create or replace a profile: the identity (name and address), the vCard folder of its
    address book, the Maildir of its store and the command its mail is handed to (default
    "/usr/sbin/sendmail -t -oi"). --default (or being the first profile) makes it the default.
korrinctl mapi profile list
    One line per profile: NAME, "default" or "", name, address, contacts, store, submit
    command, separated by TABs.
korrinctl mapi profile remove NAME
    Remove a profile; its folders are kept.
)";

const char kOutboxUsage[] =
    R"(korrinctl mapi outbox list
    One line per message waiting in the profile's Outbox: FILE, date, To, subject (TABs).
korrinctl mapi outbox flush
    Hand every Outbox message to the submit command now; what it took goes to Sent. Prints
    "sent N, failed N, left N". Exit status: 0 when the Outbox is empty afterwards, 1 when
    messages are left, 3 when the store cannot be used, 4 when another process is sending.
)";

// The profile a command works on: --profile, else the default one.
int findProfile(const std::string& name, MapiProfile* p, std::ostream& err) {
    HRESULT hr = name.empty() ? ReadDefaultMapiProfile(p) : ReadMapiProfile(name, p);
    if (hr == MAPI_E_NOT_FOUND) {
        if (name.empty())
            err << "korrinctl mapi: there is no default profile (use --profile P)\n";
        else
            err << "korrinctl mapi: no profile '" << name << "'\n";
        return kExitNotFound;
    }
    if (FAILED(hr)) {
        err << "korrinctl mapi: the registry cannot be read\n";
        return kExitFailed;
    }
    return kExitOk;
}

int profileAdd(const std::vector<std::string>& args, std::ostream& err) {
    if (args.size() < 2) {
        err << kProfileUsage;
        return kExitUsage;
    }
    MapiProfile p;
    p.name = args[1];
    bool haveName = false, haveAddress = false;
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--default") {
            p.isDefault = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            err << kProfileUsage;
            return kExitUsage;
        }
        const std::string& v = args[++i];
        if (a == "--name") {
            p.displayName = v;
            haveName = true;
        } else if (a == "--address") {
            p.address = v;
            haveAddress = true;
        } else if (a == "--contacts") {
            p.contactsDir = v;
        } else if (a == "--store") {
            p.storeDir = v;
        } else if (a == "--submit") {
            p.submitCommand = v;
        } else {
            err << kProfileUsage;
            return kExitUsage;
        }
    }
    if (!haveName || !haveAddress || p.address.find('@') == std::string::npos) {
        err << "korrinctl mapi profile add: --name and --address (with an @) are needed\n";
        return kExitUsage;
    }
    for (const std::string* dir : {&p.contactsDir, &p.storeDir})
        if (!dir->empty() && (*dir)[0] != '/') {
            err << "korrinctl mapi profile add: folders are given as absolute paths\n";
            return kExitUsage;
        }
    MapiProfile any;
    if (ReadDefaultMapiProfile(&any) == MAPI_E_NOT_FOUND)
        p.isDefault = true;
    HRESULT hr = WriteMapiProfile(p);
    if (hr == MAPI_E_INVALID_PARAMETER) {
        err << "korrinctl mapi profile add: a name or value is not allowed (empty, too long, a "
               "backslash or a line break)\n";
        return kExitUsage;
    }
    if (FAILED(hr)) {
        err << "korrinctl mapi profile add: the registry cannot be written\n";
        return kExitFailed;
    }
    return kExitOk;
}

int runProfile(const std::vector<std::string>& args, const std::string&, std::ostream& out,
               std::ostream& err) {
    if (args.empty()) {
        err << kProfileUsage;
        return kExitUsage;
    }
    if (args[0] == "add")
        return profileAdd(args, err);
    if (args[0] == "list" && args.size() == 1) {
        std::vector<MapiProfile> list;
        if (FAILED(ListMapiProfiles(&list))) {
            err << "korrinctl mapi profile list: the registry cannot be read\n";
            return kExitFailed;
        }
        for (const auto& p : list)
            out << p.name << '\t' << (p.isDefault ? "default" : "") << '\t' << p.displayName << '\t'
                << p.address << '\t' << p.contactsDir << '\t' << p.storeDir << '\t'
                << p.submitCommand << '\n';
        return kExitOk;
    }
    if (args[0] == "remove" && args.size() == 2) {
        HRESULT hr = DeleteMapiProfile(args[1]);
        if (hr == MAPI_E_NOT_FOUND) {
            err << "korrinctl mapi profile remove: no profile '" << args[1] << "'\n";
            return kExitNotFound;
        }
        if (FAILED(hr)) {
            err << "korrinctl mapi profile remove: the registry cannot be written\n";
            return kExitFailed;
        }
        return kExitOk;
    }
    err << kProfileUsage;
    return kExitUsage;
}

std::string oneLine(std::string s) {
    for (char& c : s)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return s;
}

int runOutbox(const std::vector<std::string>& args, const std::string& profileName,
              std::ostream& out, std::ostream& err) {
    if (args.size() != 1 || (args[0] != "list" && args[0] != "flush")) {
        err << kOutboxUsage;
        return kExitUsage;
    }
    MapiProfile p;
    if (int rc = findProfile(profileName, &p, err); rc != kExitOk)
        return rc;
    if (args[0] == "list") {
        std::vector<FolderEntry> entries;
        if (FAILED(ListMapiFolder(p, "Outbox", &entries))) {
            err << "korrinctl mapi outbox list: the store cannot be read\n";
            return kExitFailed;
        }
        for (const auto& e : entries)
            out << e.path << '\t' << oneLine(e.date) << '\t' << oneLine(e.to) << '\t'
                << oneLine(e.subject) << '\n';
        return kExitOk;
    }
    SpoolResult r;
    if (FAILED(SpoolOutbox(p, &r))) {
        err << "korrinctl mapi outbox flush: the store " << p.storeDir << " cannot be used\n";
        return kExitFailed;
    }
    if (r.locked) {
        err << "korrinctl mapi outbox flush: another process is sending from this Outbox\n";
        return kExitBusy;
    }
    out << "sent " << r.sent << ", failed " << r.failed << ", left " << r.left << "\n";
    return r.left == 0 ? kExitOk : kExitNotAllSent;
}

const MapiCommandRegistration profileCommand({10, "profile", kProfileUsage, runProfile});
const MapiCommandRegistration outboxCommand({20, "outbox", kOutboxUsage, runOutbox});

}  // namespace

}  // namespace korrin::tools
