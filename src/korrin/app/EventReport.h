// Telling the user about failures: the "Unexpected Event" report that names the module and
// line where a failure was detected, its "Tuning Agent" tip form, and the two plain message
// boxes with the vendor's contact details.
//
// The core only builds the report and its log line; showing it is the job of the report sink.
// The program installs the dialog sink at start-up; without one (korrinctl, tests of the core)
// the console sink prints to stderr and takes the scripted answers. Every report and box is
// written to the message log the same way whichever sink shows it.
//
// Reports and boxes may be made from any thread. In the program, one from a worker runs on the
// user-interface thread and blocks only that worker until the user presses OK; reports from
// several workers are shown one after another.
#pragma once

#include <optional>
#include <string>

#include "korrin/app/Vendor.h"
#include "platform/seam/MessageSeam.h"

namespace korrin {

// One report, alive while it is shown.
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

// Shows reports and boxes. Called on the thread that reports; an implementation that needs
// the user-interface thread hands the work over itself.
class ReportSink {
  public:
    virtual ~ReportSink() = default;
    // Returns once the user has dismissed the report.
    virtual void ShowReport(const ReportRecord& record, const std::string& productLabel) = 0;
    // owner is the window the box belongs to (a QWidget* in the program), or null. Logs the
    // box and returns the answer (IDOK, IDYES, ...).
    virtual int ShowMessageBox(void* owner, const std::string& text, const std::string& caption,
                               unsigned type, const platform::SourceLocation& where) = 0;
};

// Installs the sink every later report and box goes through; null puts the console sink back.
// The sink must outlive its installation. Call before any worker starts.
void InstallReportSink(ReportSink* sink);

// A message box through the installed sink: logged, scripted or shown.
int AppMessageBox(void* owner, const std::string& text, const std::string& caption, unsigned type,
                  const platform::SourceLocation& where = platform::SourceLocation::current());

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

}  // namespace korrin

// Reports a failure with the calling module's name and line.
#define KORRIN_REPORT(message) \
    ::korrin::CEventReport().Report((message), ::korrin::platform::ModuleName(__FILE__), __LINE__)
