#include "platform/ui/FileDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include "platform/seam/FileAnswers.h"

namespace korrin::platform {

std::string FileDialogFilter(const FileDialogSpec& spec) {
    std::string patterns;
    auto add = [&](const std::string& p) {
        if (patterns.find(p) != std::string::npos)
            return;
        if (!patterns.empty())
            patterns += ' ';
        patterns += p;
    };
    for (const std::string& p : spec.patterns) {
        add(QString::fromStdString(p).toLower().toStdString());
        add(QString::fromStdString(p).toUpper().toStdString());
    }
    // The visible name keeps its own pattern text; Qt reads the last parenthesis as the list.
    return spec.filterName + " (" + patterns + ")";
}

std::string GetFileName(QWidget* owner, const FileDialogSpec& spec, const SourceLocation& where) {
    if (FileAnswersScripted()) {
        std::string answer = TakeFileAnswer();
        LogFileAnswer(spec.title, spec.initialName, answer, where);
        return answer;
    }
    QFileDialog dialog(owner, QString::fromStdString(spec.title));
    dialog.setObjectName(QStringLiteral("file_dialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(spec.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(spec.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilter(QString::fromStdString(FileDialogFilter(spec)));
    if (!spec.defaultExtension.empty())
        dialog.setDefaultSuffix(QString::fromStdString(spec.defaultExtension));
    // The initial name may be a pattern ("*.wav") or a path; its folder is the start.
    const QFileInfo initial(QString::fromStdString(spec.initialName));
    if (!spec.initialName.empty() && initial.dir().exists())
        dialog.setDirectory(initial.dir());
    if (!initial.fileName().isEmpty() && !initial.fileName().contains(QLatin1Char('*')))
        dialog.selectFile(initial.fileName());
    std::string answer;
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        answer = dialog.selectedFiles().front().toStdString();
    LogFileAnswer(spec.title, spec.initialName, answer, where);
    return answer;
}

}  // namespace korrin::platform
