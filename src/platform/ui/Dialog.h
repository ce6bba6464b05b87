// Dialogs whose controls are addressed by number, private window messages and window
// timers by id: what the windows of the program are written against.
//
// Every control that callers or tests need carries its number (SetControlId); GetDlgItem
// finds it again among a window's descendants, never inside another window (a message box or
// dialog) parented to it, whose controls carry numbers of their own. Numbers 1 (OK) and 2
// (Cancel) are the standard buttons.
#pragma once

#include <QDialog>
#include <QEvent>
#include <QRect>
#include <QString>

class QHBoxLayout;

#include <cstdint>
#include <functional>
#include <map>

#include "platform/seam/MessageSeam.h"

class QAbstractButton;
class QEventLoop;
class QTimer;

namespace korrin::platform {

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

constexpr unsigned WM_USER = 0x0400;

void SetControlId(QWidget* control, int id);
int ControlId(const QWidget* control);  // 0 when it has none
QWidget* GetDlgItem(const QWidget* window, int id);
template <class T>
T* GetDlgItemAs(const QWidget* window, int id) {
    return qobject_cast<T*>(GetDlgItem(window, id));
}
// Text of labels, buttons, line and multi-line edits, check boxes; false when no such control.
bool SetDlgItemText(QWidget* window, int id, const QString& text);
QString GetDlgItemText(const QWidget* window, int id);

// Dialog units of the dialog font to pixels (4 units across and 8 down per character cell).
QSize DialogUnitsToPixels(int cx, int cy);
QPoint DialogUnitsToPixels(QPoint p);
// Puts a control where a dialog template has it, in dialog units, and gives it its number when
// id is not 0.
template <class W>
W* PlaceControl(W* w, int x, int y, int cx, int cy, int id = 0) {
    w->setGeometry(QRect(DialogUnitsToPixels(QPoint(x, y)), DialogUnitsToPixels(cx, cy)));
    if (id)
        SetControlId(w, id);
    return w;
}

// A private window message, delivered as an event so it is queued like any other.
class WindowMessageEvent : public QEvent {
  public:
    WindowMessageEvent(unsigned msg, WPARAM wParam, LPARAM lParam)
        : QEvent(eventType()), msg(msg), wParam(wParam), lParam(lParam) {}
    static QEvent::Type eventType();
    const unsigned msg;
    const WPARAM wParam;
    const LPARAM lParam;
};

// Runs `call` later on the thread of `context`'s event loop, unless `context` is gone by then;
// safe from any thread. The hand-over is marked for ThreadSanitizer, which cannot see the locks
// of Qt's own queue.
void QueueCall(QObject* context, std::function<void()> call);

// Queues msg for target; safe from any thread. False when there is no target.
bool PostMessage(QObject* target, unsigned msg, WPARAM wParam = 0, LPARAM lParam = 0);
// Delivers msg at once on target's thread (waiting when called from another) and returns
// the handler's result; 0 when target does not handle window messages.
LRESULT SendMessage(QObject* target, unsigned msg, WPARAM wParam = 0, LPARAM lParam = 0);

// A dialog run modally by DoModal() until EndDialog(). OnInitDialog runs before the window
// is shown; a dialog that calls ShowWindow(false) there stays hidden while it runs (the main
// window does that when it is started on a file). A dialog deleted while it runs (its parent
// closing, say) ends DoModal with IDCANCEL, or with the result EndDialog gave it just before.
class CDialog : public QDialog {
  public:
    explicit CDialog(int resourceId, QWidget* parent = nullptr);
    ~CDialog() override;

    int resourceId() const { return resourceId_; }

    int DoModal();
    void EndDialog(int result);
    bool isRunning() const { return running_; }

    void ShowWindow(bool visible);
    bool PostMessage(unsigned msg, WPARAM wParam = 0, LPARAM lParam = 0);

    // Window timers by id; setting an id again restarts it with the new period.
    void SetTimer(int id, int milliseconds);
    void KillTimer(int id);

    // Gives the button its number and routes its clicks to OnCommand.
    void BindCommand(QAbstractButton* button, int id);
    // The row of buttons at a dialog's foot: room, then okText (IDOK, the default button) and
    // "Cancel" (IDCANCEL), each named for screen readers.
    QHBoxLayout* OkCancelRow(const QString& okText = QStringLiteral("OK"));

    // Where clicks, window messages and timers arrive. Public so a caller that owns the
    // dialog can route a command or message to it directly.
    virtual void OnCommand(int id);
    virtual LRESULT OnMessage(unsigned msg, WPARAM wParam, LPARAM lParam);

  protected:
    virtual bool OnInitDialog() { return true; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    virtual void OnTimer(int /*id*/) {}

    bool event(QEvent* e) override;
    void accept() override { OnOK(); }
    void reject() override { OnCancel(); }

  private:
    int resourceId_;
    bool running_ = false;
    bool visibleAfterInit_ = true;
    int result_ = IDCANCEL;
    QEventLoop* loop_ = nullptr;
    std::map<int, QTimer*> timers_;
};

}  // namespace korrin::platform
