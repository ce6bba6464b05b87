#include "platform/ui/FileDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace korrin::platform {

std::string FileDialogFilter(const FileDialogRequest& request) {
    QStringList patterns;
    for (const QString& p : QString::fromStdString(request.patterns).split(QLatin1Char(';'))) {
        for (const QString& q : {p.trimmed().toLower(), p.trimmed().toUpper()})
            if (!q.isEmpty() && !patterns.contains(q))
                patterns << q;
    }
    // Qt takes the last parenthesis as the list; the visible name keeps its own.
    return request.filterName + " (" + patterns.join(QLatin1Char(' ')).toStdString() + ")";
}

std::optional<std::string> GetFileName(QWidget* owner, const FileDialogRequest& request) {
    if (FileAnswersScripted())
        return TakeFileAnswer(request);
    QFileDialog dialog(owner, QString::fromStdString(request.title));
    dialog.setObjectName(QStringLiteral("file_dialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilter(QString::fromStdString(FileDialogFilter(request)));
    if (!request.defaultExtension.empty())
        dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
    // The initial name may be a pattern ("*.wav") or a path; its folder is where it starts.
    const QFileInfo initial(QString::fromStdString(request.initialName));
    if (!request.initialName.empty() && initial.dir().exists())
        dialog.setDirectory(initial.dir());
    if (!initial.fileName().isEmpty() && !initial.fileName().contains(QLatin1Char('*')))
        dialog.selectFile(initial.fileName());
    std::optional<std::string> answer;
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        answer = dialog.selectedFiles().front().toStdString();
    LogFileAnswer(request, answer);
    return answer;
}

}  // namespace korrin::platform
