#include "tolvlink/Session.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <vector>

#include "korrin/app/EventReport.h"
#include "platform/ui/ProgramEnd.h"
#include "tolvlink/AdrText.h"
#include "tolvlink/Utils.h"

namespace korrin::tolvlink {

namespace {

CMapiSession* g_current = nullptr;
// Sessions a later start replaced: never ended (a start must not log another off), but kept
// where they can be found rather than lost.
std::vector<CMapiSession*>& replacedSessions() {
    static auto* list = new std::vector<CMapiSession*>;
    return *list;
}

constexpr const char* kProfileValue = "Profile";
constexpr const char* kPromptValue = "Prompt Profile";
constexpr DWORD kProfileBytes = 256;
constexpr const char* kProfileCaption = "When starting Quillion EMail for WIndows(tm)";
constexpr const char* kNoProfilesText =
    "There are no profiles defined. MAPI requires one to run. Define at least one profile and "
    "try again.";
constexpr const char* kNoProfilesCaption = "Quillion EMail for WIndows(tm)";

// Dialogs need a widget application; korrinctl loads the library without one and never gets
// to a dialog (it names its profile), but a stray one must not crash it.
bool haveWindows() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

template <class T>
T* as(IUnknown* object) {
    return dynamic_cast<T*>(object);
}

}  // namespace

CMapiSession* CurrentSession() {
    return g_current;
}

void SetCurrentSession(CMapiSession* session) {
    if (g_current && g_current != session)
        replacedSessions().push_back(g_current);
    g_current = session;
}

CMapiSession::~CMapiSession() {
    release();
}

void CMapiSession::release() {
    SetAddressList(nullptr);
    for (IMAPIFolder*& f : folders_) {
        if (f)
            f->Release();
        f = nullptr;
    }
    if (store_)
        store_->Release();
    store_ = nullptr;
    if (addrBook_)
        addrBook_->Release();
    addrBook_ = nullptr;
    if (session_)
        session_->Release();
    session_ = nullptr;
    MAPIFreeBuffer(entryIds_);
    entryIds_ = nullptr;
    if (initialized_)
        MAPIUninitialize();
    initialized_ = false;
}

void CMapiSession::End() {
    if (session_)
        session_->Logoff(uiParam(), MAPI_LOGOFF_UI, 0);
    release();
}

void CMapiSession::SetAddressList(ADRLIST* list) {
    if (adrList_ && adrList_ != list)
        FreePadrlist(adrList_);
    adrList_ = list;
}

bool CMapiSession::Start(const std::string& key, QWidget* window) {
    window_ = window;
    key_ = key;
    if (!ChooseProfile(true))
        return false;
    if (FAILED(MAPIInitialize(nullptr))) {
        TOLVLINK_REPORT("MAPIInitialize failed");
        return true;
    }
    initialized_ = true;
    if (FAILED(MAPILogonEx(uiParam(), profileName_.empty() ? nullptr : profileName_.c_str(),
                           nullptr, MAPI_LOGON_UI | MAPI_NEW_SESSION, &session_))) {
        session_ = nullptr;
        return true;
    }
    void* ids = nullptr;
    if (FAILED(MAPIAllocateBuffer(sizeof(EntryIdSlot) * kFolderCount, &ids)))
        return true;
    entryIds_ = static_cast<EntryIdSlot*>(ids);
    for (int i = 0; i < kFolderCount; ++i)
        entryIds_[i] = EntryIdSlot{0, nullptr};
    if (FAILED(openDefaultStore()))
        return true;
    openFolders();
    return true;
}

HRESULT CMapiSession::openDefaultStore() {
    MapiRef<IMAPITable> table;
    HRESULT hr = session_->GetMsgStoresTable(0, table.out());
    if (FAILED(hr))
        return hr;
    SizedSPropTagArray<2> columns{2, {PR_ENTRYID, PR_DEFAULT_STORE}};
    SPropValue isDefault{};
    isDefault.ulPropTag = PR_DEFAULT_STORE;
    isDefault.Value.b = 1;
    SRestriction restriction{};
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty = SPropertyRestriction{RELOP_EQ, PR_DEFAULT_STORE, &isDefault};
    SRowSet* rows = nullptr;
    hr = HrQueryAllRows(table.get(), AsTagArray(columns), &restriction, nullptr, 0, &rows);
    if (SUCCEEDED(hr)) {
        if (!rows || rows->cRows == 0 || rows->aRow[0].cValues == 0 ||
            rows->aRow[0].lpProps[0].ulPropTag != PR_ENTRYID) {
            hr = MAPI_E_NOT_FOUND;
        } else {
            const SBinary& id = rows->aRow[0].lpProps[0].Value.bin;
            hr = session_->OpenMsgStore(uiParam(), id.cb, reinterpret_cast<ENTRYID*>(id.lpb),
                                        nullptr, MDB_WRITE, &store_);
            if (FAILED(hr))
                store_ = nullptr;
        }
    }
    FreeProws(rows);
    return hr;
}

HRESULT CMapiSession::openFolders() {
    SizedSPropTagArray<kFolderCount> tags{
        kFolderCount,
        {PR_NULL, PR_IPM_OUTBOX_ENTRYID, PR_IPM_WASTEBASKET_ENTRYID, PR_IPM_SENTMAIL_ENTRYID}};
    ULONG count = 0;
    SPropValue* props = nullptr;
    HRESULT hr = store_->GetProps(AsTagArray(tags), 0, &count, &props);
    ULONG receiveCb = 0;
    ENTRYID* receiveId = nullptr;
    if (SUCCEEDED(hr))
        hr = store_->GetReceiveFolder("IPM.Note", 0, &receiveCb, &receiveId, nullptr);
    if (SUCCEEDED(hr) && count != kFolderCount)
        hr = MAPI_E_NOT_FOUND;
    // Every folder's entry ID first: a store that lacks one gets no folder opened at all.
    for (int i = 1; SUCCEEDED(hr) && i < kFolderCount; ++i)
        if (props[i].ulPropTag != tags.aulPropTag[i])
            hr = MAPI_E_NOT_FOUND;
    if (SUCCEEDED(hr)) {
        const SBinary ids[kFolderCount] = {
            {receiveCb, reinterpret_cast<BYTE*>(receiveId)},
            props[1].Value.bin,
            props[2].Value.bin,
            props[3].Value.bin,
        };
        for (int i = 0; SUCCEEDED(hr) && i < kFolderCount; ++i) {
            void* copy = nullptr;
            hr = MAPIAllocateMore(ids[i].cb ? ids[i].cb : 1, entryIds_, &copy);
            if (SUCCEEDED(hr)) {
                std::copy(ids[i].lpb, ids[i].lpb + ids[i].cb, static_cast<BYTE*>(copy));
                entryIds_[i] = EntryIdSlot{ids[i].cb, static_cast<ENTRYID*>(copy)};
            }
        }
        for (int i = 0; SUCCEEDED(hr) && i < kFolderCount; ++i) {
            ULONG type = 0;
            IUnknown* object = nullptr;
            hr = session_->OpenEntry(entryIds_[i].cb, entryIds_[i].id, nullptr, MAPI_MODIFY, &type,
                                     &object);
            if (FAILED(hr))
                break;
            IMAPIFolder* folder = type == MAPI_FOLDER ? as<IMAPIFolder>(object) : nullptr;
            if (!folder) {
                object->Release();
                hr = MAPI_E_INVALID_OBJECT;
                break;
            }
            folders_[i] = folder;
        }
    }
    MAPIFreeBuffer(props);
    MAPIFreeBuffer(receiveId);
    return hr;
}

bool CMapiSession::ChooseProfile(bool storedAllowed) {
    DWORD prompt = 1;
    if (storedAllowed && !GetRegistryDword(key_, kPromptValue, prompt))
        prompt = 1;
    if (prompt != 0) {
        CProfileDlg dlg(key_, window_);
        const int result = haveWindows() ? dlg.DoModal() : IDCANCEL;
        if (result == CProfileDlg::kNoProfiles) {
            EndProgram(window_);
            return false;
        }
        if (result == IDOK)
            profileName_ = dlg.chosen();
        return true;
    }
    std::string stored;
    if (GetRegistryString(key_, kProfileValue, stored, kProfileBytes)) {
        profileName_ = stored;
        return true;
    }
    CProfileDlg dlg(key_, window_);
    const int result = haveWindows() ? dlg.DoModal() : IDCANCEL;
    if (result != IDOK) {
        EndProgram(window_);
        return false;
    }
    // The choice just stored is the one to log on with.
    profileName_ = dlg.chosen();
    return true;
}

bool CMapiSession::OpenAddressBook(HRESULT* hr) {
    HRESULT result = S_OK;
    if (!addrBook_) {
        if (!session_)
            result = MAPI_E_NOT_INITIALIZED;
        else if (FAILED(result = session_->OpenAddressBook(uiParam(), nullptr, 0, &addrBook_)))
            addrBook_ = nullptr;
    }
    if (hr)
        *hr = result;
    return addrBook_ != nullptr;
}

// ---- the profile dialog

CProfileDlg::CProfileDlg(const std::string& key, QWidget* parent)
    : CDialog(kResourceId, parent), key_(key) {
    setWindowTitle(QString::fromUtf8(kProfileCaption));
}

bool CProfileDlg::OnInitDialog() {
    auto* layout = new QVBoxLayout(this);
    auto* prompt = new QRadioButton(QStringLiteral("&Prompt for a profile to be used"));
    auto* always = new QRadioButton(QStringLiteral("Always &use this profile"));
    for (QRadioButton* r : {prompt, always})
        r->setAutoExclusive(false);  // the dialog checks one itself
    BindCommand(prompt, kPromptId);
    BindCommand(always, kAlwaysUseId);
    auto* list = new QComboBox;
    SetControlId(list, kProfileListId);
    list->setAccessibleName(QStringLiteral("Profile"));
    layout->addWidget(prompt);
    layout->addWidget(always);
    layout->addWidget(list);
    layout->addLayout(OkCancelRow());

    FillProfileNames(list);
    if (list->count() == 0) {
        AppMessageBox(this, kNoProfilesText, kNoProfilesCaption, MB_OK);
        EndDialog(kNoProfiles);
        return true;
    }
    DWORD promptValue = 1;
    if (!GetRegistryDword(key_, kPromptValue, promptValue))
        promptValue = 1;
    check(promptValue ? kPromptId : kAlwaysUseId);
    std::string stored;
    int index = 0;
    if (GetRegistryString(key_, kProfileValue, stored, kProfileBytes)) {
        // As the list's own search does: the first name that starts with it, in any case.
        const QString wanted = QString::fromStdString(stored);
        for (int i = 0; i < list->count(); ++i)
            if (list->itemText(i).startsWith(wanted, Qt::CaseInsensitive)) {
                index = i;
                break;
            }
    }
    list->setCurrentIndex(index);
    return true;
}

void CProfileDlg::check(int id) {
    GetDlgItemAs<QRadioButton>(this, kPromptId)->setChecked(id == kPromptId);
    GetDlgItemAs<QRadioButton>(this, kAlwaysUseId)->setChecked(id == kAlwaysUseId);
}

void CProfileDlg::OnCommand(int id) {
    if (id == kPromptId || id == kAlwaysUseId) {
        check(id);
        return;
    }
    CDialog::OnCommand(id);
}

void CProfileDlg::OnOK() {
    chosen_ = GetDlgItemAs<QComboBox>(this, kProfileListId)->currentText().toStdString();
    SetRegistryString(key_, kProfileValue, chosen_);
    const bool prompt = GetDlgItemAs<QRadioButton>(this, kPromptId)->isChecked();
    SetRegistryDword(key_, kPromptValue, prompt ? 1 : 0);
    EndDialog(IDOK);
}

HRESULT FillProfileNames(QComboBox* combo) {
    HRESULT hr = MAPIInitialize(nullptr);
    if (FAILED(hr))
        return hr;
    MapiRef<IProfAdmin> admin;
    MapiRef<IMAPITable> table;
    SRowSet* rows = nullptr;
    hr = MAPIAdminProfiles(0, admin.out());
    if (SUCCEEDED(hr))
        hr = admin->GetProfileTable(0, table.out());
    SizedSPropTagArray<2> columns{2, {PR_DISPLAY_NAME, PR_DEFAULT_PROFILE}};
    if (SUCCEEDED(hr))
        hr = HrQueryAllRows(table.get(), AsTagArray(columns), nullptr, nullptr, 0, &rows);
    if (SUCCEEDED(hr) && rows) {
        for (ULONG i = 0; i < rows->cRows; ++i) {
            const SRow& row = rows->aRow[i];
            if (row.cValues == 0 || row.lpProps[0].ulPropTag != PR_DISPLAY_NAME)
                continue;
            const std::string_view name = row.lpProps[0].Value.lpszA;
            if (combo)
                combo->addItem(
                    QString::fromStdString(std::string(name.substr(0, Utf8Prefix(name, 255)))));
        }
    }
    FreeProws(rows);
    table.reset();
    admin.reset();
    MAPIUninitialize();
    return hr;
}

void EndProgram(QWidget* owner) {
    if (RequestProgramEnd())
        return;
    // No main window has registered: end the dialogs running above the owner's window, and
    // close that window.
    if (!haveWindows())
        return;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = dynamic_cast<CDialog*>(w); d && d->isRunning())
            d->EndDialog(IDCANCEL);
    if (owner)
        owner->window()->close();
}

// ---- identity

HRESULT SessionIdentity(CMapiSession& s, char* name, char* address) {
    if (!s.session()) {
        TOLVLINK_REPORT("QueryIdentity failed");
        return MAPI_E_NOT_INITIALIZED;
    }
    ULONG cb = 0;
    ENTRYID* id = nullptr;
    HRESULT hr = s.session()->QueryIdentity(&cb, &id);
    if (FAILED(hr)) {
        TOLVLINK_REPORT("QueryIdentity failed");
        return hr;
    }
    ULONG type = 0;
    IUnknown* object = nullptr;
    hr = s.session()->OpenEntry(cb, id, &IID_IMailUser, 0, &type, &object);
    MAPIFreeBuffer(id);
    MapiRef<IMailUser> user(object ? as<IMailUser>(object) : nullptr);
    if (FAILED(hr) || !user) {
        if (object && !user)
            object->Release();
        TOLVLINK_REPORT("OpenEntry failed");
        return FAILED(hr) ? hr : MAPI_E_INVALID_OBJECT;
    }
    SizedSPropTagArray<5> tags{
        5, {PR_ENTRYID, PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, PR_ADDRTYPE, PR_SEARCH_KEY}};
    ULONG count = 0;
    SPropValue* props = nullptr;
    hr = user->GetProps(AsTagArray(tags), 0, &count, &props);
    if (FAILED(hr)) {
        TOLVLINK_REPORT("GetProps failed");
        return hr;
    }
    if (count > 1 && props[1].ulPropTag == PR_DISPLAY_NAME && name)
        CopyCut(name, 256, props[1].Value.lpszA);
    if (count > 2 && props[2].ulPropTag == PR_EMAIL_ADDRESS && address)
        CopyCut(address, 256, props[2].Value.lpszA);
    MAPIFreeBuffer(props);
    return S_OK;
}

HRESULT LookUpDisplayName(QWidget* window, const char* profile, const char* password, char* name,
                          char* address) {
    HRESULT hr = MAPIInitialize(nullptr);
    if (FAILED(hr))
        return hr;
    const ULONG_PTR ui = reinterpret_cast<ULONG_PTR>(window);
    MapiRef<IMAPISession> session;
    MapiRef<IAddrBook> book;
    ADRLIST* chosen = nullptr;
    hr = MAPILogonEx(ui, profile, password, MAPI_LOGON_UI | MAPI_NEW_SESSION, session.out());
    if (SUCCEEDED(hr))
        hr = session->OpenAddressBook(ui, nullptr, 0, book.out());
    if (SUCCEEDED(hr)) {
        ADRPARM params{};
        params.ulFlags = DIALOG_MODAL | ADDRESS_ONE | AB_RESOLVE;
        char caption[] = "Browse Address Book";
        char newEntry[] = "Find Email Address";
        char wells[] = "";
        params.lpszCaption = caption;
        params.lpszNewEntryTitle = newEntry;
        params.lpszDestWellsTitle = wells;
        params.cDestFields = 0;
        ULONG_PTR parent = ui;
        hr = book->Address(&parent, &params, &chosen);
    }
    if (SUCCEEDED(hr)) {
        if (!chosen || chosen->cEntries == 0) {
            hr = MAPI_E_USER_CANCEL;
        } else {
            const ADRENTRY& e = chosen->aEntries[0];
            if (auto* v = PpropFindProp(e.rgPropVals, e.cValues, PR_DISPLAY_NAME); v && name)
                CopyCut(name, 256, v->Value.lpszA);
            if (auto* v = PpropFindProp(e.rgPropVals, e.cValues, PR_EMAIL_ADDRESS); v && address)
                CopyCut(address, 256, v->Value.lpszA);
        }
    }
    FreePadrlist(chosen);
    book.reset();
    if (session)
        session->Logoff(ui, 0, 0);
    session.reset();
    MAPIUninitialize();
    return hr;
}

// ---- the list MAPILogonEx shows without a name and a default profile

namespace {

HRESULT promptForProfile(ULONG_PTR uiParam, std::string* name) {
    if (!haveWindows())
        return MAPI_E_USER_CANCEL;
    QStringList names;
    {
        QComboBox probe;
        FillProfileNames(&probe);
        for (int i = 0; i < probe.count(); ++i)
            names << probe.itemText(i);
    }
    if (names.isEmpty())
        return MAPI_E_LOGON_FAILED;
    QDialog dlg(reinterpret_cast<QWidget*>(uiParam));
    dlg.setObjectName(QStringLiteral("mapi_profile_list"));
    dlg.setWindowTitle(QStringLiteral("Choose Profile"));
    auto* layout = new QVBoxLayout(&dlg);
    layout->addWidget(new QLabel(QStringLiteral("Profile Name:")));
    auto* list = new QListWidget;
    list->setObjectName(QStringLiteral("profiles"));
    list->addItems(names);
    list->setCurrentRow(0);
    layout->addWidget(list);
    auto* buttons = new QHBoxLayout;
    auto* ok = new QPushButton(QStringLiteral("OK"));
    auto* cancel = new QPushButton(QStringLiteral("Cancel"));
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, &dlg, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, &dlg, &QDialog::reject);
    QObject::connect(list, &QListWidget::itemDoubleClicked, &dlg, &QDialog::accept);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    if (dlg.exec() != QDialog::Accepted || !list->currentItem())
        return MAPI_E_USER_CANCEL;
    *name = list->currentItem()->text().toStdString();
    return S_OK;
}

}  // namespace

void InstallProfilePrompt() {
    SetProfilePrompt(&promptForProfile);
}

}  // namespace korrin::tolvlink
