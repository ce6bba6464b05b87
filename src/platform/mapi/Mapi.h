// The messaging layer: sessions over profiles kept in the registry, a store of Maildir++
// folders, submission through the system's `sendmail -t` interface, and the address book made
// by the address-book module. No Qt: dialogs (the address book's, a profile list) come in
// through the hooks below, which the libraries that have windows register.
//
// What lives where:
//  - a profile is the registry key SOFTWARE\MAPI\Profiles\<name> under HKEY_LOCAL_MACHINE
//    (values "Display Name", "Email Address", "Contacts Folder", "Store Folder",
//    "Submit Command"); the default profile's name is the value "Default Profile" of
//    SOFTWARE\MAPI\Profiles, so at most one is the default;
//  - the store is a Maildir++ folder: its root is the Inbox (the receive folder of "IPM.Note",
//    where drafts are made), with ".Outbox", ".Sent" and ".Trash" beside it;
//  - a submitted message is a complete mail (MIME, from the registered writer) in ".Outbox";
//    the spooler pipes it to the submit command and moves it to ".Sent", marked seen, once the
//    command exits 0.
//
// Calls are safe from any thread unless an interface says otherwise (MapiInterfaces.h).
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mapi/MapiDefs.h"
#include "platform/mapi/MapiInterfaces.h"

namespace korrin::platform {

// ---- The calls --------------------------------------------------------------------------------
struct MAPIINIT_0 {
    ULONG ulVersion;
    ULONG ulFlags;
};

// Counted: every MAPIInitialize needs its MAPIUninitialize. Logon and profile administration
// fail with MAPI_E_NOT_INITIALIZED outside them. Allocation works at any time.
HRESULT MAPIInitialize(const MAPIINIT_0* init);
void MAPIUninitialize();

// profileName null or "": the default profile. With no default profile and MAPI_LOGON_UI,
// the registered profile prompt (SetProfilePrompt) is asked for a name; without a prompt, or
// without MAPI_LOGON_UI, or when the named profile does not exist: MAPI_E_LOGON_FAILED. A
// cancelled prompt: MAPI_E_USER_CANCEL. MAPI_UNICODE: MAPI_E_BAD_CHARWIDTH. The password is
// not used. A logon starts the spooler for the profile's Outbox (one pass per logon; the
// session waits for nothing).
HRESULT MAPILogonEx(ULONG_PTR uiParam, const char* profileName, const char* password, ULONG flags,
                    IMAPISession** session);

// Allocation. A block from MAPIAllocateBuffer may carry blocks from MAPIAllocateMore (on it or
// on one of them); MAPIFreeBuffer of the first block frees them all. Freeing a block that was
// made by MAPIAllocateMore is refused (MAPI_E_INVALID_PARAMETER); null is accepted. Blocks are
// aligned for any value and zero-filled.
SCODE MAPIAllocateBuffer(ULONG size, void** buffer);
SCODE MAPIAllocateMore(ULONG size, void* object, void** buffer);
ULONG MAPIFreeBuffer(void* buffer);

HRESULT MAPIAdminProfiles(ULONG flags, IProfAdmin** profAdmin);

// Every row of the table: columns, then restriction (null: all), no sort (must be null),
// maxRows 0 for no limit (more rows than that: MAPI_E_TABLE_TOO_BIG is not offered; they are
// cut). *rows is freed with FreeProws.
HRESULT HrQueryAllRows(IMAPITable* table, const SPropTagArray* columns,
                       const SRestriction* restriction, const SSortOrderSet* sort, ULONG maxRows,
                       SRowSet** rows);
// One property; *prop is a MAPIAllocateBuffer block. MAPI_E_NOT_FOUND when the object lacks it.
HRESULT HrGetOneProp(IMAPIProp* object, ULONG propTag, SPropValue** prop);
HRESULT HrSetOneProp(IMAPIProp* object, const SPropValue* prop);
// Frees each entry's (row's) values block and then the list (set). Null is accepted.
void FreePadrlist(ADRLIST* adrList);
void FreeProws(SRowSet* rows);

using LPALLOCATEBUFFER = SCODE (*)(ULONG, void**);
using LPALLOCATEMORE = SCODE (*)(ULONG, void*, void**);
using LPFREEBUFFER = ULONG (*)(void*);
// A stream over a file. STGM_READ opens an existing file (MAPI_E_NOT_FOUND when it cannot be
// opened); STGM_CREATE | STGM_READWRITE makes or truncates one. prefix is unused.
HRESULT OpenStreamOnFile(LPALLOCATEBUFFER allocateBuffer, LPFREEBUFFER freeBuffer, ULONG flags,
                         const char* fileName, const char* prefix, IStream** stream);
// A stream held in memory (attachments before they are saved are these).
HRESULT CreateMemoryStream(IStream** stream);

// Property value helpers for builders of rows and lists: copy values (and what they point to)
// into memory hanging on parent (MAPIAllocateMore), or into a new block when parent is null.
HRESULT ScDupPropset(ULONG count, const SPropValue* props, void* parent, SPropValue** copy);
// The value of tag in props, or null.
const SPropValue* PpropFindProp(const SPropValue* props, ULONG count, ULONG tag);

// ---- Profiles ---------------------------------------------------------------------------------
struct MapiProfile {
    std::string name;           // the key's name
    std::string displayName;    // the identity's name
    std::string address;        // the identity's e-mail address
    std::string contactsDir;    // empty in the registry: $XDG_DATA_HOME/korrin/contacts
    std::string storeDir;       // empty in the registry: $XDG_DATA_HOME/korrin/mail
    std::string submitCommand;  // empty in the registry: "/usr/sbin/sendmail -t -oi"
    bool isDefault = false;
};

// Defaults of the three folders and the command, resolved at the moment of use.
std::string DefaultContactsFolder();
std::string DefaultStoreFolder();
extern const char* const kDefaultSubmitCommand;

// Reads a profile with its defaults filled in. MAPI_E_NOT_FOUND when there is none of that name,
// MAPI_E_CALL_FAILED when the registry cannot be read.
HRESULT ReadMapiProfile(const std::string& name, MapiProfile* profile);
// The default profile (MAPI_E_NOT_FOUND when none is marked, or the marked one is gone).
HRESULT ReadDefaultMapiProfile(MapiProfile* profile);
// Every profile, in name order, defaults filled in.
HRESULT ListMapiProfiles(std::vector<MapiProfile>* profiles);
// Creates or replaces a profile (fields left empty are stored empty and read as defaults);
// isDefault makes it the default profile. A name that is empty, holds '\' or a control
// character, or is longer than 64 bytes: MAPI_E_INVALID_PARAMETER.
HRESULT WriteMapiProfile(const MapiProfile& profile);
// Removes the profile's key (its folders stay); MAPI_E_NOT_FOUND when there is none.
HRESULT DeleteMapiProfile(const std::string& name);
// Marks an existing profile as the default one.
HRESULT SetDefaultMapiProfile(const std::string& name);

// ---- Hooks for the libraries that have windows or the mail writer ----------------------------
// The address book. The address-book module registers a factory at load; the session's
// OpenAddressBook calls it with the session's profile. Until one is registered OpenAddressBook
// fails with MAPI_E_NO_SUPPORT. Null unregisters.
using AddressBookFactory = HRESULT (*)(const MapiProfile& profile, ULONG_PTR uiParam, ULONG flags,
                                       IAddrBook** addrBook);
void SetAddressBookFactory(AddressBookFactory factory);

// Asked by MAPILogonEx (MAPI_LOGON_UI, no name, no default) for a profile: fills *name and
// returns S_OK, or MAPI_E_USER_CANCEL. Null unregisters.
using ProfilePrompt = HRESULT (*)(ULONG_PTR uiParam, std::string* name);
void SetProfilePrompt(ProfilePrompt prompt);

// A message as SubmitMessage hands it to the mail writer. Texts are UTF-8.
struct OutgoingRecipient {
    ULONG type = MAPI_TO;  // MAPI_TO, MAPI_CC, MAPI_BCC
    std::string name;      // may be empty
    std::string address;   // never empty (SubmitMessage refuses a recipient without one)
};
struct OutgoingAttachment {
    std::string fileName;  // PR_ATTACH_LONG_FILENAME, else PR_ATTACH_FILENAME, else "attachment"
    std::string data;      // the bytes of PR_ATTACH_DATA_BIN
};
struct OutgoingMail {
    std::string fromName;  // the identity
    std::string fromAddress;
    std::vector<OutgoingRecipient> recipients;
    std::string subject;
    std::string body;
    std::vector<OutgoingAttachment> attachments;
    std::time_t date = 0;
    std::string messageId;  // "<...@...>"
};

// The one MIME writer of the program is the mail module's; this layer cannot reach it (it sits
// below it), so the mail module registers an adapter (korrin/mail/MapiMail.h:
// InstallMapiMailWriter) that every program using SubmitMessage calls at start. The writer puts
// the whole mail on fd (From, To, Cc, Bcc headers for `sendmail -t`, Date, Message-ID, the body
// and the attachments) and returns true, or false with a reason in *error. Without a writer
// SubmitMessage fails with MAPI_E_NO_SUPPORT.
using MailWriter = bool (*)(const OutgoingMail& mail, int fd, std::string* error);
void SetMailWriter(MailWriter writer);

// ---- Reading folders without a session (commands) -------------------------------------------
// One message of a folder as a list shows it: the headers are read from the file's start.
struct FolderEntry {
    std::string unique;  // the Maildir name
    std::string flags;   // Maildir flags ("S" seen, "D" draft)
    std::string path;
    std::string date, from, to, cc, subject;  // header values, unfolded, as written
    std::uint64_t size = 0;
};
// folder: "" (Inbox), "Outbox", "Sent" or "Trash". Oldest first.
HRESULT ListMapiFolder(const MapiProfile& profile, const std::string& folder,
                       std::vector<FolderEntry>* entries);
// The value of each header named in names, from a mail's header block (up to the first empty
// line, or all of text): folded lines joined, the first occurrence of each name kept.
void ReadMailHeaders(std::string_view text, const std::vector<std::string>& names,
                     std::vector<std::string>* values);

// ---- The spooler ----------------------------------------------------------------------------
// One pass over a profile's Outbox: each message, oldest first, is piped to the submit command
// (split into arguments, no shell, no recipient among them), which gets `timeoutMs` to finish.
// Exit 0 moves the message to ".Sent" marked seen; anything else leaves it where it is and
// reports "<file>: <command> exited with status N: <first line of its error output>" once (per
// message and process) through the reporter. A lock file in the store (".korrin-spool.lock")
// keeps a second process (or thread) out: the pass then does nothing and says so.
struct SpoolResult {
    ULONG sent = 0;
    ULONG failed = 0;
    ULONG left = 0;                    // still in the Outbox after the pass
    bool locked = false;               // another spooler holds the store
    std::vector<std::string> reports;  // the reports this pass made
};
HRESULT SpoolOutbox(const MapiProfile& profile, SpoolResult* result);

// The bound on one run of the submit command: 120 s; $KORRIN_SUBMIT_TIMEOUT_MS overrides it.
unsigned SubmitTimeoutMs();

// Where spooler reports go: the program registers its event report; by default they go to
// stderr. Called on the spooler's thread.
using SpoolReporter = void (*)(const std::string& text);
void SetSpoolReporter(SpoolReporter reporter);

// Waits until the background passes started by logons have ended (commands call it before they
// exit, tests before they look at the folders).
void WaitForSpooler();

}  // namespace korrin::platform
