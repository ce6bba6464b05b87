#include "platform/ui/MessageBox.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include "platform/ui/Dialog.h"
#include "platform/ui/UiThread.h"

namespace korrin::platform {

namespace {

QMessageBox::Icon qtIcon(unsigned type) {
    switch (type & MB_ICONMASK) {
        case MB_ICONSTOP:
            return QMessageBox::Critical;
        case MB_ICONQUESTION:
            return QMessageBox::Question;
        case MB_ICONEXCLAMATION:
            return QMessageBox::Warning;
        case MB_ICONINFORMATION:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

struct ButtonSpec {
    int answer;
    QMessageBox::StandardButton standard;
};

std::vector<ButtonSpec> buttonsOf(unsigned type) {
    switch (type & MB_TYPEMASK) {
        case MB_OKCANCEL:
            return {{IDOK, QMessageBox::Ok}, {IDCANCEL, QMessageBox::Cancel}};
        case MB_ABORTRETRYIGNORE:
            return {{IDABORT, QMessageBox::Abort},
                    {IDRETRY, QMessageBox::Retry},
                    {IDIGNORE, QMessageBox::Ignore}};
        case MB_YESNOCANCEL:
            return {{IDYES, QMessageBox::Yes},
                    {IDNO, QMessageBox::No},
                    {IDCANCEL, QMessageBox::Cancel}};
        case MB_YESNO:
            return {{IDYES, QMessageBox::Yes}, {IDNO, QMessageBox::No}};
        case MB_RETRYCANCEL:
            return {{IDRETRY, QMessageBox::Retry}, {IDCANCEL, QMessageBox::Cancel}};
        case MB_CONTINUEABORT:  // Qt has no Continue button: Ok relabelled
            return {{IDCONTINUE, QMessageBox::Ok}, {IDABORT, QMessageBox::Abort}};
        default:
            return {{IDOK, QMessageBox::Ok}};
    }
}

int showBox(QWidget* owner, const std::string& text, const std::string& caption, unsigned type) {
    QMessageBox box(qtIcon(type), QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::NoButton, owner);
    box.setObjectName(QStringLiteral("messagebox"));
    if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
        SetControlId(label, kMessageBoxTextId);
    const int defaultAnswer = DefaultAnswer(type);
    std::map<QAbstractButton*, int> answers;
    for (const auto& button : buttonsOf(type)) {
        QAbstractButton* b = box.addButton(button.standard);
        SetControlId(b, button.answer);
        if (button.answer == IDCONTINUE)
            b->setText(QStringLiteral("Continue"));
        answers[b] = button.answer;
        if (button.answer == defaultAnswer)
            box.setDefaultButton(qobject_cast<QPushButton*>(b));
    }
    // Escape and the close button answer Cancel where the box has it, else its default.
    int escapeAnswer = AnswerFits(type, IDCANCEL) ? IDCANCEL : defaultAnswer;
    if ((type & MB_TYPEMASK) == MB_YESNO)
        escapeAnswer = IDNO;
    for (auto& [b, a] : answers)
        if (a == escapeAnswer)
            box.setEscapeButton(b);
    box.exec();
    auto it = answers.find(box.clickedButton());
    return it != answers.end() ? it->second : escapeAnswer;
}

}  // namespace

int MessageBox(QWidget* owner, const std::string& text, const std::string& caption, unsigned type,
               const SourceLocation& where) {
    if (AnswersScripted() || !HaveGui())
        return ConsoleMessageBox(text, caption, type, where);
    SeamRecord record = BoxRecord(text, caption, type, where);
    int answer = DefaultAnswer(type);
    QPointer<QWidget> safeOwner(owner);
    RunModalOnUiThread([&] { answer = showBox(safeOwner.data(), text, caption, type); });
    record.answer = AnswerName(answer);
    LogSeamRecord(record);
    return answer;
}

}  // namespace korrin::platform
