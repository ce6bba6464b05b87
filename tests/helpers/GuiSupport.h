// Driving windows the way a person would, offscreen: wait for a window to appear, then read
// and press its controls by number.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

#include "platform/ui/Dialog.h"

namespace korrin::test {

// Once a visible top-level window whose object name is `name` shows up, runs act on it (on
// the user-interface thread, from inside whatever modal loop is running). When it has not
// appeared after timeoutMs the test fails at once, naming the window, and every open dialog is
// closed so that the modal loop waiting for it ends instead of hanging; *seen tells whether it
// ran.
inline void WhenShown(const QString& name, std::function<void(QWidget*)> act,
                      std::shared_ptr<bool> seen = nullptr, int timeoutMs = 10000) {
    auto* timer = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->objectName() == name) {
                timer->stop();
                timer->deleteLater();
                if (seen)
                    *seen = true;
                act(w);
                return;
            }
        }
        if (clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "window '" << name.toStdString() << "' did not appear within "
                          << timeoutMs << " ms";
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible())
                    d->reject();
        }
    });
    timer->start(20);
}

inline void Click(QWidget* window, int id) {
    if (auto* b = platform::GetDlgItemAs<QAbstractButton>(window, id))
        b->click();
}

inline int VisibleTopLevelCount(const QString& name) {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->objectName() == name)
            ++n;
    return n;
}

}  // namespace korrin::test
