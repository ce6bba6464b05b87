#include "platform/ui/AddressDlg.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

#include "platform/mapi/TypedRecipients.h"
#include "platform/ui/MessageBox.h"

namespace korrin::platform {

using mapi::DialogRecipient;

void ContactListModel::SetEntries(std::vector<const mapi::ContactEntry*> entries) {
    beginResetModel();
    entries_ = std::move(entries);
    endResetModel();
}

const mapi::ContactEntry* ContactListModel::At(int row) const {
    return row >= 0 && row < static_cast<int>(entries_.size()) ? entries_[row] : nullptr;
}

int ContactListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

QVariant ContactListModel::data(const QModelIndex& index, int role) const {
    const mapi::ContactEntry* e = At(index.row());
    if (!e || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole))
        return {};
    return QString::fromStdString(e->name) + QStringLiteral(" (") +
           QString::fromStdString(e->address) + QStringLiteral(")");
}

QString WellText(const DialogRecipient& r) {
    // A piece keeps the blanks it was typed with; the well shows it without them.
    const QString name = QString::fromStdString(r.name).trimmed();
    const QString address = QString::fromStdString(r.address).trimmed();
    if (address.isEmpty())
        return name;
    if (name.isEmpty() || name == address)
        return address;
    QString shown = name;
    if (shown.contains(QRegularExpression(QStringLiteral("[,;\t\"<>]")))) {
        shown.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
        shown.replace(QStringLiteral("\""), QStringLiteral("\\\""));
        shown = QStringLiteral("\"") + shown + QStringLiteral("\"");
    }
    return shown + QStringLiteral(" <") + address + QStringLiteral(">");
}

namespace {

QString FromC(const char* s, const char* fallback) {
    return QString::fromUtf8(s && *s ? s : fallback);
}

QString Join(const QStringList& pieces) {
    return pieces.join(QStringLiteral("; "));
}

}  // namespace

CAddressDlg::CAddressDlg(const ADRPARM& params, mapi::ContactFolder& folder,
                         std::vector<DialogRecipient> recipients, QWidget* parent)
    : CDialog(kResourceId, parent),
      params_(params),
      folder_(folder),
      recipients_(std::move(recipients)) {
    setWindowTitle(caption());
}

QString CAddressDlg::caption() const {
    return FromC(params_.lpszCaption, "Address Book");
}

int CAddressDlg::wellCount() const {
    if (params_.ulFlags & ADDRESS_ONE)
        return 0;
    return static_cast<int>(std::min<ULONG>(params_.cDestFields, 3));
}

ULONG CAddressDlg::wellType(int well) const {
    if (params_.lpulDestComps)
        return params_.lpulDestComps[well];
    return static_cast<ULONG>(MAPI_TO + well);
}

bool CAddressDlg::OnInitDialog() {
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    auto* label = new QLabel(QStringLiteral("Type Name or Select from List:"));
    SetControlId(label, kSearchLabelId);
    auto* searchBox = new QLineEdit;
    SetControlId(searchBox, kSearchId);
    searchBox->setAccessibleName(QStringLiteral("Type Name or Select from List"));
    label->setBuddy(searchBox);
    model_ = new ContactListModel(this);
    list_ = new QListView;
    list_->setModel(model_);
    list_->setUniformItemSizes(true);
    list_->setSelectionMode((params_.ulFlags & ADDRESS_ONE) ? QAbstractItemView::SingleSelection
                                                            : QAbstractItemView::ExtendedSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    SetControlId(list_, kListId);
    list_->setAccessibleName(QStringLiteral("Contacts"));
    auto* newButton = new QPushButton(FromC(params_.lpszNewEntryTitle, "New"));
    BindCommand(newButton, kNewId);
    newButton->setAccessibleName(newButton->text().remove(QLatin1Char('&')));
    left->addWidget(label);
    left->addWidget(searchBox);
    left->addWidget(list_, 1);
    left->addWidget(newButton, 0, Qt::AlignLeft);
    top->addLayout(left, 1);

    const int wells = wellCount();
    if (wells > 0) {
        auto* group = new QGroupBox(FromC(params_.lpszDestWellsTitle, ""));
        SetControlId(group, kWellsTitleId);
        group->setAccessibleName(group->title().isEmpty() ? QStringLiteral("Recipients")
                                                          : group->title());
        auto* grid = new QGridLayout(group);
        static const char* const kTitles[] = {"To", "Cc", "Bcc"};
        std::vector<QStringList> texts(wells);
        for (const auto& r : recipients_)
            for (int i = 0; i < wells; ++i)
                if (wellType(i) == r.type)
                    texts[i] << WellText(r);
        for (int i = 0; i < wells; ++i) {
            const QString title = params_.lppszDestTitles
                                      ? FromC(params_.lppszDestTitles[i], kTitles[i])
                                      : QString::fromLatin1(kTitles[i]);
            auto* button = new QPushButton(title + QStringLiteral(" ->"));
            BindCommand(button, kWellButtonId + i);
            button->setAccessibleName(title);
            auto* edit = new QLineEdit(Join(texts[i]));
            SetControlId(edit, kWellId + i);
            edit->setAccessibleName(title);
            grid->addWidget(button, i, 0);
            grid->addWidget(edit, i, 1);
        }
        top->addWidget(group, 1);
    }
    layout->addLayout(top, 1);

    layout->addLayout(OkCancelRow());

    connect(searchBox, &QLineEdit::textChanged, this, [this] { search(); });
    connect(list_, &QListView::doubleClicked, this, [this] {
        if (params_.ulFlags & ADDRESS_ONE)
            OnOK();
        else if (wellCount() > 0)
            addSelectionToWell(0);
    });
    search();
    resize(DialogUnitsToPixels(wells > 0 ? 320 : 200, 180));
    return true;
}

void CAddressDlg::search() {
    folder_.Refresh();
    model_->SetEntries(folder_.Search(GetDlgItemText(this, kSearchId).toStdString()));
    if (model_->rowCount() > 0)
        list_->setCurrentIndex(model_->index(0));
}

void CAddressDlg::addSelectionToWell(int well) {
    auto* edit = GetDlgItemAs<QLineEdit>(this, kWellId + well);
    if (!edit)
        return;
    QStringList pieces;
    if (!edit->text().trimmed().isEmpty())
        pieces << edit->text().trimmed();
    auto rows = list_->selectionModel()->selectedRows();
    if (rows.isEmpty() && list_->currentIndex().isValid())
        rows << list_->currentIndex();
    for (const auto& index : rows)
        if (const auto* e = model_->At(index.row()))
            pieces << WellText({wellType(well), e->name, e->address});
    edit->setText(Join(pieces));
}

void CAddressDlg::newContact() {
    CNewContactDlg dialog(FromC(params_.lpszNewEntryTitle, "New"), folder_, this);
    if (dialog.DoModal() != IDOK)
        return;
    SetDlgItemText(this, kSearchId, QString::fromStdString(dialog.Name()));
    search();
}

void CAddressDlg::OnCommand(int id) {
    if (id == kNewId) {
        newContact();
        return;
    }
    if (id >= kWellButtonId && id < kWellButtonId + wellCount()) {
        addSelectionToWell(id - kWellButtonId);
        return;
    }
    CDialog::OnCommand(id);
}

void CAddressDlg::OnOK() {
    if (params_.ulFlags & ADDRESS_ONE) {
        // The shown entry as it is now: the list's rows point into the folder's contents,
        // which the next refresh replaces.
        const mapi::ContactEntry* e = model_->At(list_->currentIndex().row());
        if (!e) {
            MessageBox(this, "No name is selected.", caption().toStdString(), MB_OK | MB_ICONSTOP);
            return;
        }
        recipients_ = {{MAPI_TO, e->name, e->address}};
        EndDialog(IDOK);
        return;
    }
    search();  // others' changes count; the list is shown again from the new contents
    std::vector<DialogRecipient> chosen;
    for (int i = 0; i < wellCount(); ++i) {
        auto* edit = GetDlgItemAs<QLineEdit>(this, kWellId + i);
        for (const auto& piece : mapi::SplitTypedRecipients(edit->text().toStdString())) {
            const mapi::Resolution r = folder_.Resolve(piece);
            if (r.kind == mapi::Resolution::kItself || r.kind == mapi::Resolution::kContact) {
                chosen.push_back({wellType(i), r.name, r.address});
                continue;
            }
            if (params_.ulFlags & AB_RESOLVE) {
                const std::string why = r.kind == mapi::Resolution::kAmbiguous
                                            ? "\" matches more than one address book entry."
                                            : "\" matches no address book entry.";
                MessageBox(this, "\"" + piece + why, caption().toStdString(), MB_OK | MB_ICONSTOP);
                edit->setFocus();
                const int at = edit->text().indexOf(QString::fromStdString(piece));
                if (at >= 0)
                    edit->setSelection(at, static_cast<int>(QString::fromStdString(piece).size()));
                return;
            }
            chosen.push_back({wellType(i), piece, {}});
        }
    }
    recipients_ = std::move(chosen);
    EndDialog(IDOK);
}

// ---- New contact

CNewContactDlg::CNewContactDlg(const QString& title, mapi::ContactFolder& folder, QWidget* parent)
    : CDialog(kResourceId, parent), title_(title), folder_(folder) {
    setWindowTitle(title_);
}

bool CNewContactDlg::OnInitDialog() {
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    auto* name = new QLineEdit;
    auto* address = new QLineEdit;
    SetControlId(name, kNameId);
    SetControlId(address, kAddressId);
    name->setAccessibleName(QStringLiteral("Name"));
    address->setAccessibleName(QStringLiteral("E-mail address"));
    form->addRow(QStringLiteral("&Name:"), name);
    form->addRow(QStringLiteral("&E-mail address:"), address);
    layout->addLayout(form);
    layout->addLayout(OkCancelRow());
    return true;
}

void CNewContactDlg::OnOK() {
    const std::string name = GetDlgItemText(this, kNameId).toStdString();
    const std::string address = GetDlgItemText(this, kAddressId).toStdString();
    std::string error;
    if (!folder_.AddContact(name, address, &path_, &error)) {
        MessageBox(this, error, title_.toStdString(), MB_OK | MB_ICONSTOP);
        return;
    }
    name_ = name;  // the address dialog shows it at its next search
    EndDialog(IDOK);
}

HRESULT ShowAddressDialog(ULONG_PTR parent, const ADRPARM& params, mapi::ContactFolder& folder,
                          std::vector<DialogRecipient>* recipients) {
    CAddressDlg dialog(params, folder, *recipients, reinterpret_cast<QWidget*>(parent));
    if (dialog.DoModal() != IDOK)
        return MAPI_E_USER_CANCEL;
    *recipients = dialog.Recipients();
    return S_OK;
}

void InstallAddressDialog() {
    mapi::SetAddressDialog(ShowAddressDialog);
}

}  // namespace korrin::platform
