// A QApplication of the test's own, for tests of the dialog layer that link no windows of the
// program: made before the test and gone after it, as in a program that starts and ends.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <functional>

namespace korrin::test {

class AppTest : public ::testing::Test {
  protected:
    // Serves events until done() or timeoutMs; false on timeout.
    static bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
        QElapsedTimer clock;
        clock.start();
        while (!done()) {
            if (clock.elapsed() > timeoutMs)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return true;
    }

  private:
    int argc_ = 1;
    char name_[16] = "korrin_test";
    char* argv_[2] = {name_, nullptr};
    QApplication app_{argc_, argv_};
};

}  // namespace korrin::test
