// Two hidden seams for benchmarks and kill tests of the whole program.
//
// KORRIN_PROBE_LOG=FILE: a 10 ms timer watches the event loop. One line is appended to FILE
// when the main window first shows ("shown at_ms=T", T counted from the start of the
// process), one for every "mark" step of a window script and one at the end
// ("NAME longest_ms=G at_ms=T": G is the longest gap between two ticks since the last mark).
//
// KORRIN_SCRIPT=FILE: the steps of FILE (korrin/app/Requests.h) run one after another on the
// user-interface thread, also inside the modal loops of the boxes and dialogs they open.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "korrin/app/Requests.h"

class QWidget;

namespace korrin {

class CKorrinDlg;

class CStallProbe : public QObject {
  public:
    static constexpr int kPeriodMs = 10;

    explicit CStallProbe(std::FILE* log);
    ~CStallProbe() override;
    // From KORRIN_PROBE_LOG; null when it is not set or the file cannot be opened (said on
    // standard error).
    static std::unique_ptr<CStallProbe> FromEnvironment();

    // The first show of window is written down.
    void WatchShow(QWidget* window);
    // Ends a phase: its longest gap is written under name and the next phase starts.
    void Mark(const std::string& name);
    // Milliseconds since the process started.
    static std::int64_t SinceProcessStart();

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    void tick();

    std::FILE* log_;
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = -1;
    qint64 longest_ = 0;
    bool shown_ = false;
};

class CWindowScript : public QObject {
  public:
    static constexpr int kMoveDialogWaitMs = 1000;

    CWindowScript(CKorrinDlg& dlg, std::vector<ScriptStep> steps, CStallProbe* probe);

    // From KORRIN_SCRIPT. Null when it is not set; *error is set when the file cannot be read
    // or a line is wrong ("line N: why").
    static std::unique_ptr<CWindowScript> FromEnvironment(CKorrinDlg& dlg, CStallProbe* probe,
                                                          std::string* error);

  private:
    void tick();
    bool ready(const ScriptStep& step);
    void run(const ScriptStep& step);
    void dragRow(int row, int folder);

    CKorrinDlg& dlg_;
    std::vector<ScriptStep> steps_;
    CStallProbe* probe_;
    std::size_t next_ = 0;
    QTimer timer_;
    QElapsedTimer sleepClock_;
    bool sleeping_ = false;
    bool starting_ = false;  // a step is on its way to run
};

}  // namespace korrin
