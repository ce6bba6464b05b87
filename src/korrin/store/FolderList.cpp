#include "korrin/store/FolderList.h"

#include <algorithm>
#include <filesystem>
#include <numeric>
#include <utility>

#include "korrin/app/EventReport.h"
#include "platform/files/Files.h"

namespace korrin {

using namespace platform;

namespace {

std::int64_t secondsOf(const SYSTEMTIME& t) {
    std::int64_t s;
    SystemTimeToSeconds(t, &s);  // 0 for a date out of range
    return s;
}

// The entry of a file whose trailer read gave `result`: without a good read, empty texts.
MessageEntry entryFor(const std::string& path, const CMessageTrailer& t, int result) {
    MessageEntry e;
    e.path = path;
    e.busy = result == trailer::kBusy;
    if (result == trailer::kRead) {
        e.toNames = t.toNames;
        e.subject = t.subject;
        e.sentText = t.shortDate;
        e.date = t.date;
    }
    std::uint64_t size = t.fileSize;
    if (size == 0) {  // the read could not get at the file; ask the folder
        std::error_code ec;
        auto n = std::filesystem::file_size(path, ec);
        size = ec ? 0 : n;
    }
    e.size = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(size);
    return e;
}

}  // namespace

std::string SizeText(std::uint32_t size) {
    return std::to_string((static_cast<std::uint64_t>(size) + 500) / 1000) + "K";
}

std::string StatusLineText(int folder, int rows) {
    return std::string(FolderDirectoryName(folder)) + " - " + std::to_string(rows) +
           " Quillion EMail for Windows(tm) Messages";
}

int FillEntries(int folder, std::vector<MessageEntry>* entries,
                const std::set<std::string>* leftAlone) {
    entries->clear();
    std::vector<std::string> kx0, kx1;
    if (FindMessageFiles(folder, &kx0, &kx1) != 0)
        return 1;
    entries->reserve(kx0.size() + kx1.size());
    int found = 0;
    for (const auto* list : {&kx0, &kx1}) {
        const bool zipped = list == &kx1;
        for (const auto& path : *list) {
            CMessageTrailer t;
            int result = t.ReadForList(path);
            // No yield per entry: the scan runs on its own thread and is preempted like any
            // other, while a yield on a busy machine waits out every other runnable task.
            entries->push_back(entryFor(path, t, result));
            // An old file is listed like a plain one without trailer; the fill goes on, so
            // one file never hides the rest of the folder.
            if (zipped && result == trailer::kNoTrailer && !(leftAlone && leftAlone->count(path)))
                found = 2;
        }
    }
    return found;
}

void SortNewestFirst(std::vector<MessageEntry>& entries) {
    std::vector<std::int64_t> keys(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
        keys[i] = secondsOf(entries[i].date);
    std::vector<std::size_t> order(entries.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return keys[a] > keys[b]; });
    std::vector<MessageEntry> sorted;
    sorted.reserve(entries.size());
    for (std::size_t i : order)
        sorted.push_back(std::move(entries[i]));
    entries.swap(sorted);
}

CFolderLists::~CFolderLists() {
    CancelFixes();
    WaitForScan();
}

// One fill; old-layout files met are handed to the fixer once, then the folder is read again.
int CFolderLists::fill(int folder, std::vector<MessageEntry>* entries, bool* fixTried) {
    std::set<std::string> leftAlone;
    {
        std::lock_guard lock(mutex_);
        leftAlone = leftAlone_;
    }
    int result = FillEntries(folder, entries, &leftAlone);
    if (result != 2)
        return result;
    IOldMessageFixer* fixer = fixer_.load();
    if (*fixTried)
        return result;
    *fixTried = true;
    if (!fixer || stopping_.load()) {
        bool report;
        {
            std::lock_guard lock(mutex_);
            report = !std::exchange(oldReported_[folder], true);
        }
        if (report)
            KORRIN_REPORT(std::string("Old messages found in ") + FolderDirectoryName(folder) +
                          ": they were left untouched");
        return result;
    }
    std::string installDir;
    if (ReadInstallDir(installDir) != 0)
        return 1;
    const FixResults results =
        fixer->FixOldMessages(FolderPath(installDir, folder), leftAlone, stopping_);
    {
        std::lock_guard lock(mutex_);
        for (const auto& [path, r] : results)
            if (r.outcome == FixOutcome::kLeft && !r.fault)
                leftAlone_.insert(path);
        leftAlone = leftAlone_;
    }
    // Once: what is still old now failed on the way and waits for the next reading.
    FillEntries(folder, entries, &leftAlone);
    return result;
}

int CFolderLists::LoadFolder(int folder) {
    if (!valid(folder))
        return 1;
    // An entry added or removed while the disk is read would be lost by storing what was
    // read; read again then, and after a few rounds leave the list marked out of date.
    constexpr int kRounds = 3;
    bool fixTried = false;
    for (int round = 1;; ++round) {
        outOfDate_[folder].store(false);
        std::uint64_t before;
        {
            std::lock_guard lock(mutex_);
            before = changes_[folder];
        }
        std::vector<MessageEntry> entries;
        const int result = fill(folder, &entries, &fixTried);
        SortNewestFirst(entries);
        {
            std::lock_guard lock(mutex_);
            const bool changed = changes_[folder] != before;
            if (changed && round < kRounds)
                continue;
            // A busy entry is read again at the next show.
            const bool busy = std::any_of(entries.begin(), entries.end(),
                                          [](const MessageEntry& e) { return e.busy; });
            if (changed || busy)
                outOfDate_[folder].store(true);
            lists_[folder].swap(entries);
            ++changes_[folder];
        }
        return result;
    }
}

void CFolderLists::StartScan() {
    WaitForScan();
    scan_ = std::thread([this] {
        for (int folder : {kSentItems, kOutbox, kDeletedItems})
            LoadFolder(folder);
        loaded_.store(true);
    });
}

void CFolderLists::WaitForScan() {
    if (scan_.joinable())
        scan_.join();
    waitForReread();
}

void CFolderLists::MarkOutOfDate(int folder) {
    if (valid(folder)) {
        justReread_[folder].store(false);
        outOfDate_[folder].store(true);
    }
}

bool CFolderLists::IsOutOfDate(int folder) const {
    return valid(folder) && outOfDate_[folder].load();
}

bool CFolderLists::EntriesForShow(int folder, std::vector<MessageEntry>* rows) {
    rows->clear();
    if (!loaded_.load() || !valid(folder))
        return false;
    bool reload = outOfDate_[folder].load();
    if (!reload) {
        std::lock_guard lock(mutex_);
        reload = lists_[folder].empty();
    }
    if (reload) {
        LoadFolder(folder);
    }
    std::lock_guard lock(mutex_);
    *rows = lists_[folder];
    return true;
}

bool CFolderLists::EntriesKnown(int folder, std::vector<MessageEntry>* rows, bool* rereading) {
    rows->clear();
    if (rereading)
        *rereading = false;
    if (!loaded_.load() || !valid(folder))
        return false;
    bool reread = outOfDate_[folder].load();
    {
        std::lock_guard lock(mutex_);
        reread = reread || lists_[folder].empty();
        *rows = lists_[folder];
    }
    // The show that follows a reread takes what it read, busy entries included: they are
    // read again at the user's next show, as with a reread on the spot.
    if (justReread_[folder].exchange(false))
        reread = false;
    if (reread)
        rereadLater(folder);
    if (rereading)
        *rereading = reread;
    return true;
}

void CFolderLists::rereadLater(int folder) {
    std::lock_guard lock(rereadMutex_);
    pending_ |= 1u << folder;
    if (rereading_)
        return;  // the running reread takes it next
    if (reread_.joinable())
        reread_.join();  // its work is done; it is only leaving
    rereading_ = true;
    reread_ = std::thread([this] { rereadLoop(); });
}

void CFolderLists::rereadLoop() {
    for (;;) {
        int folder = 0;
        {
            std::lock_guard lock(rereadMutex_);
            for (int f = 1; f <= 3 && folder == 0; ++f)
                if (pending_ & (1u << f))
                    folder = f;
            if (folder == 0) {
                rereading_ = false;
                return;
            }
            pending_ &= ~(1u << folder);
        }
        LoadFolder(folder);
        if (current_.load() == folder) {
            justReread_[folder].store(true);
            Refresh();
        }
    }
}

void CFolderLists::waitForReread() {
    std::thread done;
    {
        std::lock_guard lock(rereadMutex_);
        done = std::move(reread_);
    }
    if (done.joinable())
        done.join();
}

std::vector<MessageEntry> CFolderLists::Entries(int folder) const {
    if (!valid(folder))
        return {};
    std::lock_guard lock(mutex_);
    return lists_[folder];
}

std::size_t CFolderLists::Count(int folder) const {
    if (!valid(folder))
        return 0;
    std::lock_guard lock(mutex_);
    return lists_[folder].size();
}

int CFolderLists::AddEntry(int folder, const std::string& path) {
    CMessageTrailer t;
    int result = t.ReadForList(path);
    if (result == trailer::kNoTrailer || result == trailer::kDamaged)
        KORRIN_REPORT("Old File Found failed");
    MessageEntry entry = entryFor(path, t, result);
    if (!valid(folder))
        return 0;
    if (entry.busy)
        outOfDate_[folder].store(true);
    std::lock_guard lock(mutex_);
    lists_[folder].insert(lists_[folder].begin(), std::move(entry));
    ++changes_[folder];
    return 0;
}

int CFolderLists::RemoveEntry(int folder, const std::string& path, const std::string& formerPath) {
    CMessageTrailer t;
    SYSTEMTIME date;
    if (t.ReadDate(path, &date) != trailer::kRead)
        KORRIN_REPORT("Old File Found, or file corrupt : " + path);
    const std::int64_t seconds = secondsOf(date);
    if (valid(folder)) {
        std::lock_guard lock(mutex_);
        auto& list = lists_[folder];
        auto it = list.end();
        if (!formerPath.empty())
            it = std::find_if(list.begin(), list.end(),
                              [&](const MessageEntry& e) { return e.path == formerPath; });
        if (it == list.end())
            it = std::find_if(list.begin(), list.end(),
                              [&](const MessageEntry& e) { return secondsOf(e.date) == seconds; });
        if (it != list.end()) {
            list.erase(it);
            ++changes_[folder];
            return 0;
        }
        // A reread of the folder after the move already left the message out: the list and
        // the disk agree, nothing is missing.
        if (!formerPath.empty() && !platform::FileExists(formerPath))
            return 0;
    }
    KORRIN_REPORT("Message Object not found : " + path);
    return 1;
}

void CFolderLists::AfterMove(const std::string& placed, int destination, int source,
                             const std::string& formerPath) {
    if (destination != source) {
        AddEntry(destination, placed);
        if (!IsFolderNumber(source))
            KORRIN_REPORT("Removing from unknown folder.  This should never happen.");
        else if (!(source == kOutbox && destination == kSentItems && IsOutOfDate(kOutbox)))
            RemoveEntry(source, placed, formerPath);
    }
    Refresh();
}

void CFolderLists::SetView(IFolderView* view) {
    std::lock_guard lock(viewMutex_);
    view_.store(view);
}

void CFolderLists::Refresh() {
    std::lock_guard lock(viewMutex_);
    if (IFolderView* view = view_.load())
        view->ShowFolder(current_.load());
}

void CFolderLists::FreeAll() {
    WaitForScan();
    std::lock_guard lock(mutex_);
    for (auto& list : lists_)
        list.clear();
}

}  // namespace korrin
