// The windows of error reporting: the report dialog, the About box, and the dialog sink that
// shows reports and message boxes on the user-interface thread.
#pragma once

#include <string>

#include "korrin/app/EventReport.h"
#include "platform/ui/Dialog.h"

namespace korrin {

class CAnimateCtrl;

// Installs the sink that shows reports as CEventReportDlg and boxes as message boxes (on the
// user-interface thread, one after another). Called once at start-up, before any worker runs.
void InstallDialogReportSink();

// The report dialog (resource 154). Runs modally on the user-interface thread.
class CEventReportDlg : public platform::CDialog {
  public:
    static constexpr int kResourceId = 154;
    static constexpr int kIntroId = 1008;
    static constexpr int kReportLineId = 1073;
    static constexpr int kWebButtonId = 1072;
    static constexpr int kWebIconId = 1052;
    static constexpr int kMailButtonId = 1076;
    static constexpr int kTipIconId = 1053;

    CEventReportDlg(const ReportRecord& record, std::string productLabel);

    void OnCommand(int id) override;

  protected:
    bool OnInitDialog() override;

  private:
    const ReportRecord& record_;
    std::string productLabel_;
};

// The About box (resource 164).
class CAboutDlg : public platform::CDialog {
  public:
    static constexpr int kResourceId = 164;
    static constexpr int kVersionId = 1012;
    static constexpr int kWebButtonId = 1072;
    static constexpr int kMailButtonId = 1073;
    static constexpr int kFrameMilliseconds = 250;

    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

    void OnCommand(int id) override;
    CAnimateCtrl* animation() const { return animation_; }

  protected:
    bool OnInitDialog() override;

  private:
    CAnimateCtrl* animation_ = nullptr;
};

}  // namespace korrin
