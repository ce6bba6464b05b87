// The library's ten exports: plain functions found by name, each returning a 32-bit result.
// Nothing else of the library is visible (see exports.map).
#include <QComboBox>

#include <cstring>
#include <type_traits>

#include "korrin/mail/MapiMail.h"
#include "korrin/mail/TolvlinkBinding.h"
#include "platform/mapi/VCardAddrBook.h"
#include "platform/ui/AddressDlg.h"
#include "tolvlink/Send.h"
#include "tolvlink/Session.h"
#include "tolvlink/Utils.h"

using namespace korrin;
using namespace korrin::tolvlink;

namespace {

// Failed submissions reach the user as the library's reports (from the spooler's thread).
void reportSpool(const std::string& text) {
    LibraryReport().Report(text, "Send", __LINE__);
}

// Once loaded, the library gives the messaging layer its list of profiles, the program's mail
// writer, the contacts' address book with its dialog, and its reports.
struct Registration {
    Registration() {
        InstallProfilePrompt();
        InstallMapiMailWriter();
        platform::mapi::InstallVCardAddrBook();
        platform::InstallAddressDialog();
        SetSpoolReporter(&reportSpool);
    }
} g_registration;

}  // namespace

#define TOLVLINK_EXPORT extern "C" __attribute__((visibility("default")))

TOLVLINK_EXPORT std::int32_t StartTolvlink(const char* key, QWidget* window) {
    // The session lives for the rest of the run; a later start replaces the pointer only.
    auto* session = new CMapiSession;
    SetCurrentSession(session);
    session->Start(key ? key : "", window);
    return 0;
}

TOLVLINK_EXPORT std::int32_t GetMapiIdentity(char** name, char** address) {
    CMapiSession* s = CurrentSession();
    if (!s)
        return MAPI_E_NOT_INITIALIZED;
    return SessionIdentity(*s, name ? *name : nullptr, address ? *address : nullptr);
}

TOLVLINK_EXPORT std::int32_t GetMapiProfile(const char* key) {
    CMapiSession temporary;
    temporary.SetKey(key ? key : "");
    temporary.ChooseProfile(false);
    return 0;
}

TOLVLINK_EXPORT std::int32_t GetProfileNames(QWidget* combo) {
    return FillProfileNames(qobject_cast<QComboBox*>(combo));
}

TOLVLINK_EXPORT std::int32_t GetDisplayName(QWidget* window, const char* profile,
                                            const char* password, char* name, char* address) {
    return LookUpDisplayName(window, profile, password, name, address);
}

TOLVLINK_EXPORT std::int32_t FixMapiAdrList(char* to, char* cc, char* bcc) {
    if (CMapiSession* s = CurrentSession())
        FixAddressList(*s, to, cc, bcc);
    return 0;
}

TOLVLINK_EXPORT std::int32_t GetMapiAddress(QWidget* window, int idTo, int idCc, int idBcc) {
    if (CMapiSession* s = CurrentSession())
        ShowAddressDialog(*s, window, idTo, idCc, idBcc);
    return 0;
}

TOLVLINK_EXPORT std::int32_t ProcessMapiAdrList(char** toNames, char** toAddresses, char** ccNames,
                                                char** ccAddresses, char** bccNames,
                                                char** bccAddresses) {
    char** lists[6] = {toNames, toAddresses, ccNames, ccAddresses, bccNames, bccAddresses};
    if (CMapiSession* s = CurrentSession())
        HandOutLists(*s, lists);
    return 0;
}

TOLVLINK_EXPORT std::int32_t SendMapiTolvMessage(const char* subject, const char* body,
                                                 const char* path) {
    CMapiSession* s = CurrentSession();
    if (!s) {
        LibraryReport().Report("CreateMessage failed", "Session", __LINE__);
        return MAPI_E_NOT_INITIALIZED;
    }
    return SendFile(*s, subject ? subject : "", body ? body : "", path ? path : "", "Session");
}

TOLVLINK_EXPORT std::int32_t SendDlg(const char* key) {
    CSendDlg dlg(key ? key : "");
    dlg.DoModal();
    return 0;
}

// The program's view of the exports must be what the library defines.
static_assert(std::is_same_v<decltype(&StartTolvlink), StartTolvlinkFn>);
static_assert(std::is_same_v<decltype(&GetMapiAddress), GetMapiAddressFn>);
static_assert(std::is_same_v<decltype(&ProcessMapiAdrList), ProcessMapiAdrListFn>);
static_assert(std::is_same_v<decltype(&SendMapiTolvMessage), SendMapiTolvMessageFn>);
static_assert(std::is_same_v<decltype(&GetMapiIdentity), GetMapiIdentityFn>);
static_assert(std::is_same_v<decltype(&FixMapiAdrList), FixMapiAdrListFn>);
static_assert(std::is_same_v<decltype(&GetMapiProfile), GetMapiProfileFn>);
static_assert(std::is_same_v<decltype(&GetDisplayName), GetDisplayNameFn>);
static_assert(std::is_same_v<decltype(&GetProfileNames), GetProfileNamesFn>);
static_assert(std::is_same_v<decltype(&SendDlg), SendDlgFn>);
