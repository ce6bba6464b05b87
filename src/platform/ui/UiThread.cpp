#include "platform/ui/UiThread.h"

#include <QApplication>
#include <QThread>

#include <deque>
#include <future>
#include <mutex>

namespace korrin::platform {

bool HaveGui() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

bool OnUiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void RunOnUiThread(const std::function<void()>& fn) {
    if (OnUiThread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), fn, Qt::BlockingQueuedConnection);
}

namespace {

struct ModalJob {
    const std::function<void()>* fn;
    std::promise<void> done;
};

std::mutex gModalMutex;
std::deque<ModalJob*> gModalQueue;
bool gModalBusy = false;  // user-interface thread only

// Runs the queued jobs in order. A job's dialog runs a nested loop that may call this again;
// that call finds the queue busy and leaves the next job to the outer loop here.
void drainModalQueue() {
    if (gModalBusy)
        return;
    gModalBusy = true;
    for (;;) {
        ModalJob* job;
        {
            std::lock_guard lock(gModalMutex);
            if (gModalQueue.empty())
                break;
            job = gModalQueue.front();
            gModalQueue.pop_front();
        }
        (*job->fn)();
        job->done.set_value();
    }
    gModalBusy = false;
}

}  // namespace

void RunModalOnUiThread(const std::function<void()>& fn) {
    if (OnUiThread()) {
        fn();
        return;
    }
    ModalJob job{&fn, {}};
    std::future<void> done = job.done.get_future();
    {
        std::lock_guard lock(gModalMutex);
        gModalQueue.push_back(&job);
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), drainModalQueue, Qt::QueuedConnection);
    done.wait();
}

CWaitCursor::CWaitCursor() {
    if (HaveGui() && OnUiThread()) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        active_ = true;
    }
}

CWaitCursor::~CWaitCursor() {
    if (active_)
        QApplication::restoreOverrideCursor();
}

}  // namespace korrin::platform
