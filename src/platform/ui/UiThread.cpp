#include "platform/ui/UiThread.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QThread>

#include <condition_variable>
#include <deque>
#include <exception>
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
    enum State { kQueued, kRunning, kDone };
    const std::function<void()>* fn;
    State state = kQueued;
    std::exception_ptr error;
};

// The queue of jobs from workers and what the user-interface thread is doing. Everything but
// gModalBusy is guarded by gModalMutex; gModalChanged wakes the waiting workers.
std::mutex gModalMutex;
std::condition_variable gModalChanged;
std::deque<ModalJob*> gModalQueue;
int gUiWaiting = 0;       // UiWaitsForWorkers scopes open on the user-interface thread
bool gUiEnding = false;   // the application is quitting or gone
bool gModalBusy = false;  // user-interface thread only
// Wakes the user-interface thread to run the queue: workers write to it, a socket notifier
// there reads it. Nothing a worker allocates passes to that thread behind a lock of Qt's own,
// which ThreadSanitizer could not see. -1 while no application serves the queue.
int gWakeFd = -1;

// Jobs that have not started are not waited for: the user-interface thread will not serve
// them (it is ending, or blocked waiting for the very workers that queued them).
bool answeredByDefault() {
    return gUiEnding || gUiWaiting > 0;
}

void setEnding(bool ending, int wakeFd) {
    {
        std::lock_guard lock(gModalMutex);
        gUiEnding = ending;
        gWakeFd = wakeFd;
    }
    gModalChanged.notify_all();
}

void drainModalQueue();

// Runs when an application object is made (and at once for one that exists already).
void watchApplication() {
    QCoreApplication* app = QCoreApplication::instance();
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        setEnding(true, -1);  // no way to be woken: workers take their defaults
        return;
    }
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [fd] {
        eventfd_t count = 0;
        ::eventfd_read(fd, &count);
        drainModalQueue();
    });
    QObject::connect(notifier, &QObject::destroyed, [fd] { ::close(fd); });
    setEnding(false, fd);
    // The application's children, the notifier among them, go after its destroyed signal.
    QObject::connect(app, &QCoreApplication::aboutToQuit, [fd] { setEnding(true, fd); });
    QObject::connect(app, &QObject::destroyed, [] { setEnding(true, -1); });
}

// Runs the queued jobs in order. A job's dialog runs a nested loop that may call this again;
// that call finds the queue busy and leaves the next job to the outer loop here. What a job
// throws goes to the worker that queued it.
void drainModalQueue() {
    if (gModalBusy)
        return;
    gModalBusy = true;
    for (;;) {
        ModalJob* job;
        {
            std::lock_guard lock(gModalMutex);
            if (gModalQueue.empty() || gUiEnding)
                break;
            job = gModalQueue.front();
            gModalQueue.pop_front();
            job->state = ModalJob::kRunning;
        }
        std::exception_ptr error;
        try {
            (*job->fn)();
        } catch (...) {
            error = std::current_exception();
        }
        {
            // Handed over whole: the worker alone may drop the last reference.
            std::lock_guard lock(gModalMutex);
            job->error = std::move(error);
            job->state = ModalJob::kDone;
        }
        gModalChanged.notify_all();
    }
    gModalBusy = false;
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(watchApplication)

bool RunModalOnUiThread(const std::function<void()>& fn) {
    if (OnUiThread()) {
        fn();
        return true;
    }
    ModalJob job{&fn, ModalJob::kQueued, nullptr};
    std::unique_lock lock(gModalMutex);
    if (answeredByDefault() || gWakeFd < 0)
        return false;
    gModalQueue.push_back(&job);
    if (::eventfd_write(gWakeFd, 1) != 0) {
        std::erase(gModalQueue, &job);
        return false;
    }
    gModalChanged.wait(lock, [&] {
        return job.state == ModalJob::kDone ||
               (job.state == ModalJob::kQueued && answeredByDefault());
    });
    if (job.state == ModalJob::kQueued) {
        std::erase(gModalQueue, &job);
        return false;
    }
    if (job.error)
        std::rethrow_exception(job.error);
    return true;
}

UiWaitsForWorkers::UiWaitsForWorkers() : active_(OnUiThread()) {
    if (!active_)
        return;
    {
        std::lock_guard lock(gModalMutex);
        ++gUiWaiting;
    }
    gModalChanged.notify_all();
}

UiWaitsForWorkers::~UiWaitsForWorkers() {
    if (!active_)
        return;
    std::lock_guard lock(gModalMutex);
    --gUiWaiting;
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
