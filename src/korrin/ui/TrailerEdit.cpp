#include "korrin/ui/TrailerEdit.h"

#include "platform/ui/Dialog.h"

namespace korrin {

namespace {

std::string ansi(const QString& text) {
    QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace

void SetSubjectFromDlgItem(CMessageTrailer& trailer, const QWidget* dialog, int id) {
    trailer.SetSubjectFromEdit(ansi(platform::GetDlgItemText(dialog, id)));
}

void SetNoteFromDlgItem(CMessageTrailer& trailer, const QWidget* dialog, int id) {
    trailer.SetNoteFromEdit(ansi(platform::GetDlgItemText(dialog, id)));
}

}  // namespace korrin
