#include "korrin/ui/WindowScript.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QMouseEvent>
#include <QTreeWidget>

#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "korrin/store/Folders.h"
#include "korrin/ui/KorrinDlg.h"
#include "korrin/ui/MessageList.h"
#include "korrin/ui/TransmitDlg.h"

namespace korrin {

// ---- the stall probe

CStallProbe::CStallProbe(std::FILE* log) : log_(log) {
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
    timer_.start(kPeriodMs);
    clock_.start();
}

CStallProbe::~CStallProbe() {
    Mark("end");
    std::fclose(log_);
}

std::unique_ptr<CStallProbe> CStallProbe::FromEnvironment() {
    const char* path = std::getenv("KORRIN_PROBE_LOG");
    if (!path || !*path)
        return nullptr;
    std::FILE* log = std::fopen(path, "ae");
    if (!log) {
        std::fprintf(stderr, "korrin: cannot write the probe log %s\n", path);
        return nullptr;
    }
    return std::make_unique<CStallProbe>(log);
}

std::int64_t CStallProbe::SinceProcessStart() {
    // The start time is in clock ticks after boot; the boot clock counts from the same point.
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t paren = text.rfind(')');
    if (paren == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(paren + 2));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
    }
    const long ticks = sysconf(_SC_CLK_TCK);
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const std::int64_t startMs = std::strtoll(field.c_str(), nullptr, 10) * 1000 / ticks;
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000 - startMs;
}

void CStallProbe::WatchShow(QWidget* window) {
    window->installEventFilter(this);
}

bool CStallProbe::eventFilter(QObject* watched, QEvent* e) {
    if (!shown_ && e->type() == QEvent::Show) {
        shown_ = true;
        std::fprintf(log_, "shown at_ms=%lld\n", static_cast<long long>(SinceProcessStart()));
        std::fflush(log_);
    }
    return QObject::eventFilter(watched, e);
}

void CStallProbe::tick() {
    const qint64 now = clock_.elapsed();
    if (last_ >= 0 && now - last_ > longest_)
        longest_ = now - last_;
    last_ = now;
}

void CStallProbe::Mark(const std::string& name) {
    tick();  // the gap up to now counts for the phase that ends
    std::fprintf(log_, "%s longest_ms=%lld at_ms=%lld\n", name.c_str(),
                 static_cast<long long>(longest_), static_cast<long long>(SinceProcessStart()));
    std::fflush(log_);
    longest_ = 0;
}

// ---- the window script

CWindowScript::CWindowScript(CKorrinDlg& dlg, std::vector<ScriptStep> steps, CStallProbe* probe)
    : dlg_(dlg), steps_(std::move(steps)), probe_(probe) {
    connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
    timer_.start(5);
}

std::unique_ptr<CWindowScript> CWindowScript::FromEnvironment(CKorrinDlg& dlg, CStallProbe* probe,
                                                              std::string* error) {
    const char* path = std::getenv("KORRIN_SCRIPT");
    if (!path || !*path)
        return nullptr;
    std::ifstream in(path);
    if (!in) {
        *error = std::string("cannot read ") + path;
        return nullptr;
    }
    std::vector<ScriptStep> steps;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        ScriptStep step;
        std::string why;
        if (!ParseScriptLine(line, &step, &why)) {
            *error = std::string(path) + " line " + std::to_string(number) + ": " + why;
            return nullptr;
        }
        if (!step.verb.empty())
            steps.push_back(std::move(step));
    }
    return std::make_unique<CWindowScript>(dlg, std::move(steps), probe);
}

void CWindowScript::tick() {
    if (starting_)
        return;
    if (next_ >= steps_.size()) {
        timer_.stop();
        return;
    }
    const ScriptStep& step = steps_[next_];
    if (!ready(step))
        return;
    ++next_;
    // The step runs outside this timer's call: a timer is not called again while its call
    // runs, and a step that opens a modal loop must leave the timer free to run the next
    // steps from inside that loop.
    starting_ = true;
    QTimer::singleShot(0, this, [this, step] {
        starting_ = false;
        run(step);
    });
}

namespace {

QDialog* openDialog(int resourceId) {
    const QString name = QStringLiteral("dialog_%1").arg(resourceId);
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name && w->isVisible())
            return qobject_cast<QDialog*>(w);
    return nullptr;
}

}  // namespace

bool CWindowScript::ready(const ScriptStep& step) {
    const std::string& verb = step.verb;
    if (verb == "loaded")
        return dlg_.lists().IsLoaded();
    if (verb == "rows")
        return dlg_.lists().CurrentFolder() == step.numbers[0] &&
               dlg_.pane()->model()->rowCount() == step.numbers[1];
    if (verb == "idle")
        return !dlg_.transmitWindow()->session().IsTransmitting();
    if (verb == "move-to") {
        // A Move that asked something else instead (no selection, a session running) opens
        // no dialog: the step gives up after a while and the script goes on.
        if (!sleeping_) {
            sleeping_ = true;
            sleepClock_.start();
        }
        if (openDialog(175) == nullptr && sleepClock_.elapsed() < kMoveDialogWaitMs)
            return false;
        sleeping_ = false;
        return true;
    }
    if (verb == "sleep") {
        if (!sleeping_) {
            sleeping_ = true;
            sleepClock_.start();
        }
        if (sleepClock_.elapsed() < step.numbers[0])
            return false;
        sleeping_ = false;
    }
    return true;
}

void CWindowScript::run(const ScriptStep& step) {
    const std::string& verb = step.verb;
    const int n = step.numbers.empty() ? 0 : static_cast<int>(step.numbers[0]);
    CFolderPane* pane = dlg_.pane();
    if (verb == "folder") {
        pane->tree()->setCurrentItem(n == 0 ? pane->tree()->topLevelItem(0)
                                            : pane->tree()->FolderItem(n));
    } else if (verb == "stale") {
        dlg_.lists().MarkOutOfDate(n);
    } else if (verb == "row") {
        CMessageListView* list = pane->list();
        list->setCurrentIndex(list->model()->index(n, 0));
    } else if (verb == "command") {
        dlg_.OnCommand(n);
    } else if (verb == "move-to") {
        if (QDialog* move = openDialog(175)) {
            if (auto* tree = move->findChild<QTreeWidget*>(QStringLiteral("ctrl_1045"))) {
                QTreeWidgetItem* root = tree->topLevelItem(0);
                tree->setCurrentItem(n >= 1 && n <= 3 && root ? root->child(n - 1) : root);
            }
            move->accept();
        }
    } else if (verb == "drag") {
        dragRow(n, static_cast<int>(step.numbers[1]));
    } else if (verb == "open") {
        dlg_.OpenHandedOver(step.text);
    } else if (verb == "minute") {
        CTransmitDlg& session = dlg_.transmitWindow()->session();
        session.SetMinuteMilliseconds(n);
        session.StartOutboxTimer();
    } else if (verb == "mark") {
        if (probe_)
            probe_->Mark(step.text);
    } else if (verb == "quit") {
        dlg_.EndWithoutAsking();
    }
}

// Press on the row, move past the drag distance, move over the folder and let go, as a mouse
// does.
void CWindowScript::dragRow(int row, int folder) {
    CFolderPane* pane = dlg_.pane();
    CMessageListView* list = pane->list();
    CFolderTree* tree = pane->tree();
    QTreeWidgetItem* item = tree->FolderItem(folder);
    const QModelIndex index = list->model()->index(row, 1);
    if (!item || !index.isValid())
        return;
    QWidget* viewport = list->viewport();
    const QPoint start = list->visualRect(index).center();
    const QPoint target =
        viewport->mapFromGlobal(tree->viewport()->mapToGlobal(tree->visualItemRect(item).center()));
    auto mouse = [&](QEvent::Type type, QPoint local, Qt::MouseButtons buttons) {
        QMouseEvent e(type, local, viewport->mapToGlobal(local),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                      Qt::NoModifier);
        QApplication::sendEvent(viewport, &e);
    };
    mouse(QEvent::MouseButtonPress, start, Qt::LeftButton);
    mouse(QEvent::MouseMove, start + QPoint(QApplication::startDragDistance() + 10, 0),
          Qt::LeftButton);
    mouse(QEvent::MouseMove, target, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, target, Qt::NoButton);
}

}  // namespace korrin
