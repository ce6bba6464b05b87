// The message list of the main window and the folder tree beside it: a model over one
// folder's entries, the list control (1046) with its four columns, the folder tree (1045)
// and the status line (1047), tied to the folder lists by CFolderPane.
//
// All of it lives on the user-interface thread; CFolderPane::ShowFolder may be called from
// any thread and is carried over to it.
#pragma once

#include <QAbstractTableModel>
#include <QTreeView>
#include <QTreeWidget>
#include <QWidget>

#include <vector>

#include "korrin/store/FolderList.h"

class QLineEdit;

namespace korrin {

// One folder's rows in list order; row data (Qt::UserRole) is the entry's path.
class CMessageListModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Column { kFrom = 0, kSubject = 1, kSent = 2, kSize = 3, kColumnCount = 4 };

    explicit CMessageListModel(QObject* parent = nullptr);

    void SetRows(std::vector<MessageEntry> rows);
    void Clear() { SetRows({}); }
    const MessageEntry* Entry(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    std::vector<MessageEntry> rows_;
};

// The list control: report view, left-aligned columns "From" (107 px, the To names),
// "Subject" (155), "Sent" (145) and "Size" (37). A header click does not re-sort.
class CMessageListView : public QTreeView {
    Q_OBJECT

  public:
    static constexpr int kControlId = 1046;
    static constexpr int kWidths[4] = {107, 155, 145, 37};

    explicit CMessageListView(QWidget* parent = nullptr);
    void setModel(QAbstractItemModel* model) override;

    // The row that is both selected and focused, or -1.
    int SelectedEntry() const;
};

// "Quillion EMail" with "Sent Items" (1), "Outbox" (2), "Deleted Items" (3), expanded.
class CFolderTree : public QTreeWidget {
    Q_OBJECT

  public:
    static constexpr int kControlId = 1045;

    explicit CFolderTree(QWidget* parent = nullptr);
    QTreeWidgetItem* FolderItem(int folder) const;  // null for 0 (the root)

  signals:
    // The folder number of the item the user selected; 0 for the root.
    void folderSelected(int folder);
};

// The tree, the list and the status line over the folder lists.
class CFolderPane : public QWidget, public IFolderView {
    Q_OBJECT

  public:
    static constexpr int kStatusLineId = 1047;

    CFolderPane(CFolderLists& lists, QWidget* parent = nullptr);
    ~CFolderPane() override;

    // Shows the folder (on the user-interface thread): beeps while the start-up scan runs;
    // else the list as kept. An out-of-date list is shown as it is while a reread runs off
    // this thread; the folder is shown again when the reread is done.
    void ShowFolder(int folder) override;

    CFolderTree* tree() const { return tree_; }
    CMessageListView* list() const { return list_; }
    CMessageListModel* model() const { return model_; }
    QLineEdit* statusLine() const { return status_; }
    int beeps() const { return beeps_; }

  private:
    void showNow(int folder);
    void onFolderSelected(int folder);

    CFolderLists& lists_;
    CFolderTree* tree_;
    CMessageListView* list_;
    CMessageListModel* model_;
    QLineEdit* status_;
    int beeps_ = 0;
};

}  // namespace korrin
