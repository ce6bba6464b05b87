#include "platform/ui/Dialog.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTextEdit>
#include <QThread>
#include <QTimer>

namespace korrin::platform {

namespace {
constexpr const char* kIdProperty = "korrinControlId";

// What one thread hands another through Qt's queue: marked released before it is queued and
// acquired before it is read, so ThreadSanitizer sees the order Qt's hidden locks give.
#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
void HandedOver(void* what) {
    __tsan_release(what);
}
void TakenOver(void* what) {
    __tsan_acquire(what);
}
#else
void HandedOver(void*) {}
void TakenOver(void*) {}
#endif

class QueuedCallEvent : public QEvent {
  public:
    QueuedCallEvent(QObject* context, std::function<void()> call)
        : QEvent(eventType()), context(context), call(std::move(call)) {}
    static QEvent::Type eventType() {
        static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    QPointer<QObject> context;
    std::function<void()> call;
};

// Lives on the context's thread for one call, then goes.
class QueuedCallReceiver : public QObject {
  public:
    bool event(QEvent* e) override {
        TakenOver(e);  // before even its type is read
        if (e->type() != QueuedCallEvent::eventType())
            return QObject::event(e);
        auto* queued = static_cast<QueuedCallEvent*>(e);
        if (queued->context)
            queued->call();
        deleteLater();
        return true;
    }
};
}  // namespace

void SetControlId(QWidget* control, int id) {
    control->setProperty(kIdProperty, id);
    control->setObjectName(QStringLiteral("ctrl_%1").arg(id));
}

int ControlId(const QWidget* control) {
    QVariant v = control ? control->property(kIdProperty) : QVariant();
    return v.isValid() ? v.toInt() : 0;
}

namespace {

// Breadth first like findChild, but never into another window: a message box or dialog
// parented to this one numbers its own controls (1 and 2 among them).
QWidget* findControl(const QWidget* parent, const QString& name) {
    QList<const QWidget*> level{parent};
    while (!level.isEmpty()) {
        QList<const QWidget*> next;
        for (const QWidget* w : level) {
            for (QObject* child : w->children()) {
                auto* widget = qobject_cast<QWidget*>(child);
                if (!widget || widget->isWindow())
                    continue;
                if (widget->objectName() == name)
                    return widget;
                next.append(widget);
            }
        }
        level = std::move(next);
    }
    return nullptr;
}

}  // namespace

QWidget* GetDlgItem(const QWidget* window, int id) {
    if (!window)
        return nullptr;
    return findControl(window, QStringLiteral("ctrl_%1").arg(id));
}

bool SetDlgItemText(QWidget* window, int id, const QString& text) {
    QWidget* w = GetDlgItem(window, id);
    if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
        button->setText(text);
    else if (auto* line = qobject_cast<QLineEdit*>(w))
        line->setText(text);
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(w))
        plain->setPlainText(text);
    else if (auto* rich = qobject_cast<QTextEdit*>(w))
        rich->setPlainText(text);
    else
        return false;
    return true;
}

QString GetDlgItemText(const QWidget* window, int id) {
    QWidget* w = GetDlgItem(window, id);
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text();
    if (auto* line = qobject_cast<QLineEdit*>(w))
        return line->text();
    if (auto* plain = qobject_cast<QPlainTextEdit*>(w))
        return plain->toPlainText();
    if (auto* rich = qobject_cast<QTextEdit*>(w))
        return rich->toPlainText();
    return {};
}

// The dialog font is 8-point, whose character cell is about 6 x 13 pixels.
QSize DialogUnitsToPixels(int cx, int cy) {
    return QSize(cx * 6 / 4, cy * 13 / 8);
}
QPoint DialogUnitsToPixels(QPoint p) {
    return QPoint(p.x() * 6 / 4, p.y() * 13 / 8);
}

QEvent::Type WindowMessageEvent::eventType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void QueueCall(QObject* context, std::function<void()> call) {
    if (!context)
        return;
    auto* receiver = new QueuedCallReceiver;
    receiver->moveToThread(context->thread());
    auto* queued = new QueuedCallEvent(context, std::move(call));
    HandedOver(queued);
    QCoreApplication::postEvent(receiver, queued);
}

bool PostMessage(QObject* target, unsigned msg, WPARAM wParam, LPARAM lParam) {
    if (!target)
        return false;
    auto* message = new WindowMessageEvent(msg, wParam, lParam);
    HandedOver(message);
    QCoreApplication::postEvent(target, message);
    return true;
}

LRESULT SendMessage(QObject* target, unsigned msg, WPARAM wParam, LPARAM lParam) {
    auto* dialog = dynamic_cast<CDialog*>(target);
    if (!dialog)
        return 0;
    if (QThread::currentThread() == dialog->thread())
        return dialog->OnMessage(msg, wParam, lParam);
    LRESULT result = 0;
    QMetaObject::invokeMethod(
        dialog, [&] { result = dialog->OnMessage(msg, wParam, lParam); },
        Qt::BlockingQueuedConnection);
    return result;
}

CDialog::CDialog(int resourceId, QWidget* parent) : QDialog(parent), resourceId_(resourceId) {
    setObjectName(QStringLiteral("dialog_%1").arg(resourceId));
}

CDialog::~CDialog() {
    // Deleted while it runs (by its owner, or its parent going): the loop ends with Cancel
    // unless EndDialog already gave it its result.
    if (loop_ && running_)
        loop_->exit(IDCANCEL);
}

int CDialog::DoModal() {
    // The dialog may be deleted by anything its loop runs; after that only locals are used.
    QPointer<CDialog> self(this);
    running_ = true;
    result_ = IDCANCEL;
    visibleAfterInit_ = true;
    setWindowModality(Qt::ApplicationModal);
    OnInitDialog();
    if (!self)
        return IDCANCEL;
    if (running_) {
        if (visibleAfterInit_)
            show();
        QEventLoop loop;
        loop_ = &loop;
        const int ended = loop.exec(QEventLoop::DialogExec);
        if (!self)
            return ended;
        loop_ = nullptr;
    }
    for (auto& [id, timer] : timers_)
        delete timer;
    timers_.clear();
    hide();
    return result_;
}

void CDialog::EndDialog(int result) {
    result_ = result;
    running_ = false;
    hide();
    if (loop_)
        loop_->exit(result);
}

void CDialog::ShowWindow(bool visible) {
    visibleAfterInit_ = visible;
    if (running_ && loop_)
        setVisible(visible);
}

bool CDialog::PostMessage(unsigned msg, WPARAM wParam, LPARAM lParam) {
    return platform::PostMessage(this, msg, wParam, lParam);
}

void CDialog::SetTimer(int id, int milliseconds) {
    QTimer*& timer = timers_[id];
    if (!timer) {
        timer = new QTimer(this);
        QObject::connect(timer, &QTimer::timeout, this, [this, id] { OnTimer(id); });
    }
    timer->start(milliseconds);
}

void CDialog::KillTimer(int id) {
    auto it = timers_.find(id);
    if (it == timers_.end())
        return;
    delete it->second;
    timers_.erase(it);
}

void CDialog::BindCommand(QAbstractButton* button, int id) {
    SetControlId(button, id);
    QObject::connect(button, &QAbstractButton::clicked, this, [this, id] { OnCommand(id); });
}

QHBoxLayout* CDialog::OkCancelRow(const QString& okText) {
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    auto* ok = new QPushButton(okText);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"));
    ok->setDefault(true);
    ok->setAccessibleName(okText);
    cancel->setAccessibleName(cancel->text());
    BindCommand(ok, IDOK);
    BindCommand(cancel, IDCANCEL);
    row->addWidget(ok);
    row->addWidget(cancel);
    return row;
}

void CDialog::OnCommand(int id) {
    if (id == IDOK)
        OnOK();
    else if (id == IDCANCEL)
        OnCancel();
}

LRESULT CDialog::OnMessage(unsigned, WPARAM, LPARAM) {
    return 0;
}

bool CDialog::event(QEvent* e) {
    TakenOver(e);  // a window message posted by another thread, before even its type is read
    if (e->type() == WindowMessageEvent::eventType()) {
        auto* m = static_cast<WindowMessageEvent*>(e);
        OnMessage(m->msg, m->wParam, m->lParam);
        return true;
    }
    return QDialog::event(e);
}

}  // namespace korrin::platform
