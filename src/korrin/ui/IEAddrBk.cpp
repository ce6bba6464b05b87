#include "korrin/ui/IEAddrBk.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <cstring>

#include "korrin/app/Defaults.h"
#include "korrin/app/EventReport.h"
#include "korrin/app/Utils.h"
#include "korrin/app/Vendor.h"
#include "korrin/mail/mailutil.h"
#include "platform/dynlib/DynLib.h"
#include "platform/mapi/Mapi.h"
#include "platform/registry/Registry.h"
#include "platform/shell/Shell.h"

namespace korrin {

using namespace platform;

namespace {

// The pieces of a typed field: split at ",", ";" and TAB, empty ones skipped, not trimmed.
std::vector<std::string> Pieces(const std::string& text) {
    std::vector<std::string> out;
    std::string piece;
    for (char c : text) {
        if (c == ',' || c == ';' || c == '\t') {
            if (!piece.empty())
                out.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    if (!piece.empty())
        out.push_back(piece);
    return out;
}

std::string CutUtf8(const std::string& s, std::size_t max) {
    if (s.size() <= max)
        return s;
    std::size_t cut = max;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80)
        --cut;
    return s.substr(0, cut);
}

const SPropValue* Find(const ADRENTRY& e, ULONG tag) {
    return e.rgPropVals ? PpropFindProp(e.rgPropVals, e.cValues, tag) : nullptr;
}

std::string TextOf(const ADRENTRY& e, ULONG tag) {
    const SPropValue* v = Find(e, tag);
    return v && PROP_TYPE(v->ulPropTag) == PT_STRING8 && v->Value.lpszA ? v->Value.lpszA : "";
}

}  // namespace

WabAddressBook::~WabAddressBook() {
    FreeAdrList(current_);
    if (addrBook_)
        addrBook_->Release();
    if (wabObject_)
        wabObject_->Release();
}

HRESULT WabAddressBook::OpenWab() {
    std::string path;
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\WAB\\DLLPath", &key) ==
        ERROR_SUCCESS) {
        std::uint8_t buffer[260] = {};
        DWORD size = sizeof buffer - 1;
        DWORD type = 0;
        if (RegQueryValueEx(key, "", &type, buffer, &size) == ERROR_SUCCESS && type == REG_SZ)
            path.assign(reinterpret_cast<const char*>(buffer),
                        strnlen(reinterpret_cast<const char*>(buffer), size));
        RegCloseKey(key);
    }
    HMODULE library = LoadLibrary(path.empty() ? "WAB32.dll" : path);
    if (!library)
        return E_FAIL;
    auto open = reinterpret_cast<LPWABOPEN>(GetProcAddress(library, "WABOpen"));
    if (!open)
        return E_FAIL;
    return open(&addrBook_, &wabObject_, nullptr, 0);
}

void WabAddressBook::FreeAdrList(ADRLIST* list) {
    if (!list || !wabObject_)
        return;
    for (ULONG i = 0; i < list->cEntries; ++i)
        wabObject_->FreeBuffer(list->aEntries[i].rgPropVals);
    wabObject_->FreeBuffer(list);
}

bool WabAddressBook::BuildAdrList(QWidget* owner, const std::string& to, const std::string& cc,
                                  const std::string& bcc, ADRLIST** out) {
    *out = nullptr;
    if (!wabObject_ || !addrBook_)
        return false;
    const std::vector<std::string> fields[] = {Pieces(to), Pieces(cc), Pieces(bcc)};
    std::size_t count = 0;
    for (const auto& f : fields)
        count += f.size();
    if (count == 0)
        return true;
    // Sized by the pieces counted, so no slot of the list is left unfilled.
    void* block = nullptr;
    if (wabObject_->AllocateBuffer(static_cast<ULONG>(CbNewADRLIST(static_cast<ULONG>(count))),
                                   &block) != S_OK) {
        KORRIN_REPORT("AllocateBuffer failed");
        return false;
    }
    auto* list = static_cast<ADRLIST*>(block);
    list->cEntries = 0;
    for (ULONG type = MAPI_TO; type <= MAPI_BCC; ++type) {
        for (const auto& piece : fields[type - MAPI_TO]) {
            void* values = nullptr;
            if (wabObject_->AllocateBuffer(2 * sizeof(SPropValue), &values) != S_OK) {
                KORRIN_REPORT("AllocateBuffer failed");
                FreeAdrList(list);
                return false;
            }
            void* text = nullptr;
            if (wabObject_->AllocateMore(static_cast<ULONG>(piece.size() + 1), values, &text) !=
                S_OK) {
                KORRIN_REPORT("AllocateMore failed");
                wabObject_->FreeBuffer(values);
                FreeAdrList(list);
                return false;
            }
            std::memcpy(text, piece.c_str(), piece.size() + 1);
            auto* v = static_cast<SPropValue*>(values);
            v[0].ulPropTag = PR_DISPLAY_NAME;
            v[0].Value.lpszA = static_cast<char*>(text);
            v[1].ulPropTag = PR_RECIPIENT_TYPE;
            v[1].Value.ul = type;
            list->aEntries[list->cEntries++] = {0, 2, v};
        }
    }
    *out = list;
    // Entries the book cannot resolve stay as typed.
    addrBook_->ResolveName(reinterpret_cast<ULONG_PTR>(owner), 0, nullptr, list);
    return true;
}

bool WabAddressBook::ShowAddressDialog(QWidget* owner, ADRLIST** list) {
    if (!addrBook_)
        return false;
    ADRPARM params{};
    params.ulFlags = DIALOG_MODAL | AB_RESOLVE;
    params.lpszCaption = const_cast<char*>("Address Book");
    params.lpszNewEntryTitle = const_cast<char*>("New");
    params.lpszDestWellsTitle = const_cast<char*>("Send Note To");
    params.cDestFields = 3;
    ULONG_PTR parent = reinterpret_cast<ULONG_PTR>(owner);
    return addrBook_->Address(&parent, &params, list) >= 0;
}

std::string WabAddressBook::JoinRecipients(const ADRLIST* list, ULONG propTag, ULONG recipientType,
                                           std::size_t capacity) {
    std::string out;
    for (ULONG i = 0; list && i < list->cEntries; ++i) {
        const ADRENTRY& e = list->aEntries[i];
        const SPropValue* type = Find(e, PR_RECIPIENT_TYPE);
        if (!type || type->Value.ul != recipientType)
            continue;
        const std::string text = TextOf(e, propTag);
        const std::string separator = out.empty() ? "" : "; ";
        if (capacity && out.size() + separator.size() + text.size() + 5 > capacity) {
            out += "...";
            break;
        }
        out += separator + text;
    }
    return out;
}

std::string WabAddressBook::FieldText(const ADRLIST* list, ULONG recipientType) {
    std::string out;
    for (ULONG i = 0; list && i < list->cEntries; ++i) {
        const ADRENTRY& e = list->aEntries[i];
        const SPropValue* type = Find(e, PR_RECIPIENT_TYPE);
        if (!type || type->Value.ul != recipientType)
            continue;
        const std::string name = TextOf(e, PR_DISPLAY_NAME);
        const std::string address = TextOf(e, PR_EMAIL_ADDRESS);
        std::string text;
        if (address.empty())
            text = name;
        else if (name.empty() || name == address ||
                 name.find_first_of(",;\t\"<>") != std::string::npos)
            text = address;
        else
            text = name + " <" + address + ">";
        out += (out.empty() ? "" : "; ") + text;
    }
    return out;
}

void WabAddressBook::AddRecipientsToMail(CMailUtil& mail, const ADRLIST* list) {
    ULONG type = 0;
    for (ULONG i = 0; list && i < list->cEntries; ++i) {
        const ADRENTRY& e = list->aEntries[i];
        if (const SPropValue* t = Find(e, PR_RECIPIENT_TYPE))
            type = t->Value.ul;
        const std::string name = CutUtf8(TextOf(e, PR_DISPLAY_NAME), 127);
        std::string address = TextOf(e, PR_EMAIL_ADDRESS);
        if (address.empty())
            address = TextOf(e, PR_DISPLAY_NAME);
        if (type == MAPI_TO)
            mail.AddTo(name, address);
        else if (type == MAPI_CC)
            mail.AddCc(name, address);
        else if (type == MAPI_BCC)
            mail.AddBcc(address);
    }
}

// ---- The Address Book dialog

CAddressBookDlg::CAddressBookDlg(std::function<bool()> loadMapi, QWidget* parent)
    : CDialog(kResourceId, parent), loadMapi_(std::move(loadMapi)) {
    setWindowTitle(QStringLiteral("Address Book"));
}

bool CAddressBookDlg::OnInitDialog() {
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(QStringLiteral(
        "Select the Address Book you wish to use when composing, replying and forwarding "
        "Quillion EMail for Windows(tm) messages. For more information concerning the address "
        "books press the \"More Info from the Web\" button below."));
    text->setWordWrap(true);
    auto* group = new QGroupBox(QStringLiteral("Address Book"));
    group->setAccessibleName(QStringLiteral("Address Book"));
    auto* radios = new QVBoxLayout(group);
    const std::pair<int, const char*> choices[] = {{kWabId, "WAB (Windows Address Book) (default)"},
                                                   {kMapiId, "MAPI"},
                                                   {kNetscapeId, "Netscape"}};
    for (const auto& [id, label] : choices) {
        auto* radio = new QRadioButton(QString::fromLatin1(label));
        radio->setAutoExclusive(false);  // the dialog checks one itself
        radio->setAccessibleName(QString::fromLatin1(label));
        BindCommand(radio, id);
        radios->addWidget(radio);
    }
    auto* info = new QPushButton(QStringLiteral("More Info from the Web"));
    info->setAccessibleName(info->text());
    BindCommand(info, kMoreInfoId);
    QHBoxLayout* row = OkCancelRow();
    row->insertWidget(0, info);
    layout->addWidget(text);
    layout->addWidget(group);
    layout->addLayout(row);

    GetDlgItem(this, kNetscapeId)->setEnabled(false);
    DWORD value = 1;
    CUtils().GetRegistryDword(kKorrinKey, setting::kAddressBook, value);
    if (!(loadMapi_ && loadMapi_()))
        GetDlgItem(this, kMapiId)->setEnabled(false);
    select(static_cast<int>(value));
    return true;
}

void CAddressBookDlg::select(int value) {
    choice_ = value;
    const std::pair<int, int> buttons[] = {{kWabId, 1}, {kNetscapeId, 2}, {kMapiId, 3}};
    for (const auto& [id, v] : buttons)
        if (auto* radio = GetDlgItemAs<QRadioButton>(this, id))
            radio->setChecked(v == value);
}

void CAddressBookDlg::OnCommand(int id) {
    switch (id) {
        case kWabId:
            select(1);
            return;
        case kNetscapeId:
            select(2);
            return;
        case kMapiId:
            select(3);
            return;
        case kMoreInfoId:
            // The page about the address books, as the Transport dialog opens its own.
            platform::ShellExecute("open", vendor::Page("addressbooks.html"));
            return;
        default:
            CDialog::OnCommand(id);
    }
}

void CAddressBookDlg::OnOK() {
    if (CUtils().SetRegistryDword(kKorrinKey, setting::kAddressBook, static_cast<DWORD>(choice_)) !=
        1) {
        KORRIN_REPORT("RegSetValueEx failed");
        return;
    }
    EndDialog(IDOK);
}

}  // namespace korrin
