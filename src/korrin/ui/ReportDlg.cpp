#include "korrin/ui/ReportDlg.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <cstdio>

#include "korrin/ui/Animate.h"
#include "korrin/ui/Resources.h"
#include "platform/shell/Shell.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/UiThread.h"

namespace korrin {

using namespace platform;

namespace {

constexpr const char* kIntroText =
    "An unexpected event has occurred.  This is usually based on some combination of software "
    "and hardware which is unique to your system.  Please report the following information to "
    "Quillion at";
constexpr const char* kTipIntroText =
    "Quillion EMail for Windows(tm) has determined that your system has not been tuned for "
    "optimum efficiency.  See the following tip to help you get your system in tiptop shape.";

// Places a control by dialog units, as the dialog templates do.
QLabel* iconLabel(QWidget* parent, int resource) {
    auto* label = new QLabel(parent);
    label->setPixmap(res::LoadBitmap(resource));
    label->setScaledContents(true);
    return label;
}

// Shows reports and boxes as dialogs; without a window system, as the console would.
class DialogSink : public ReportSink {
  public:
    void ShowReport(const ReportRecord& record, const std::string& productLabel) override {
        if (!HaveGui()) {
            std::fprintf(stderr, "%s: %s\n",
                         record.kind == ReportRecord::kTip ? kTipCaption : kReportCaption,
                         FormatReportLine(productLabel, record).c_str());
            return;
        }
        RunModalOnUiThread([&] {
            CEventReportDlg dlg(record, productLabel);
            dlg.DoModal();
        });
    }
    int ShowMessageBox(void* owner, const std::string& text, const std::string& caption,
                       unsigned type, const SourceLocation& where) override {
        return MessageBox(static_cast<QWidget*>(owner), text, caption, type, where);
    }
};

}  // namespace

void InstallDialogReportSink() {
    static DialogSink sink;
    InstallReportSink(&sink);
}

CEventReportDlg::CEventReportDlg(const ReportRecord& record, std::string productLabel)
    : CDialog(kResourceId), record_(record), productLabel_(std::move(productLabel)) {
    setWindowTitle(kReportCaption);
    setFixedSize(DialogUnitsToPixels(257, 153));

    auto* intro = PlaceControl(new QLabel(this), 7, 7, 243, 40, kIntroId);
    intro->setWordWrap(true);
    intro->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    PlaceControl(new QLabel(QStringLiteral("Message:"), this), 7, 50, 60, 9);
    auto* line = PlaceControl(new QPlainTextEdit(this), 7, 60, 243, 40, kReportLineId);
    line->setReadOnly(true);
    line->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    PlaceControl(iconLabel(this, res::kWebIcon), 7, 106, 14, 14, kWebIconId);
    PlaceControl(iconLabel(this, res::kTipIcon), 7, 106, 14, 14, kTipIconId)->hide();
    auto* web = PlaceControl(new QPushButton(QString::fromUtf8(vendor::kWebAddress), this), 27, 106,
                             160, 14);
    BindCommand(web, kWebButtonId);
    auto* mail = PlaceControl(new QPushButton(QString::fromUtf8(vendor::kSupportEmail), this), 27,
                              124, 160, 14);
    BindCommand(mail, kMailButtonId);
    auto* ok = PlaceControl(new QPushButton(QStringLiteral("OK"), this), 200, 132, 50, 14);
    ok->setDefault(true);
    BindCommand(ok, IDOK);
}

bool CEventReportDlg::OnInitDialog() {
    SetDlgItemText(this, kIntroId,
                   QStringLiteral("%1 %2:").arg(QString::fromUtf8(kIntroText),
                                                QString::fromUtf8(vendor::kSupportEmail)));
    if (record_.kind == ReportRecord::kTip) {
        setWindowTitle(kTipCaption);
        SetDlgItemText(this, kIntroId, QString::fromUtf8(kTipIntroText));
        GetDlgItem(this, kWebIconId)->hide();
        GetDlgItem(this, kTipIconId)->show();
        if (record_.buttonText)
            SetDlgItemText(this, kWebButtonId, QString::fromStdString(*record_.buttonText));
    }
    SetDlgItemText(this, kReportLineId,
                   QString::fromStdString(FormatReportLine(productLabel_, record_)));
    return true;
}

void CEventReportDlg::OnCommand(int id) {
    // A link that cannot be opened is not a failure worth another report.
    if (id == kWebButtonId) {
        if (record_.link)
            ShellExecute("open", *record_.link);
        else
            ShellExecute("", vendor::kWebAddress);
    } else if (id == kMailButtonId) {
        ShellExecute("", vendor::SupportMailLink());
    } else {
        CDialog::OnCommand(id);
    }
}

CAboutDlg::CAboutDlg(QWidget* parent) : CDialog(kResourceId, parent) {
    setWindowTitle(QStringLiteral("About Quillion EMail for Windows(tm)"));
    setFixedSize(480, 200);

    auto* product = new QLabel(QStringLiteral("Quillion EMail for Windows(tm)   V"), this);
    product->move(20, 22);
    product->adjustSize();
    // The version follows the product line directly, as one line of text.
    auto* version = new QLabel(QStringLiteral("X.X"), this);
    version->setGeometry(product->geometry().right() + 1, 22, 60, product->height());
    SetControlId(version, kVersionId);
    (new QLabel(QStringLiteral("Voice messages you record, send and hear by e-mail."), this))
        ->setGeometry(20, 45, 380, 20);
    (new QLabel(QStringLiteral("Copyright (C) Quillion.  All rights reserved."), this))
        ->setGeometry(20, 65, 380, 20);
    (new QLabel(QStringLiteral("Home Page: "), this))->setGeometry(20, 100, 80, 24);
    auto* web = new QPushButton(QString::fromUtf8(vendor::kWebAddress), this);
    web->setGeometry(100, 100, 240, 24);
    BindCommand(web, kWebButtonId);
    (new QLabel(QStringLiteral("Email:  "), this))->setGeometry(20, 130, 80, 24);
    auto* mail = new QPushButton(QString::fromUtf8(vendor::kSupportEmail), this);
    mail->setGeometry(100, 130, 240, 24);
    BindCommand(mail, kMailButtonId);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(390, 160, 70, 26);
    ok->setDefault(true);
    BindCommand(ok, IDOK);
}

CAboutDlg::~CAboutDlg() {
    if (animation_)
        animation_->Stop();
}

bool CAboutDlg::OnInitDialog() {
    SetDlgItemText(this, kVersionId, QString::fromUtf8(vendor::kVersion));
    std::vector<QPixmap> frames;
    for (int i = 0; i < res::kAboutFrameCount; ++i)
        frames.push_back(res::LoadBitmap(res::kAboutFirstFrame + i));
    delete animation_;
    animation_ = new CAnimateCtrl(this);
    animation_->setGeometry(QRect(QPoint(410, 80), QPoint(458, 128) - QPoint(1, 1)));
    animation_->SetFrames(std::move(frames));
    animation_->show();
    animation_->Start(kFrameMilliseconds);
    return true;
}

void CAboutDlg::OnCommand(int id) {
    if (id == kWebButtonId)
        ShellExecute("", vendor::kWebAddress);
    else if (id == kMailButtonId)
        ShellExecute("", vendor::SupportMailLink());
    else
        CDialog::OnCommand(id);
}

}  // namespace korrin
