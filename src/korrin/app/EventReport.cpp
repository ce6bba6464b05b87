#include "korrin/app/EventReport.h"

#include <atomic>
#include <cstdio>

namespace korrin {

using namespace platform;

namespace {

// Without a window system: the report line and the box text go to stderr, each box takes its
// default button.
class ConsoleSink : public ReportSink {
  public:
    void ShowReport(const ReportRecord& record, const std::string& productLabel) override {
        std::fprintf(stderr, "%s: %s\n",
                     record.kind == ReportRecord::kTip ? kTipCaption : kReportCaption,
                     FormatReportLine(productLabel, record).c_str());
    }
    int ShowMessageBox(void*, const std::string& text, const std::string& caption, unsigned type,
                       const SourceLocation& where) override {
        return ConsoleMessageBox(text, caption, type, where);
    }
};

ConsoleSink gConsoleSink;
std::atomic<ReportSink*> gSink{&gConsoleSink};

}  // namespace

void InstallReportSink(ReportSink* sink) {
    gSink.store(sink ? sink : &gConsoleSink);
}

int AppMessageBox(void* owner, const std::string& text, const std::string& caption, unsigned type,
                  const SourceLocation& where) {
    return gSink.load()->ShowMessageBox(owner, text, caption, type, where);
}

std::string FormatReportLine(const std::string& productLabel, const ReportRecord& r) {
    return productLabel + " V" + vendor::kVersion + ", " + r.message + "," + r.sourceFile + ":" +
           std::to_string(r.line);
}

CEventReport::CEventReport(std::string productLabel) : productLabel_(std::move(productLabel)) {}

void CEventReport::Report(const std::string& message, const std::string& sourceFile, int line) {
    ReportRecord record{message, ModuleName(sourceFile), line, ReportRecord::kError, {}, {}};
    show(record);
}

void CEventReport::ReportTip(const std::string& message, const std::string& sourceFile, int line,
                             const std::optional<std::string>& buttonText,
                             const std::optional<std::string>& link) {
    ReportRecord record{message, ModuleName(sourceFile), line, ReportRecord::kTip, buttonText,
                        link};
    show(record);
}

void CEventReport::show(ReportRecord& record) {
    SeamRecord seam;
    seam.kind = record.kind == ReportRecord::kTip ? "tip" : "report";
    seam.caption = record.kind == ReportRecord::kTip ? kTipCaption : kReportCaption;
    seam.icon = "none";
    seam.buttons = ButtonsName(MB_OK);
    seam.text = record.message;
    seam.source = record.sourceFile;
    seam.line = record.line;
    seam.detail = FormatReportLine(productLabel_, record);
    if (record.kind == ReportRecord::kTip)
        seam.detail += " | " + record.buttonText.value_or("") + " | " + record.link.value_or("");

    int answer = IDOK;
    if (AnswersScripted())
        answer = TakeScriptedAnswer(MB_OK);
    else
        gSink.load()->ShowReport(record, productLabel_);
    seam.answer = AnswerName(answer);
    LogSeamRecord(seam);
}

std::string CEventReport::PlainBoxText(const std::string& text) {
    return text + ". Questions: " + vendor::kSupportEmail + ", " + vendor::kWebAddress;
}

int CEventReport::ShowError(const std::string& text, const SourceLocation& where) {
    return AppMessageBox(nullptr, PlainBoxText(text), vendor::kPlainBoxCaption, MB_OK | MB_ICONSTOP,
                         where);
}

int CEventReport::ShowInformation(const std::string& text, const SourceLocation& where) {
    return AppMessageBox(nullptr, PlainBoxText(text), vendor::kPlainBoxCaption,
                         MB_OK | MB_ICONINFORMATION, where);
}

}  // namespace korrin
