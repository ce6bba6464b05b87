// The library's MAPI session: the profile choice (remembered under the program's key), the
// logon, the default store and its four folders, the address book and the current address
// list. One session lives for the program run (StartTolvlink); the library's test dialog keeps
// one of its own while it is open.
//
// Threads: the program's user-interface thread only.
#pragma once

#include <string>

#include "platform/mapi/Mapi.h"
#include "platform/ui/Dialog.h"

class QComboBox;

namespace korrin::tolvlink {

using namespace korrin::platform;

// The folders, by their place in the session.
enum Folder : int { kReceiveFolder = 0, kOutbox = 1, kDeletedItems = 2, kSentItems = 3 };
inline constexpr int kFolderCount = 4;

// One entry ID of the session's buffer: a byte count and the bytes.
struct EntryIdSlot {
    ULONG cb;
    ENTRYID* id;
};

class CMapiSession {
  public:
    CMapiSession() = default;
    // Gives back what the session holds without logging off (see End).
    ~CMapiSession();
    CMapiSession(const CMapiSession&) = delete;
    CMapiSession& operator=(const CMapiSession&) = delete;

    // Keeps window and key, chooses the profile with stored choices allowed, logs on and opens
    // the store and its folders. A failing step leaves the session where it got to. False only
    // when the program has to end (no profile at all, or the profile dialog was cancelled with
    // no stored "Profile" to fall back on); the end of the program is then already asked for.
    bool Start(const std::string& key, QWidget* window);

    // The key the profile choice reads and writes (Start sets it too).
    void SetKey(const std::string& key) { key_ = key; }

    // Logs off (with the window) and gives back the folders, the store and the session.
    void End();

    // The profile choice. storedAllowed false always shows the profile dialog. False when the
    // program has to end.
    bool ChooseProfile(bool storedAllowed);

    // Opens the address book on first need; false (the MAPI result in *hr) when it cannot be.
    bool OpenAddressBook(HRESULT* hr = nullptr);

    // Replaces the current address list (the session frees the old one); null clears it.
    void SetAddressList(ADRLIST* list);

    QWidget* window() const { return window_; }
    ULONG_PTR uiParam() const { return reinterpret_cast<ULONG_PTR>(window_); }
    const std::string& key() const { return key_; }
    const std::string& profileName() const { return profileName_; }
    IMAPISession* session() const { return session_; }
    IAddrBook* addressBook() const { return addrBook_; }
    ADRLIST* addressList() const { return adrList_; }
    ADRLIST*& addressListSlot() { return adrList_; }
    IMAPIFolder* folder(int i) const { return folders_[i]; }
    IMsgStore* store() const { return store_; }
    const EntryIdSlot* entryId(int i) const { return entryIds_ ? &entryIds_[i] : nullptr; }

  private:
    HRESULT openDefaultStore();
    HRESULT openFolders();
    void release();

    QWidget* window_ = nullptr;
    std::string key_;
    std::string profileName_;
    bool initialized_ = false;
    IMAPISession* session_ = nullptr;
    IAddrBook* addrBook_ = nullptr;
    ADRLIST* adrList_ = nullptr;
    IMAPIFolder* folders_[kFolderCount] = {};
    IMsgStore* store_ = nullptr;
    EntryIdSlot* entryIds_ = nullptr;  // kFolderCount slots, one MAPIAllocateBuffer block
};

// The session StartTolvlink made (null before).
CMapiSession* CurrentSession();
void SetCurrentSession(CMapiSession* session);

// The profile dialog (140). Its result text is the chosen profile name.
class CProfileDlg : public platform::CDialog {
  public:
    static constexpr int kResourceId = 140;
    static constexpr int kProfileListId = 1044, kAlwaysUseId = 1045, kPromptId = 1046;
    // The dialog's result when no profile exists at all (after the box telling so).
    static constexpr int kNoProfiles = -1;

    CProfileDlg(const std::string& key, QWidget* parent);
    const std::string& chosen() const { return chosen_; }
    void OnCommand(int id) override;

  protected:
    bool OnInitDialog() override;
    void OnOK() override;

  private:
    void check(int id);
    std::string key_;
    std::string chosen_;
};

// The profiles into combo (GetProfileNames): the first failing MAPI result, or the last.
HRESULT FillProfileNames(QComboBox* combo);

// Ends the program as closing its main window does: every dialog running above the owner's
// main window ends, then the main window is asked to close; never exit(). Queued, so it takes
// effect once the caller has returned to the event loop.
void EndProgram(QWidget* owner);

// GetMapiIdentity of the session: name and address into the caller's 256-byte buffers.
HRESULT SessionIdentity(CMapiSession& session, char* name, char* address);

// GetDisplayName: a lookup through its own logon; MAPI_E_USER_CANCEL when nothing was chosen.
HRESULT LookUpDisplayName(QWidget* window, const char* profile, const char* password, char* name,
                          char* address);

// Registers the list MAPILogonEx shows when no profile is named and none is the default.
void InstallProfilePrompt();

}  // namespace korrin::tolvlink
