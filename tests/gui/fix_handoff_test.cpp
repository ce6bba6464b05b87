// The worker that fixes one file and the handoff that has the user-interface thread run the
// fixing for a thread reading a folder, over real files and the real launchers. No window is
// made: what is checked is who runs where and what crosses between the threads.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <thread>

#include "gui/FixFolderFixture.h"
#include "korrin/store/FolderList.h"
#include "korrin/ui/FixDlg.h"

using namespace korrin;
using namespace korrin::test;

namespace {

bool onUiThread() {
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

template <class Done>
void pumpUntil(Done done, int ms = 20000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

using FixHandoffTest = FixFolderTest;

TEST_F(FixHandoffTest, WorkerFixesOnItsThreadAndReportsOnTheUiThreadInOrder) {
    const std::string old = makeOld("KX1O.kx1");
    QObject context;
    std::vector<std::string> calls;
    bool allOnUi = true;
    FixResult got;
    CFixWorker worker(
        &context,
        [&](const std::string& path) {
            allOnUi = allOnUi && onUiThread();
            calls.push_back("started " + path);
        },
        [&](const FixResult& r) {
            allOnUi = allOnUi && onUiThread();
            calls.push_back("done");
            got = r;
        });
    worker.Start(old);
    pumpUntil([&] { return calls.size() == 2; });
    worker.Join();
    EXPECT_EQ(calls, (std::vector<std::string>{"started " + old, "done"}));
    EXPECT_TRUE(allOnUi);
    EXPECT_EQ(got.outcome, FixOutcome::kFixed);
    CMessageTrailer t;
    EXPECT_EQ(t.ReadForList(old), 0);
}

// The start-up scan meets old files in a folder: the fixing runs on the user-interface thread
// while the scan waits, and the scan lists what it came to.
TEST_F(FixHandoffTest, ScanWaitsForTheFixOnTheUiThreadAndListsTheResult) {
    for (const char* name : {"OUTBOX", "SENT", "DELETED"})
        makeFolder(name);
    const std::string folder = this->folder("OUTBOX");
    const std::string a = makeOld("KX1O.kx1"), b = makeOld("KX2O.kx1");
    for (const auto& p : {a, b})
        std::filesystem::rename(p, folder + "/" + std::filesystem::path(p).filename().string());

    std::atomic<int> runs{0};
    bool ranOnUi = false;
    QObject context;
    CFixHandoff handoff(&context, [&](const std::string& dir, const std::set<std::string>&) {
        ++runs;
        ranOnUi = onUiThread();
        FixResults results;
        for (const char* name : {"KX1O.kx1", "KX2O.kx1"}) {
            // One worker per file, as the dialog has it.
            std::atomic<bool> done{false};
            FixResult r;
            CFixWorker worker(
                &context, [](const std::string&) {},
                [&](const FixResult& fixed) {
                    r = fixed;
                    done = true;
                });
            worker.Start(dir + "/" + name);
            pumpUntil([&] { return done.load(); });
            results.push_back({dir + "/" + name, r});
        }
        return results;
    });
    CFolderLists lists;
    lists.SetFixer(&handoff);
    lists.StartScan();
    pumpUntil([&] { return lists.IsLoaded(); });
    lists.WaitForScan();
    EXPECT_EQ(runs.load(), 1);
    EXPECT_TRUE(ranOnUi);
    const auto rows = lists.Entries(kOutbox);
    ASSERT_EQ(rows.size(), 2u);
    for (const auto& row : rows)
        EXPECT_EQ(row.subject, "Subject " + std::filesystem::path(row.path).filename().string());
    lists.SetFixer(nullptr);
}

// A window closing while a reading thread waits for its fix lets that thread go.
TEST_F(FixHandoffTest, StopReleasesAThreadWaitingForTheUiThread) {
    QObject context;
    CFixHandoff handoff(&context, [](const std::string&, const std::set<std::string>&) {
        return FixResults{{"x", FixResult{FixOutcome::kFixed, "", false}}};
    });
    std::atomic<bool> stop{false};
    std::atomic<bool> returned{false};
    FixResults results{{"not yet", {}}};
    std::thread reader([&] {
        results = handoff.FixOldMessages("/nowhere", {}, stop);
        returned = true;
    });
    // The user-interface thread does not run events: only stop can release the reader.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(returned.load());
    stop = true;
    reader.join();
    EXPECT_TRUE(results.empty());
    // The queued call still comes and finds nobody waiting; that harms nothing.
    QCoreApplication::processEvents();
}

}  // namespace
