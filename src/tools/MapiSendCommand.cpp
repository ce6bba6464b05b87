// korrinctl mapi send: a message file handed to the messaging layer's Outbox through the MAPI
// support library, by the same calls the program's Send makes. The file stays where it is.
#include <ostream>
#include <string>
#include <vector>

#include "korrin/app/Defaults.h"
#include "korrin/app/Utils.h"
#include "korrin/mail/TolvlinkBinding.h"
#include "platform/dynlib/DynLib.h"
#include "platform/mapi/Mapi.h"
#include "platform/registry/Registry.h"
#include "tools/Area.h"
#include "tools/MapiArea.h"

namespace korrin::tools {

namespace {

// The library keeps its profile choice under the key it is given: the command line has its
// own, so the program's choice is never touched and no dialog is ever asked for.
constexpr const char* kCommandLineKey = "SOFTWARE\\Quillion\\Korrin\\Command Line";

const char kMapiSendUsage[] =
    R"(korrinctl mapi send --to T [--cc C] [--bcc B] --subject S FILE
    Hand the message file FILE to the profile's Outbox as an attachment, with the recipients
    T, C and B (separated by ",", ";" or TAB; names are resolved in the profile's contacts).
    FILE is neither changed nor removed. Exit status 0 only when the message is in the
    Outbox; 3 when it is not (the reason is on standard error).
)";

int runMapiSend(const std::vector<std::string>& args, const std::string& profile, std::ostream& out,
                std::ostream& err) {
    std::string to, cc, bcc, subject, file;
    bool haveSubject = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size())
                return false;
            into = args[++i];
            return true;
        };
        bool ok = true;
        if (a == "--help" || a == "-h") {
            out << kMapiSendUsage;
            return kExitOk;
        } else if (a == "--to") {
            ok = value(to);
        } else if (a == "--cc") {
            ok = value(cc);
        } else if (a == "--bcc") {
            ok = value(bcc);
        } else if (a == "--subject") {
            ok = haveSubject = value(subject);
        } else if (a.rfind("--", 0) == 0 || !file.empty()) {
            ok = false;
        } else {
            file = a;
        }
        if (!ok) {
            err << kMapiSendUsage;
            return kExitUsage;
        }
    }
    if (to.empty() || !haveSubject || file.empty()) {
        err << kMapiSendUsage;
        return kExitUsage;
    }

    CUtils utils;
    {
        platform::RegKeyGuard key;
        if (platform::RegCreateKeyEx(platform::HKEY_LOCAL_MACHINE, kCommandLineKey, key.out()) !=
                platform::ERROR_SUCCESS ||
            !utils.SetRegistryDword(kCommandLineKey, "Prompt Profile", 0) ||
            !utils.SetRegistryString(kCommandLineKey, "Profile", profile)) {
            err << "korrinctl mapi send: the settings cannot be written\n";
            return kExitFailed;
        }
    }
    CTolvlinkBinding mapi(nullptr);
    if (mapi.Load() != 0) {
        err << "korrinctl mapi send: the MAPI support library cannot be used: "
            << platform::DynLibLastError() << "\n";
        return kExitFailed;
    }
    mapi.StartTolvlink(kCommandLineKey, nullptr);
    std::vector<char> texts[3];
    const std::string* fields[3] = {&to, &cc, &bcc};
    for (int i = 0; i < 3; ++i)
        texts[i].assign(fields[i]->c_str(), fields[i]->c_str() + fields[i]->size() + 1);
    mapi.FixMapiAdrList(texts[0].data(), texts[1].data(), texts[2].data());
    const std::int32_t rc = mapi.SendMapiTolvMessage(subject.c_str(), "", file.c_str());
    // The logon's pass over the Outbox runs on; the process waits for it before it ends.
    platform::WaitForSpooler();
    if (rc != 0) {
        err << "korrinctl mapi send: not handed over (0x" << std::hex
            << static_cast<std::uint32_t>(rc) << std::dec << ")\t" << file << "\n";
        return kExitFailed;
    }
    out << "handed over\t" << file << "\n";
    return kExitOk;
}

const MapiCommandRegistration kRegistration({30, "send", kMapiSendUsage, runMapiSend});

}  // namespace

}  // namespace korrin::tools
