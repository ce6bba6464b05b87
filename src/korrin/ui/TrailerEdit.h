// Filling a message trailer from the composer's edit boxes, found by their numbers. Texts
// go into the trailer as ANSI (Latin-1; characters beyond it become '?').
#pragma once

#include <QWidget>

#include "korrin/store/Trailer.h"

namespace korrin {

// The subject: the first line of edit box `id` of `dialog`.
void SetSubjectFromDlgItem(CMessageTrailer& trailer, const QWidget* dialog, int id);
// The note: the banner followed by the whole text of multi-line box `id`, lines ended by CR LF.
void SetNoteFromDlgItem(CMessageTrailer& trailer, const QWidget* dialog, int id);

}  // namespace korrin
