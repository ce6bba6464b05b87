#include "korrin/ui/MessageList.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPointer>
#include <QVBoxLayout>

#include "platform/ui/Dialog.h"
#include "platform/ui/UiThread.h"

namespace korrin {

using namespace platform;

namespace {

// Message texts are ANSI; Latin-1 is what they are shown as.
QString text(const std::string& s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

// ---- model

CMessageListModel::CMessageListModel(QObject* parent) : QAbstractTableModel(parent) {}

void CMessageListModel::SetRows(std::vector<MessageEntry> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

const MessageEntry* CMessageListModel::Entry(int row) const {
    return row >= 0 && static_cast<std::size_t>(row) < rows_.size() ? &rows_[row] : nullptr;
}

int CMessageListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int CMessageListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant CMessageListModel::data(const QModelIndex& index, int role) const {
    const MessageEntry* e = Entry(index.row());
    if (!e)
        return {};
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    if (role == Qt::UserRole)
        return QString::fromStdString(e->path);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
        case kFrom:
            return text(e->toNames);  // the recipients, although the header says "From"
        case kSubject:
            return e->busy ? QString::fromLatin1(kBusySubject) : text(e->subject);
        case kSent:
            return text(e->sentText);
        case kSize:
            return QString::fromStdString(SizeText(e->size));
        default:
            return {};
    }
}

QVariant CMessageListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    if (role != Qt::DisplayRole)
        return {};
    static const char* const headers[kColumnCount] = {"From", "Subject", "Sent", "Size"};
    return section >= 0 && section < kColumnCount ? QString::fromLatin1(headers[section])
                                                  : QVariant();
}

// ---- list control

CMessageListView::CMessageListView(QWidget* parent) : QTreeView(parent) {
    SetControlId(this, kControlId);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSortingEnabled(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    header()->setSortIndicatorShown(false);
    header()->setStretchLastSection(false);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void CMessageListView::setModel(QAbstractItemModel* model) {
    QTreeView::setModel(model);
    for (int c = 0; c < 4; ++c)
        setColumnWidth(c, kWidths[c]);
}

int CMessageListView::SelectedEntry() const {
    if (!model() || !selectionModel())
        return -1;
    const int focused = currentIndex().isValid() ? currentIndex().row() : -1;
    for (int row = 0; row < model()->rowCount(); ++row)
        if (row == focused && selectionModel()->isRowSelected(row, QModelIndex()))
            return row;
    return -1;
}

// ---- folder tree

CFolderTree::CFolderTree(QWidget* parent) : QTreeWidget(parent) {
    SetControlId(this, kControlId);
    setHeaderHidden(true);
    setColumnCount(1);
    auto* root = new QTreeWidgetItem(this, QStringList{QStringLiteral("Quillion EMail")});
    root->setData(0, Qt::UserRole, 0);
    const struct {
        const char* label;
        int folder;
    } children[] = {
        {"Sent Items", kSentItems}, {"Outbox", kOutbox}, {"Deleted Items", kDeletedItems}};
    for (const auto& c : children) {
        auto* item = new QTreeWidgetItem(root, QStringList{QString::fromLatin1(c.label)});
        item->setData(0, Qt::UserRole, c.folder);
    }
    root->setExpanded(true);
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item, QTreeWidgetItem*) {
                if (item)
                    emit folderSelected(item->data(0, Qt::UserRole).toInt());
            });
}

QTreeWidgetItem* CFolderTree::FolderItem(int folder) const {
    QTreeWidgetItem* root = topLevelItem(0);
    for (int i = 0; root && i < root->childCount(); ++i)
        if (root->child(i)->data(0, Qt::UserRole).toInt() == folder)
            return root->child(i);
    return nullptr;
}

// ---- pane

CFolderPane::CFolderPane(CFolderLists& lists, QWidget* parent)
    : QWidget(parent),
      lists_(lists),
      tree_(new CFolderTree(this)),
      list_(new CMessageListView(this)),
      model_(new CMessageListModel(this)),
      status_(new QLineEdit(this)) {
    list_->setModel(model_);
    status_->setReadOnly(true);
    SetControlId(status_, kStatusLineId);
    auto* right = new QVBoxLayout;
    right->addWidget(list_, 1);
    right->addWidget(status_);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(tree_);
    layout->addLayout(right, 1);
    connect(tree_, &CFolderTree::folderSelected, this, &CFolderPane::onFolderSelected);
    lists_.SetView(this);
}

CFolderPane::~CFolderPane() {
    lists_.SetView(nullptr);
}

void CFolderPane::onFolderSelected(int folder) {
    lists_.SetCurrentFolder(folder);
    if (folder != 0)  // the root leaves the list as it was
        showNow(folder);
}

void CFolderPane::ShowFolder(int folder) {
    if (OnUiThread()) {
        showNow(folder);
        return;
    }
    QPointer<CFolderPane> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, folder] {
            if (self)
                self->showNow(folder);
        },
        Qt::QueuedConnection);
}

void CFolderPane::showNow(int folder) {
    if (!IsFolderNumber(folder))
        return;
    std::vector<MessageEntry> rows;
    if (!lists_.EntriesKnown(folder, &rows)) {
        ++beeps_;
        QApplication::beep();
        return;
    }
    const int count = static_cast<int>(rows.size());
    model_->SetRows(std::move(rows));
    status_->setText(QString::fromStdString(StatusLineText(folder, count)));
}

}  // namespace korrin
