// Boxes asked for by worker threads: a job that throws, and boxes the user-interface thread
// will not serve because it is waiting for those workers or the application is quitting.
#include <QMessageBox>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "helpers/AppFixture.h"
#include "helpers/GuiSupport.h"
#include "helpers/TestSupport.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/UiThread.h"

using namespace korrin::platform;
using namespace korrin::test;

namespace {

const QString kBox = QStringLiteral("messagebox");

// A worker with a bounded join, so that a fault shows as a failure instead of a hang.
class Worker {
  public:
    explicit Worker(std::function<void()> fn)
        : thread_([this, fn = std::move(fn)] {
              fn();
              done_ = true;
          }) {}
    ~Worker() {
        if (thread_.joinable())
            thread_.detach();  // only after a failure: it may never return
    }
    bool done() const { return done_; }
    // Blocks without serving events, as a user-interface thread joining a worker does.
    bool JoinWithin(int ms) {
        for (int waited = 0; !done_; waited += 5) {
            if (waited > ms)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        thread_.join();
        return true;
    }

  private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

class ModalFromWorkers : public AppTest {
  protected:
    TempDir dir_;
    ScopedEnv noScript_{"KORRIN_MESSAGE_ANSWERS", std::nullopt};
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("log")};

    std::vector<std::string> answersLogged() {
        std::vector<std::string> answers;
        for (const auto& line : ReadLines(dir_.file("log")))
            answers.push_back(JsonField(line, "answer"));
        return answers;
    }
};

TEST_F(ModalFromWorkers, AJobThatThrowsReachesItsWorkerAndLaterBoxesStillShow) {
    WhenShown(kBox, [](QWidget* w) { Click(w, IDNO); });
    std::atomic<bool> caught{false};
    std::atomic<int> answer{0};
    Worker worker([&] {
        try {
            RunModalOnUiThread([] { throw std::runtime_error("no window"); });
        } catch (const std::runtime_error& e) {
            caught = std::string(e.what()) == "no window";
        }
        answer = MessageBox(nullptr, "Send them now?", "c", MB_YESNO);
    });
    ASSERT_TRUE(PumpUntil([&] { return worker.done(); })) << "the worker hangs";
    EXPECT_TRUE(worker.JoinWithin(1000));
    EXPECT_TRUE(caught);
    EXPECT_EQ(answer, IDNO) << "the box after the failed job was shown and answered";
}

TEST_F(ModalFromWorkers, QueuedBoxesTakeTheirDefaultWhileTheUiThreadWaitsForTheirWorker) {
    std::atomic<int> queued{0}, asked{0}, later{0};
    Worker first(
        [&] { queued = MessageBox(nullptr, "Stop sending?", "c", MB_YESNO | MB_DEFBUTTON2); });
    // Mostly queued by now; either way it must not wait for a thread that is not serving it.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    {
        UiWaitsForWorkers waiting;
        ASSERT_TRUE(first.JoinWithin(10000)) << "the worker waits for the thread waiting for it";
        Worker second([&] { asked = MessageBox(nullptr, "Retry?", "c", MB_RETRYCANCEL); });
        ASSERT_TRUE(second.JoinWithin(10000));
    }
    EXPECT_EQ(queued, IDNO);
    EXPECT_EQ(asked, IDRETRY);
    // Nothing was left behind to pop up later; once served again, boxes show as usual.
    WhenShown(kBox, [](QWidget* w) { Click(w, IDYES); });
    Worker third([&] { later = MessageBox(nullptr, "Send them now?", "c", MB_YESNO); });
    ASSERT_TRUE(PumpUntil([&] { return third.done(); }));
    EXPECT_TRUE(third.JoinWithin(1000));
    EXPECT_EQ(later, IDYES);
    EXPECT_EQ(answersLogged(), (std::vector<std::string>{"No", "Retry", "Yes"}));
}

TEST_F(ModalFromWorkers, QueuedBoxesTakeTheirDefaultWhenTheApplicationQuits) {
    std::atomic<int> answer{0};
    std::unique_ptr<Worker> worker;
    QTimer::singleShot(0, [&] {
        worker = std::make_unique<Worker>([&] {
            answer = MessageBox(nullptr, "Keep the draft?", "c", MB_YESNOCANCEL | MB_DEFBUTTON3);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        QCoreApplication::exit(0);
    });
    QCoreApplication::exec();
    ASSERT_TRUE(worker);
    ASSERT_TRUE(worker->JoinWithin(10000)) << "the worker waits for a thread that has ended";
    EXPECT_EQ(answer, IDCANCEL);
    EXPECT_EQ(VisibleTopLevelCount(kBox), 0);
    // After the end nothing is shown either: a late box takes its default at once.
    Worker late([&] { answer = MessageBox(nullptr, "Quit?", "c", MB_OKCANCEL); });
    ASSERT_TRUE(late.JoinWithin(10000));
    EXPECT_EQ(answer, IDOK);
    EXPECT_EQ(answersLogged(), (std::vector<std::string>{"Cancel", "OK"}));
}

}  // namespace
