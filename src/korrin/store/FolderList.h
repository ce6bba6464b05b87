// The in-memory lists of the three message folders: one entry per message file, read from
// disk by a start-up scan on its own thread, kept in step with moves entry by entry, and
// reread only when a list is marked out of date.
//
// The lists are changed by the user-interface thread and by the transmission worker; every
// access goes through the object's mutex, and no file is read while it is held. Readers get
// copies. The loaded flag, the out-of-date marks and the current folder are atomic.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "korrin/audio/Fix.h"
#include "korrin/store/Folders.h"
#include "korrin/store/Trailer.h"

namespace korrin {

struct MessageEntry {
    std::string path;
    std::string toNames;
    std::string subject;
    std::string sentText;  // the short date text, local time
    SYSTEMTIME date;       // UTC
    std::uint32_t size = 0;
    // Another program held the file when it was read: no texts yet, read again at the next
    // fill of the list (the list stays marked out of date).
    bool busy = false;
};

// What the Subject column shows for a busy entry.
inline constexpr const char* kBusySubject = "(busy)";

// "%dK" of (size + 500) / 1000: 1K is 1000 bytes, rounded to the nearest.
std::string SizeText(std::uint32_t size);
// "OUTBOX - 3 Quillion EMail for Windows(tm) Messages" and likewise for SENT and DELETED.
std::string StatusLineText(int folder, int rows);

// Reads every message file of the folder (*.KX0 first, then *.KX1, in file-system order)
// into entries. 0; 1 when InstallDir is missing (reported); 2 when a .KX1 file without a
// current trailer was met that is not named in leftAlone (the files a fix has left as they
// are). Every file gets an entry: one without a readable trailer (a .KX0, or a .KX1 of the
// old layout) has empty texts. Never waits for a file another opener holds: its entry is
// marked busy, which is not old.
int FillEntries(int folder, std::vector<MessageEntry>* entries,
                const std::set<std::string>* leftAlone = nullptr);

// What each file of a fix came to.
using FixResults = std::vector<std::pair<std::string, FixResult>>;

// Brings the old-layout message files of a folder into the current layout; the window runs
// its fixing dialog. Called on the thread that fills a list (the start-up scan, or the
// user-interface thread), which waits for it.
class IOldMessageFixer {
  public:
    virtual ~IOldMessageFixer() = default;
    // Fixes the old files of the folder at folderPath but those in skip. Returns when the job
    // is over, or with nothing as soon as stop becomes true (the lists are going).
    virtual FixResults FixOldMessages(const std::string& folderPath,
                                      const std::set<std::string>& skip,
                                      const std::atomic<bool>& stop) = 0;
};

// Newest first by date to the whole second; equal dates keep their order.
void SortNewestFirst(std::vector<MessageEntry>& entries);

// The window that shows one folder at a time. Called on the thread that changed a list; the
// window brings the call to its own thread.
class IFolderView {
  public:
    virtual ~IFolderView() = default;
    virtual void ShowFolder(int folder) = 0;
};

class CFolderLists {
  public:
    CFolderLists() = default;
    ~CFolderLists();  // waits for a running scan
    CFolderLists(const CFolderLists&) = delete;
    CFolderLists& operator=(const CFolderLists&) = delete;

    // Rereads the folder from disk, sorted, and stores it; clears its out-of-date mark first
    // so a mark set while the disk is read survives, and reads again when an entry was added
    // or removed meanwhile. Returns the fill's result. When the fill meets old-layout
    // messages (2), the fixer fixes them and the folder is read once more; files it left as
    // they are (they cannot be fixed) are listed without texts and not offered to it again
    // while these lists live. Without a fixer the files are listed and left as they are, and
    // the folder is reported once.
    int LoadFolder(int folder);

    // The fixer of old-layout messages (null: none). It must outlive its use: the owner
    // calls CancelFixes and waits for the scan before it goes.
    void SetFixer(IOldMessageFixer* fixer) { fixer_.store(fixer); }
    // A fix being waited for is given up (the window is closing); no new one starts.
    void CancelFixes() { stopping_.store(true); }

    // The start-up scan: folders 1, 2 and 3 on a thread of their own, then the loaded flag.
    void StartScan();
    // Waits for the start-up scan and for a reread started by EntriesKnown. Any thread.
    void WaitForScan();
    bool IsLoaded() const { return loaded_.load(); }

    void MarkOutOfDate(int folder);
    bool IsOutOfDate(int folder) const;

    // The rows to show for a folder: the list as it is, or reread first (on the caller's
    // thread, so never the window's) when it is marked out of date or has no entries. False before
    // the start-up scan has finished (the caller beeps and shows nothing).
    bool EntriesForShow(int folder, std::vector<MessageEntry>* rows);
    // What the window shows, without reading the disk on the caller's thread: the list as it
    // is now. When it is out of date or has no entries, a reread starts on a thread of its
    // own (rereading is then true) and, once it is done, the view is asked to show the folder
    // again if it is still the current one; that show does not start another reread. False
    // before the start-up scan has finished.
    bool EntriesKnown(int folder, std::vector<MessageEntry>* rows, bool* rereading = nullptr);
    std::vector<MessageEntry> Entries(int folder) const;
    std::size_t Count(int folder) const;

    // A new message file at the front of the folder's list. Its trailer is read first; a
    // file without a current trailer is reported ("Old File Found failed") and listed with
    // empty texts. Returns 0.
    int AddEntry(int folder, const std::string& path);
    // Removes the entry of the message now at path: the entry listed under formerPath when
    // there is one, else the first whose date (to the second) equals the file's date.
    // 0; 1 when no entry matches ("Message Object not found : %s").
    int RemoveEntry(int folder, const std::string& path, const std::string& formerPath = {});

    // What a successful move does to the lists (destination first, then the source), then a
    // refresh of the folder on show. formerPath is where the message was before the move.
    void AfterMove(const std::string& placed, int destination, int source,
                   const std::string& formerPath = {});

    void SetCurrentFolder(int folder) { current_.store(folder); }  // 0: none (the tree root)
    int CurrentFolder() const { return current_.load(); }
    // Once SetView(nullptr) has returned, no thread is inside a call of the former view.
    void SetView(IFolderView* view);
    // Shows the current folder again through the view (nothing when there is none).
    void Refresh();

    void FreeAll();

  private:
    static bool valid(int folder) { return folder >= 1 && folder <= 3; }
    int fill(int folder, std::vector<MessageEntry>* entries, bool* fixTried);
    void rereadLater(int folder);
    void rereadLoop();
    void waitForReread();

    mutable std::mutex mutex_;
    std::vector<MessageEntry> lists_[4];       // index = folder number; 0 unused
    std::uint64_t changes_[4] = {0, 0, 0, 0};  // bumped by every change of a list
    std::atomic<bool> outOfDate_[4] = {false, false, false, false};
    std::atomic<bool> loaded_{false};
    std::atomic<int> current_{0};
    std::atomic<IFolderView*> view_{nullptr};
    std::atomic<IOldMessageFixer*> fixer_{nullptr};
    std::atomic<bool> stopping_{false};
    std::set<std::string> leftAlone_;  // files a fix left as they are, for good
    bool oldReported_[4] = {false, false, false, false};
    std::recursive_mutex viewMutex_;  // held around every call of the view
    std::thread scan_;

    // Rereads asked for by EntriesKnown: one thread works off the folders asked for.
    std::mutex rereadMutex_;
    unsigned pending_ = 0;  // bit per folder number
    bool rereading_ = false;
    std::thread reread_;
    std::atomic<bool> justReread_[4] = {false, false, false, false};
};

}  // namespace korrin
