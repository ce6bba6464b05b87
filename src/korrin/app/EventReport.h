// Telling the user about failures: the "Unexpected Event" report that names the module and
// line where a failure was detected, its "Tuning Agent" tip form, the two plain message boxes
// with the vendor's contact details, and the About box.
//
// Reports and boxes may be made from any thread. From a worker they run on the user-interface
// thread and block only that worker until the user presses OK; reports from several workers
// are shown one after another. A worker must not report while the user-interface thread waits
// for that worker to end.
#pragma once

#include <optional>
#include <string>

#include "app/Vendor.h"
#include "platform/ui/Dialog.h"

namespace korrin {

class CAnimateCtrl;

// One report, alive while its dialog is open.
struct ReportRecord {
    enum Kind { kError = 1, kTip = 2 };
    std::string message;
    std::string sourceFile;  // the module name, "Utils"
    int line = 0;
    Kind kind = kError;
    std::optional<std::string> buttonText;  // tips only
    std::optional<std::string> link;        // tips only
};

inline constexpr const char* kReportCaption = "Quillion - Unexpected Event";
inline constexpr const char* kTipCaption = "Quillion EMail for Windows(tm) Tuning Agent";

// "%s V%s, %s,%s:%d": product label, version, message, source file, line.
std::string FormatReportLine(const std::string& productLabel, const ReportRecord& record);

class CEventReport {
  public:
    // The library keeps its own product label; the program uses the default.
    explicit CEventReport(std::string productLabel = vendor::kProductLabel);

    void Report(const std::string& message, const std::string& sourceFile, int line);
    void ReportTip(const std::string& message, const std::string& sourceFile, int line,
                   const std::optional<std::string>& buttonText,
                   const std::optional<std::string>& link);

    // "<text>. Questions: <support>, <web>" with the stop or information icon, no owner.
    int ShowError(const std::string& text,
                  const platform::SourceLocation& where = platform::SourceLocation::current());
    int ShowInformation(const std::string& text, const platform::SourceLocation& where =
                                                     platform::SourceLocation::current());

    static std::string PlainBoxText(const std::string& text);

  private:
    void show(ReportRecord& record);
    std::string productLabel_;
};

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

// Reports a failure with the calling module's name and line.
#define KORRIN_REPORT(message) \
    ::korrin::CEventReport().Report((message), ::korrin::platform::ModuleName(__FILE__), __LINE__)
