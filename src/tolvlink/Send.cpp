#include "tolvlink/Send.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstring>
#include <vector>

#include "korrin/app/EventReport.h"
#include "korrin/audio/AcmCommon.h"
#include "korrin/audio/PlayableCopy.h"
#include "korrin/store/Trailer.h"
#include "platform/ui/FileDialog.h"
#include "tolvlink/AdrText.h"
#include "tolvlink/Utils.h"

namespace korrin::tolvlink {

namespace {

// A report naming the module the Part of the library that failed belongs to.
void report(const char* message, const char* source, int line) {
    if (source)  // null: a step whose failure is not the user's concern
        LibraryReport().Report(message, source, line);
}
#define SEND_REPORT(message, source) report((message), (source), __LINE__)

const char* text(const SPropValue* v) {
    return v && v->Value.lpszA ? v->Value.lpszA : nullptr;
}

ULONG recipientType(const ADRENTRY& e) {
    const SPropValue* v = PpropFindProp(e.rgPropVals, e.cValues, PR_RECIPIENT_TYPE);
    return v ? v->Value.ul : 0;
}

// One entry of the list: PR_DISPLAY_NAME (the piece) and PR_RECIPIENT_TYPE, in a block of
// their own. False after a report when memory runs out.
bool addEntry(ADRLIST* list, const char* piece, ULONG type) {
    void* block = nullptr;
    if (FAILED(MAPIAllocateBuffer(sizeof(SPropValue) * 2, &block))) {
        SEND_REPORT("AllocateBuffer failed", "Session");
        return false;
    }
    auto* values = static_cast<SPropValue*>(block);
    const std::size_t length = std::strlen(piece) + 1;
    void* copy = nullptr;
    if (FAILED(MAPIAllocateMore(static_cast<ULONG>(length), block, &copy))) {
        SEND_REPORT("AllocateMore failed", "Session");
        MAPIFreeBuffer(block);
        return false;
    }
    std::memcpy(copy, piece, length);
    values[0].ulPropTag = PR_DISPLAY_NAME;
    values[0].Value.lpszA = static_cast<char*>(copy);
    values[1].ulPropTag = PR_RECIPIENT_TYPE;
    values[1].Value.ul = type;
    ADRENTRY& entry = list->aEntries[list->cEntries++];
    entry.ulReserved1 = 0;
    entry.cValues = 2;
    entry.rgPropVals = values;
    return true;
}

std::string joined(const ADRLIST* list, ULONG type, ULONG tag, std::size_t limit) {
    std::vector<std::string> entries;
    for (ULONG i = 0; list && i < list->cEntries; ++i) {
        const ADRENTRY& e = list->aEntries[i];
        if (recipientType(e) != type)
            continue;
        if (const char* s = text(PpropFindProp(e.rgPropVals, e.cValues, tag)); s && *s)
            entries.emplace_back(s);
    }
    return JoinEntries(entries, limit);
}

char* newString(const std::string& s) {
    // The program frees it with delete[]; the 16 spare bytes are the host's habit.
    char* out = new char[s.size() + 16];
    std::memcpy(out, s.c_str(), s.size() + 1);
    return out;
}

}  // namespace

void FixAddressList(CMapiSession& session, char* to, char* cc, char* bcc) {
    // Counted first, so the list is allocated for the entries it will hold (no empty slots).
    std::vector<char*> pieces[3] = {SplitRecipients(to), SplitRecipients(cc), SplitRecipients(bcc)};
    const std::size_t count = pieces[0].size() + pieces[1].size() + pieces[2].size();
    if (count == 0) {
        session.SetAddressList(nullptr);
        return;
    }
    void* block = nullptr;
    if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(static_cast<ULONG>(count))),
                                  &block))) {
        SEND_REPORT("AllocateBuffer failed", "Session");
        return;
    }
    auto* list = static_cast<ADRLIST*>(block);
    list->cEntries = 0;
    for (ULONG type = MAPI_TO; type <= MAPI_BCC; ++type)
        for (char* piece : pieces[type - MAPI_TO])
            if (!addEntry(list, piece, type)) {
                FreePadrlist(list);
                return;
            }
    session.SetAddressList(list);
    if (session.OpenAddressBook())
        session.addressBook()->ResolveName(session.uiParam(), 0, nullptr, list);
}

HRESULT ShowAddressDialog(CMapiSession& session, QWidget* window, int idTo, int idCc, int idBcc) {
    HRESULT hr = S_OK;
    if (!session.OpenAddressBook(&hr))
        return hr;
    char caption[] = "Address Book";
    char wells[] = "Send Note To";
    ADRPARM params{};
    params.ulFlags = DIALOG_MODAL | AB_RESOLVE;
    params.lpszCaption = caption;
    params.lpszDestWellsTitle = wells;
    params.cDestFields = 3;
    ULONG_PTR parent = reinterpret_cast<ULONG_PTR>(window);
    hr = session.addressBook()->Address(&parent, &params, &session.addressListSlot());
    if (FAILED(hr))
        return hr;
    const int ids[3] = {idTo, idCc, idBcc};
    for (ULONG type = MAPI_TO; type <= MAPI_BCC; ++type) {
        SetDlgItemText(window, ids[type - MAPI_TO], QString());
        SetDlgItemText(
            window, ids[type - MAPI_TO],
            QString::fromStdString(joined(session.addressList(), type, PR_DISPLAY_NAME, 0)));
    }
    return S_OK;
}

void HandOutLists(CMapiSession& session, char** lists[6]) {
    const ADRLIST* list = session.addressList();
    if (!list || list->cEntries == 0)
        return;
    for (ULONG type = MAPI_TO; type <= MAPI_BCC; ++type) {
        char** names = lists[(type - MAPI_TO) * 2];
        char** addresses = lists[(type - MAPI_TO) * 2 + 1];
        if (names)
            *names = newString(joined(list, type, PR_DISPLAY_NAME, kNamesListLimit));
        if (addresses)
            *addresses = newString(joined(list, type, PR_EMAIL_ADDRESS, 0));
    }
}

namespace {

// The attachment of step 3: the file's bytes and the four properties, saved into the draft.
HRESULT attachFile(IMessage* draft, const std::string& path, const std::string& name,
                   const char* source) {
    MapiRef<IStream> file;
    HRESULT hr = OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, STGM_READ, path.c_str(),
                                  nullptr, file.out());
    if (FAILED(hr)) {
        SEND_REPORT("OpenStreamOnFile failed", source);
        return hr;
    }
    ULONG number = 0;
    MapiRef<IAttach> attach;
    if (FAILED(hr = draft->CreateAttach(nullptr, 0, &number, attach.out()))) {
        SEND_REPORT("CreateAttach failed", source);
        return hr;
    }
    IUnknown* opened = nullptr;
    hr = attach->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY,
                              &opened);
    MapiRef<IStream> data(opened ? dynamic_cast<IStream*>(opened) : nullptr);
    if (FAILED(hr) || !data) {
        if (opened && !data)
            opened->Release();
        SEND_REPORT("OpenProperty failed", source);
        return FAILED(hr) ? hr : MAPI_E_INTERFACE_NOT_SUPPORTED;
    }
    STATSTG stat{};
    if (FAILED(hr = file->Stat(&stat, STATFLAG_NONAME))) {
        SEND_REPORT("Stat failed", source);
        return hr;
    }
    std::uint64_t read = 0, written = 0;
    hr = file->CopyTo(data.get(), stat.cbSize, &read, &written);
    if (SUCCEEDED(hr) && (read != stat.cbSize || written != stat.cbSize))
        hr = MAPI_E_DISK_ERROR;
    if (SUCCEEDED(hr))
        hr = data->Commit(0);
    if (FAILED(hr)) {
        SEND_REPORT("CopyTo failed", source);
        return hr;
    }
    SPropValue props[4] = {};
    props[0].ulPropTag = PR_ATTACH_FILENAME;
    props[0].Value.lpszA = const_cast<char*>(name.c_str());
    props[1].ulPropTag = PR_ATTACH_PATHNAME;
    props[1].Value.lpszA = const_cast<char*>(path.c_str());
    props[2].ulPropTag = PR_ATTACH_METHOD;
    props[2].Value.ul = ATTACH_BY_VALUE;
    props[3].ulPropTag = PR_RENDERING_POSITION;
    props[3].Value.ul = 0xFFFFFFFFu;
    if (FAILED(hr = attach->SetProps(4, props, nullptr))) {
        SEND_REPORT("SetProps failed", source);
        return hr;
    }
    if (FAILED(hr = attach->SaveChanges(0))) {
        SEND_REPORT("SaveChanges failed", source);
        return hr;
    }
    return S_OK;
}

// Removes the saved draft from the receive folder.
HRESULT deleteDraft(CMapiSession& session, IMessage* draft, const char* source) {
    SPropValue* id = nullptr;
    HRESULT hr = HrGetOneProp(draft, PR_ENTRYID, &id);
    if (FAILED(hr)) {
        SEND_REPORT("HrGetOneProp failed", source);
        return hr;
    }
    SBinary entry = id->Value.bin;
    ENTRYLIST list{1, &entry};
    hr = session.folder(kReceiveFolder)
             ->DeleteMessages(&list, session.uiParam(), nullptr, MESSAGE_DIALOG);
    MAPIFreeBuffer(id);
    if (FAILED(hr))
        SEND_REPORT("DeleteMessages failed", source);
    return hr;
}

}  // namespace

HRESULT SendFile(CMapiSession& session, const std::string& subject, const std::string& body,
                 const std::string& path, const char* source) {
    if (!session.folder(kReceiveFolder) || !session.folder(kOutbox) ||
        !session.entryId(kSentItems) || !session.entryId(kSentItems)->id) {
        SEND_REPORT("CreateMessage failed", source);
        return MAPI_E_NOT_INITIALIZED;
    }
    const ADRLIST* recipients = session.addressList();
    if (!recipients || recipients->cEntries == 0) {
        LibraryReport().ShowError("No recipients specified");
        return MAPI_E_NO_RECIPIENTS;
    }
    // A recipient the address book could not resolve has no address: sending would lose it.
    for (ULONG i = 0; i < recipients->cEntries; ++i) {
        const ADRENTRY& e = recipients->aEntries[i];
        const char* address = text(PpropFindProp(e.rgPropVals, e.cValues, PR_EMAIL_ADDRESS));
        if (!address || !*address) {
            const char* name = text(PpropFindProp(e.rgPropVals, e.cValues, PR_DISPLAY_NAME));
            LibraryReport().ShowError(std::string("No e-mail address for \"") + (name ? name : "") +
                                      "\"");
            return MAPI_E_NOT_FOUND;
        }
    }
    // The file is looked at before anything is made, so a missing one leaves nothing behind.
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        LibraryReport().ShowError("Can't Open File");
        return MAPI_E_NOT_FOUND;
    }
    std::fclose(f);
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);

    MapiRef<IMessage> draft;
    HRESULT hr = session.folder(kReceiveFolder)->CreateMessage(nullptr, 0, draft.out());
    if (FAILED(hr)) {
        SEND_REPORT("CreateMessage failed", source);
        return hr;
    }
    if (FAILED(hr = attachFile(draft.get(), path, name, source)))
        return hr;  // the draft was never saved: nothing on disk
    // The copy that plays everywhere goes beside the message file when the settings ask for
    // it; one that cannot be made or attached is left out and the message goes as it is.
    CMessageTrailer envelope;
    PlayableCopy copy;
    if (envelope.ReadForSending(path, true, false) == trailer::kRead && copy.Make(path, envelope) &&
        FAILED(attachFile(draft.get(), copy.path(), copy.fileName(), nullptr)))
        DebugTrace("playable copy not attached: %s", path.c_str());
    if (FAILED(hr = draft->ModifyRecipients(0, recipients))) {
        SEND_REPORT("ModifyRecipients failed", source);
        return hr;
    }
    ULONG flags = MSGFLAG_READ | MSGFLAG_SUBMIT;
    SPropValue* hasAttach = nullptr;
    if (SUCCEEDED(HrGetOneProp(draft.get(), PR_HASATTACH, &hasAttach)) && hasAttach->Value.b)
        flags |= MSGFLAG_HASATTACH;
    MAPIFreeBuffer(hasAttach);
    void* block = nullptr;
    if (FAILED(hr = MAPIAllocateBuffer(sizeof(SPropValue) * 4, &block))) {
        SEND_REPORT("AllocateBuffer failed", source);
        return hr;
    }
    auto* props = static_cast<SPropValue*>(block);
    const std::string* texts[2] = {&subject, &body};
    const ULONG textTags[2] = {PR_SUBJECT, PR_BODY};
    for (int i = 0; i < 2; ++i) {
        void* copy = nullptr;
        if (FAILED(hr = MAPIAllocateMore(static_cast<ULONG>(texts[i]->size() + 1), block, &copy))) {
            SEND_REPORT("AllocateMore failed", source);
            MAPIFreeBuffer(block);
            return hr;
        }
        std::memcpy(copy, texts[i]->c_str(), texts[i]->size() + 1);
        props[i].ulPropTag = textTags[i];
        props[i].Value.lpszA = static_cast<char*>(copy);
    }
    props[2].ulPropTag = PR_MESSAGE_FLAGS;
    props[2].Value.ul = flags;
    props[3].ulPropTag = PR_SENTMAIL_ENTRYID;
    props[3].Value.bin = SBinary{session.entryId(kSentItems)->cb,
                                 reinterpret_cast<BYTE*>(session.entryId(kSentItems)->id)};
    hr = draft->SetProps(4, props, nullptr);
    MAPIFreeBuffer(block);
    if (FAILED(hr)) {
        SEND_REPORT("SetProps failed", source);
        return hr;
    }
    if (FAILED(hr = draft->SaveChanges(KEEP_OPEN_READWRITE))) {
        SEND_REPORT("SaveChanges failed", source);
        return hr;
    }
    // From here on the draft is on disk: every way out removes it.
    MapiRef<IMessage> outgoing;
    hr = session.folder(kOutbox)->CreateMessage(nullptr, 0, outgoing.out());
    if (FAILED(hr)) {
        SEND_REPORT("CreateMessage failed", source);
    } else if (FAILED(hr = draft->CopyTo(0, nullptr, nullptr, session.uiParam(), nullptr,
                                         &IID_IMessage, outgoing.get(), 0, nullptr))) {
        SEND_REPORT("CopyTo failed", source);
    } else if (FAILED(hr = outgoing->SubmitMessage(0))) {
        SEND_REPORT("SubmitMessage failed", source);
    }
    // The message is in the Outbox once SubmitMessage succeeded; a draft that cannot be
    // removed then is reported, but the message stays handed over.
    deleteDraft(session, draft.get(), source);
    return hr;
}

// ---- the test dialog

CSendDlg::CSendDlg(const std::string& key, QWidget* parent)
    : CDialog(kResourceId, parent), key_(key) {
    setWindowTitle(QStringLiteral("Send Message via MAPI Transport"));
}

CSendDlg::~CSendDlg() {
    if (started_)
        session_.End();
}

bool CSendDlg::OnInitDialog() {
    auto* layout = new QVBoxLayout(this);
    const struct {
        int button, edit;
        const char* label;
    } wells[] = {
        {kToButtonId, kToId, "To:"}, {kCcButtonId, kCcId, "Cc:"}, {kBccButtonId, kBccId, "Bcc:"}};
    for (const auto& w : wells) {
        auto* row = new QHBoxLayout;
        auto* button = new QPushButton(QString::fromLatin1(w.label));
        BindCommand(button, w.button);
        auto* edit = new QLineEdit;
        SetControlId(edit, w.edit);
        edit->setAccessibleName(QString::fromLatin1(w.label).chopped(1));
        row->addWidget(button);
        row->addWidget(edit, 1);
        layout->addLayout(row);
    }
    auto* attachRow = new QHBoxLayout;
    attachRow->addWidget(new QLabel(QStringLiteral("Attach:")));
    auto* files = new QListWidget;
    SetControlId(files, kAttachListId);
    files->setAccessibleName(QStringLiteral("Attach"));
    attachRow->addWidget(files, 1);
    auto* browse = new QPushButton(QStringLiteral("Browse"));
    BindCommand(browse, kBrowseId);
    attachRow->addWidget(browse);
    layout->addLayout(attachRow);
    auto* subjectRow = new QHBoxLayout;
    subjectRow->addWidget(new QLabel(QStringLiteral("Subject:")));
    auto* subject = new QLineEdit;
    SetControlId(subject, kSubjectId);
    subject->setAccessibleName(QStringLiteral("Subject"));
    subjectRow->addWidget(subject, 1);
    layout->addLayout(subjectRow);
    layout->addWidget(new QLabel(QStringLiteral("Body:")));
    auto* body = new QPlainTextEdit;
    SetControlId(body, kBodyId);
    body->setAccessibleName(QStringLiteral("Body"));
    layout->addWidget(body);
    layout->addLayout(OkCancelRow(QStringLiteral("Send")));

    started_ = true;
    if (!session_.Start(key_, this))
        EndDialog(IDCANCEL);
    return true;
}

void CSendDlg::OnCommand(int id) {
    switch (id) {
        case kToButtonId:
            ShowAddressDialog(session_, this, kToId, kCcId, kBccId);
            return;
        case kCcButtonId:
        case kBccButtonId:
            return;  // the To button's dialog has all three wells
        case kBrowseId: {
            FileDialogRequest request;
            request.save = false;
            request.title = "Attach File";
            request.filterName = "All files";
            request.patterns = "*.*";
            request.initialName = "*.*";
            if (auto chosen = GetFileName(this, request))
                GetDlgItemAs<QListWidget>(this, kAttachListId)
                    ->addItem(QString::fromStdString(*chosen));
            return;
        }
        default:
            CDialog::OnCommand(id);
    }
}

void CSendDlg::OnOK() {
    const ADRLIST* list = session_.addressList();
    if (!list || list->cEntries == 0) {
        LibraryReport().ShowError("No recipients specified");
        return;
    }
    auto* files = GetDlgItemAs<QListWidget>(this, kAttachListId);
    const std::string path = files->count() ? files->item(0)->text().toStdString() : "";
    if (SUCCEEDED(SendFile(session_, "A great subject", "A great body", path, "Send")))
        EndDialog(IDOK);
}

}  // namespace korrin::tolvlink
