// The program's pictures by resource number, drawn when asked for so that no image files
// need shipping: the program icon (129), the web and tip icons of the report dialog (171,
// 173) and the eight frames of the About box animation (180 to 187, 48 x 48 pixels).
#pragma once

#include <QIcon>
#include <QPixmap>

namespace korrin::res {

constexpr int kProgramIcon = 129;
constexpr int kWebIcon = 171;
constexpr int kTipIcon = 173;
constexpr int kAboutFirstFrame = 180;
constexpr int kAboutFrameCount = 8;

// A null pixmap for a number that is not one of ours.
QPixmap LoadBitmap(int id);
QIcon LoadIcon(int id);

}  // namespace korrin::res
